// Times whole training calls of the benchmark workloads in C++, without the
// Python layer, for profiling (perf record / perf stat / callgrind):
//   epoch_bench W1|W2|W3|W4 [epochs [element-wise variant]]
// Prints the workload and the mean time of one epoch. The variant ("x86-64",
// "x86-64-v3", "x86-64-v4") replaces the widest one the CPU runs.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "elementwise.hpp"
#include "model/categorical.hpp"
#include "model/linear.hpp"
#include "filled_matrix.hpp"

namespace {

struct Workload {
    const char* name;
    bool classification;
    size_t samples, validation_samples;
    std::vector<uint64_t> sizes;
    uint16_t epochs;
};

const Workload workloads[] = {
    {"W1", false, 10000, 2000, {20, 64, 64, 1}, 50},
    {"W2", true, 60000, 10000, {784, 128, 10}, 5},
    {"W3", true, 300, 100, {2, 64, 3}, 20000},
    {"W4", false, 2000, 500, {512, 512, 512, 1}, 20},
};

StridedView<float> strided_view_of(const Matrix& m) { return {m.data.data(), m.rows, m.cols, ptrdiff_t(m.cols), 1}; }

template <class T>
StridedView<T> strided_view_of(const std::vector<T>& v) {
    return {v.data(), v.size(), 1, 1, 1};
}

template <class Model>
void add_layers(Model& model, const std::vector<uint64_t>& sizes) {
    for (size_t i = 0; i + 1 < sizes.size(); ++i)
        model.layers.push_back(build_layer({sizes[i], sizes[i + 1], "dense", i + 2 < sizes.size() ? "relu" : ""}));
}

}  // namespace

int main(int argc, char** argv) {
    const Workload* w = nullptr;
    for (const Workload& candidate : workloads)
        if (argc > 1 && std::strcmp(argv[1], candidate.name) == 0) w = &candidate;
    if (w == nullptr) {
        std::fprintf(stderr, "usage: epoch_bench W1|W2|W3|W4 [epochs]\n");
        return 2;
    }
    uint16_t epochs = argc > 2 ? uint16_t(std::atoi(argv[2])) : w->epochs;
    if (argc > 3) {
        ElementwiseVariants supported = supported_elementwise_variants();
        bool found = false;
        for (size_t v = 0; v < supported.count; ++v)
            if (std::strcmp(argv[3], supported.variants[v]->name) == 0) {
                use_elementwise_variant(*supported.variants[v]);
                found = true;
            }
        if (!found) {
            std::fprintf(stderr, "epoch_bench: this CPU does not run the variant %s\n", argv[3]);
            return 2;
        }
    }
    Matrix x = filled(w->samples, w->sizes.front(), 1);
    Matrix val_x = filled(w->validation_samples, w->sizes.front(), 2);
    DynamicOptimizer opt = create_optimizer("adam", 0.001f, 0.0f);
    auto start = std::chrono::steady_clock::now();
    if (w->classification) {
        LabelVector y(x.rows), val_y(val_x.rows);
        for (size_t i = 0; i < y.size(); ++i) y[i] = int32_t(i % w->sizes.back());
        for (size_t i = 0; i < val_y.size(); ++i) val_y[i] = int32_t(i % w->sizes.back());
        CategoricalModel model = create_categorical_model("softmax", "");
        add_layers(model, w->sizes);
        train_categorical_model(model, opt, epochs, 65535, strided_view_of(x), strided_view_of(y), strided_view_of(val_x), strided_view_of(val_y),
                                {});
    } else {
        Vector y(x.rows), val_y(val_x.rows);
        for (size_t i = 0; i < y.size(); ++i) y[i] = x.at(i, 0);
        for (size_t i = 0; i < val_y.size(); ++i) val_y[i] = val_x.at(i, 0);
        LinearModel model = create_linear_model("linear", "");
        add_layers(model, w->sizes);
        train_linear_model(model, opt, epochs, 65535, strided_view_of(x), strided_view_of(y), strided_view_of(val_x), strided_view_of(val_y), {});
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s %u epochs, %s: %.3f us per epoch\n", w->name, unsigned(epochs), elementwise().name,
                seconds / epochs * 1e6);
    return 0;
}
