// Times the three products of a dense layer through brenik's BLAS wrapper on the
// shapes of the benchmark workloads. One line per product:
//   name m n k transpose_a transpose_b best_seconds median_seconds best_gflops
//   gemm_bench [min_seconds [name...]]   (no names: every product)
// bench/gemm_vs_numpy.py runs this and the same products through numpy.matmul.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "blas.hpp"
#include "filled_matrix.hpp"

namespace {

struct Product {
    const char* name;
    size_t m, n, k;
    Transpose ta, tb;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Operands are stored as a dense layer holds them: op(a) is m x k, op(b) is k x n.
void run(const Product& p, double min_seconds) {
    Matrix a = p.ta == Transpose::yes ? filled(p.k, p.m, 1) : filled(p.m, p.k, 1);
    Matrix b = p.tb == Transpose::yes ? filled(p.n, p.k, 2) : filled(p.k, p.n, 2);
    Matrix c;
    matmul_into(c, a, p.ta, b, p.tb);  // warm-up: threads started, c allocated
    std::vector<double> times;
    auto begin = std::chrono::steady_clock::now();
    while (times.size() < 5 || (seconds_since(begin) < min_seconds && times.size() < 1000)) {
        auto start = std::chrono::steady_clock::now();
        matmul_into(c, a, p.ta, b, p.tb);
        times.push_back(seconds_since(start));
    }
    std::sort(times.begin(), times.end());
    double best = times.front(), median = times[times.size() / 2];
    double gflops = 2.0 * double(p.m) * double(p.n) * double(p.k) / best / 1e9;
    std::printf("%s %zu %zu %zu %d %d %.6e %.6e %.1f\n", p.name, p.m, p.n, p.k, p.ta == Transpose::yes,
                p.tb == Transpose::yes, best, median, gflops);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    double min_seconds = argc > 1 ? std::atof(argv[1]) : 1.0;
    const Transpose N = Transpose::no, T = Transpose::yes;
    // forward: inputs . weights; dweights: inputs^T . dvalues; dinputs: dvalues . weights^T
    const Product products[] = {
        {"w2_784x128_forward", 60000, 128, 784, N, N},
        {"w2_784x128_dweights", 784, 128, 60000, T, N},
        {"w2_784x128_dinputs", 60000, 784, 128, N, T},
        {"w2_128x10_forward", 60000, 10, 128, N, N},
        {"w2_128x10_dweights", 128, 10, 60000, T, N},
        {"w2_128x10_dinputs", 60000, 128, 10, N, T},
        {"w4_512x512_forward", 2000, 512, 512, N, N},
        {"w4_512x512_dweights", 512, 512, 2000, T, N},
        {"w4_512x512_dinputs", 2000, 512, 512, N, T},
        {"w1_64x64_forward", 10000, 64, 64, N, N},
        {"w1_64x64_dweights", 64, 64, 10000, T, N},
        {"w1_64x64_dinputs", 10000, 64, 64, N, T},
        {"w1_20x64_forward", 10000, 64, 20, N, N},
        {"w1_20x64_dweights", 20, 64, 10000, T, N},
        {"w1_64x1_forward", 10000, 1, 64, N, N},
        {"w1_64x1_dweights", 64, 1, 10000, T, N},
        {"w1_64x1_dinputs", 10000, 64, 1, N, T},
        {"w1_64x64_validation", 2000, 64, 64, N, N},
        {"w3_2x64_forward", 300, 64, 2, N, N},
        {"w3_64x3_forward", 300, 3, 64, N, N},
        {"w3_64x3_dinputs", 300, 64, 3, N, T},
        {"w4_512x1_forward", 2000, 1, 512, N, N},
        {"w4_512x512_validation", 500, 512, 512, N, N},
    };
    for (const Product& p : products) {
        bool chosen = argc <= 2;
        for (int i = 2; i < argc; ++i) chosen = chosen || std::strcmp(argv[i], p.name) == 0;
        if (chosen) run(p, min_seconds);
    }
    return 0;
}
