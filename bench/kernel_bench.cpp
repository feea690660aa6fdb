// Single-threaded SGEMM of the kernel libraries on the per-block products of a
// row-blocked epoch, for the four benchmark workloads:
//   forward    C (B x m)  = X_block (B x k) · W (k x m)
//   dweights   dW (k x m) += X_block^T · D_block (B x m), accumulated over the blocks (beta = 1)
//   dinputs    dX (B x k) = D_block (B x m) · W^T
// Each line is one pass over all of a layer's rows, block by block (the last
// block holds the remainder), best of several passes:
//   kernel_bench [min_seconds_per_case]
// Candidates besides the bundled OpenBLAS are linked with the CMake options
// BRENIK_BENCH_MKL_DIR, BRENIK_BENCH_LIBXSMM and BRENIK_BENCH_BLIS.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "filled_matrix.hpp"
#include "kernel_candidates/candidates.hpp"

namespace {

struct Workload {
    const char* name;
    size_t samples;
    std::vector<int> sizes;
};

const Workload workloads[] = {
    {"W1", 10000, {20, 64, 64, 1}},
    {"W2", 60000, {784, 128, 10}},
    {"W3", 300, {2, 64, 3}},
    {"W4", 2000, {512, 512, 512, 1}},
};

enum class Product { forward, dweights, dinputs };
const char* product_name(Product p) {
    return p == Product::forward ? "forward" : p == Product::dweights ? "dweights" : "dinputs";
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The shape of one block's product of `rows` rows.
GemmShape block_shape(Product p, int rows, int k, int m) {
    switch (p) {
        case Product::forward: return {rows, m, k, false, false, k, m, m, 0.0f};
        case Product::dweights: return {k, m, rows, true, false, k, m, m, 1.0f};
        case Product::dinputs: return {rows, k, m, false, true, m, m, k, 0.0f};
    }
    return {};
}

// Operands of one layer: X (N x k), W (k x m), D (N x m), and the results.
struct Operands {
    Matrix x, w, d, out, dw, dx;
};

// Seconds of the best pass over all rows in blocks of `block` rows, or a
// negative value when the candidate has no kernel for a block's shape.
double best_pass(const Candidate& candidate, Product p, Operands& o, size_t samples, int k, int m, size_t block,
                 double min_seconds) {
    size_t full_blocks = samples / block, tail = samples % block;
    Gemm main_gemm = candidate.prepare(block_shape(p, int(block), k, m));
    Gemm tail_gemm = tail > 0 ? candidate.prepare(block_shape(p, int(tail), k, m)) : Gemm();
    if (!main_gemm || (tail > 0 && !tail_gemm)) return -1.0;
    auto pass = [&] {
        for (size_t b = 0; b <= full_blocks; ++b) {
            size_t first = b * block;
            if (b == full_blocks && tail == 0) break;
            const Gemm& gemm = b < full_blocks ? main_gemm : tail_gemm;
            const float* xb = o.x.data.data() + first * k;
            const float* db = o.d.data.data() + first * m;
            switch (p) {
                case Product::forward: gemm(xb, o.w.data.data(), o.out.data.data() + first * m); break;
                case Product::dweights: gemm(xb, db, o.dw.data.data()); break;
                case Product::dinputs: gemm(db, o.w.data.data(), o.dx.data.data() + first * k); break;
            }
        }
    };
    pass();  // warm-up: kernels generated, pages touched
    double best = 1e30;
    auto begin = std::chrono::steady_clock::now();
    for (int runs = 0; runs < 3 || seconds_since(begin) < min_seconds; ++runs) {
        std::fill(o.dw.data.begin(), o.dw.data.end(), 0.0f);
        auto start = std::chrono::steady_clock::now();
        pass();
        best = std::min(best, seconds_since(start));
    }
    return best;
}

// Products of the candidates agree up to the rounding of their summation orders.
bool close_to(const std::vector<float>& result, const std::vector<float>& reference) {
    for (size_t i = 0; i < result.size(); ++i)
        if (std::fabs(result[i] - reference[i]) > 1e-3f * (1.0f + std::fabs(reference[i]))) return false;
    return true;
}

void peak(const std::vector<Candidate>& candidates, double min_seconds) {
    const int n = 512;
    Matrix a = filled(n, n, 1), b = filled(n, n, 2), c(n, n);
    double flops = 2.0 * n * n * n;
    auto time_of = [&](const Gemm& gemm) {
        gemm(a.data.data(), b.data.data(), c.data.data());
        double best = 1e30;
        auto begin = std::chrono::steady_clock::now();
        for (int runs = 0; runs < 5 || seconds_since(begin) < min_seconds; ++runs) {
            auto start = std::chrono::steady_clock::now();
            gemm(a.data.data(), b.data.data(), c.data.data());
            best = std::min(best, seconds_since(start));
        }
        return best;
    };
    GemmShape square{n, n, n, false, false, n, n, n, 0.0f};
    for (const Candidate& candidate : candidates)
        std::printf("peak %s 1 thread: %.1f GFLOP/s\n", candidate.name.c_str(),
                    flops / time_of(candidate.prepare(square)) / 1e9);
    set_openblas_threads(2);
    std::printf("peak openblas 2 threads: %.1f GFLOP/s\n", flops / time_of(candidates[0].prepare(square)) / 1e9);
    set_openblas_threads(1);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    double min_seconds = argc > 1 ? std::atof(argv[1]) : 0.1;
    std::vector<Candidate> candidates = linked_candidates();
    peak(candidates, min_seconds);
    const size_t blocks[] = {64, 128, 256, 512, 0};  // 0: all rows in one product
    std::printf("%-4s %-9s %-9s %-6s", "work", "layer", "product", "block");
    for (const Candidate& c : candidates) std::printf(" %9s", c.name.c_str());
    std::printf("   (GFLOP/s)\n");
    for (const Workload& w : workloads) {
        for (size_t layer = 0; layer + 1 < w.sizes.size(); ++layer) {
            int k = w.sizes[layer], m = w.sizes[layer + 1];
            size_t n = w.samples;
            Operands o{filled(n, k, 1), filled(k, m, 2), filled(n, m, 3), Matrix(n, m), Matrix(k, m), Matrix(n, k)};
            for (Product p : {Product::forward, Product::dweights, Product::dinputs}) {
                if (p == Product::dinputs && layer == 0) continue;  // training drops the first layer's
                for (size_t block : blocks) {
                    size_t rows = block == 0 ? n : std::min(block, n);
                    if (block > n) continue;
                    char layer_text[32], block_text[16];
                    std::snprintf(layer_text, sizeof layer_text, "%dx%d", k, m);
                    std::snprintf(block_text, sizeof block_text, block == 0 ? "all" : "%zu", rows);
                    std::printf("%-4s %-9s %-9s %-6s", w.name, layer_text, product_name(p), block_text);
                    std::vector<float> reference;
                    for (const Candidate& c : candidates) {
                        double seconds = best_pass(c, p, o, n, k, m, rows, min_seconds);
                        double gflops = 2.0 * double(n) * k * m / seconds / 1e9;
                        const Matrix& result = p == Product::forward ? o.out : p == Product::dweights ? o.dw : o.dx;
                        if (reference.empty()) reference = result.data;
                        if (seconds < 0) std::printf(" %9s", "-");
                        else if (!close_to(result.data, reference)) std::printf(" %9s", "WRONG");
                        else std::printf(" %9.1f", gflops);
                    }
                    std::printf("\n");
                    std::fflush(stdout);
                }
            }
        }
    }
    return 0;
}
