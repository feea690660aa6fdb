// Times the element-wise passes of every variant this CPU runs on the shapes
// of the benchmark workloads, interleaved, best of several rounds:
//   elementwise_bench [rounds]
// One line per pass: microseconds per call for each variant and the speed-up
// of each against the baseline. In-place passes run on their own last output.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "elementwise.hpp"
#include "filled_matrix.hpp"

namespace {

struct Pass {
    std::string name;
    std::function<void(const ElementwiseKernels&)> run;
};

double microseconds_per_call(const std::function<void(const ElementwiseKernels&)>& run, const ElementwiseKernels& k) {
    using Clock = std::chrono::steady_clock;
    run(k);  // warm-up
    int calls = 0;
    auto start = Clock::now();
    double elapsed = 0.0;
    while (elapsed < 0.02) {
        run(k);
        ++calls;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    }
    return elapsed / calls * 1e6;
}

// The operands of one pass over a rows x cols matrix, owned by the pass.
struct Arrays {
    Matrix a, b, c, d;
    Vector row;
    explicit Arrays(size_t rows, size_t cols)
        : a(filled(rows, cols, 1)), b(filled(rows, cols, 2)), c(filled(rows, cols, 3)), d(rows, cols, 0.0f),
          row(cols, 0.5f) {}
};

std::vector<Pass> passes() {
    std::vector<Pass> list;
    auto add = [&](std::string name, size_t rows, size_t cols, auto body) {
        auto arrays = std::make_shared<Arrays>(rows, cols);
        char shape[32];
        std::snprintf(shape, sizeof shape, " %zux%zu", rows, cols);
        list.push_back({name + shape, [arrays, body](const ElementwiseKernels& k) { body(k, *arrays); }});
    };
    for (auto [rows, cols] : {std::pair<size_t, size_t>{10000, 64}, {2000, 512}, {60000, 128}, {300, 64}}) {
        add("add_bias_relu", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.add_bias_relu(x.d.data.data(), rows, cols, x.row.data());
        });
        add("add_bias_relu_copy", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.add_bias_relu_copy(x.c.data.data(), x.d.data.data(), rows, cols, x.row.data());
        });
        add("relu_gradient_column_sums", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.relu_gradient_column_sums(x.a.data.data(), cols, x.d.data.data(), rows, cols, x.row.data());
        });
    }
    for (auto [rows, cols] : {std::pair<size_t, size_t>{10000, 1}, {60000, 10}, {300, 3}}) {
        add("add_bias", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.add_bias(x.d.data.data(), rows, cols, x.row.data());
        });
        add("add_column_sums", rows, cols,
            [=](const ElementwiseKernels& k, Arrays& x) { k.add_column_sums(x.a.data.data(), cols, rows, cols, x.row.data()); });
    }
    for (auto [rows, cols] : {std::pair<size_t, size_t>{60000, 10}, {300, 3}}) {
        add("softmax", rows, cols,
            [=](const ElementwiseKernels& k, Arrays& x) { k.softmax(x.a.data.data(), x.d.data.data(), rows, cols); });
        add("crossentropy divide", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.divide(x.a.data.data(), float(rows), x.d.data.data(), rows * cols);
        });
    }
    for (auto [rows, cols] : {std::pair<size_t, size_t>{10000, 1}, {2000, 1}}) {
        add("mean_squared_error_gradient", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.mean_squared_error_gradient(x.a.data.data(), x.b.data.data(), rows, cols, 1.0f, float(rows),
                                          x.d.data.data());
        });
    }
    add("dropout multiply", 10000, 64, [](const ElementwiseKernels& k, Arrays& x) {
        k.multiply(x.a.data.data(), x.b.data.data(), x.d.data.data(), x.a.size());
    });
    AdamStep adam{0.9f, 0.1f, 0.271f, 0.999f, 0.001f, 0.002997f, -0.001f, 1e-7f};
    TfAdamStep tf_adam{0.9f, 0.1f, 0.999f, 0.001f, 0.0316f, 1e-7f};
    for (auto [rows, cols] : {std::pair<size_t, size_t>{64, 64}, {784, 128}, {512, 512}}) {
        add("adam", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.adam(adam, x.a.size(), x.a.data.data(), x.b.data.data(), x.c.data.data(), x.d.data.data());
        });
        add("tf_adam", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.tf_adam(tf_adam, x.a.size(), x.a.data.data(), x.b.data.data(), x.c.data.data(), x.d.data.data());
        });
        add("sgd", rows, cols, [=](const ElementwiseKernels& k, Arrays& x) {
            k.sgd(-0.001f, x.a.size(), x.a.data.data(), x.d.data.data());
        });
    }
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
    ElementwiseVariants supported = supported_elementwise_variants();
    std::printf("%-38s", "pass (us per call)");
    for (size_t v = 0; v < supported.count; ++v) std::printf(" %10s", supported.variants[v]->name);
    for (size_t v = 1; v < supported.count; ++v) std::printf("   speed-up %s", supported.variants[v]->name);
    std::printf("\n");
    for (const Pass& pass : passes()) {
        std::vector<double> best(supported.count, 1e30);
        for (int round = 0; round < rounds; ++round)
            for (size_t v = 0; v < supported.count; ++v)
                best[v] = std::min(best[v], microseconds_per_call(pass.run, *supported.variants[v]));
        std::printf("%-38s", pass.name.c_str());
        for (double t : best) std::printf(" %10.2f", t);
        for (size_t v = 1; v < supported.count; ++v) std::printf("   %19.2fx", best[0] / best[v]);
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
