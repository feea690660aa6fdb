// A model file that loads is then used the way a script would: evaluated,
// and trained for two epochs with each optimiser kind, on small fixed data.
// A file can carry any shapes (weights against n_inputs, biases, optimiser
// state, masks); refusing them with a Panic is fine, and so is bad_alloc for
// sizes beyond memory. A crash, a sanitizer report or any other exception is
// a finding.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <string_view>
#include <vector>

#include "model/categorical.hpp"
#include "model/file_json.hpp"
#include "model/linear.hpp"
#include "optimizer/dyn_optimizer.hpp"
#include "panic.hpp"

namespace {

// Layers that ask for more weights than this are not trained: their cost,
// not their handling, would dominate the run.
constexpr uint64_t max_weights = 1 << 14;

bool small_enough(const std::vector<Layer>& layers) {
    for (const Layer& layer : layers) {
        if (layer.n_inputs > max_weights || layer.n_neurons > max_weights) return false;
        if (layer.n_inputs * layer.n_neurons > max_weights) return false;
    }
    return true;
}

// Three samples of up to eight features; the first layer's n_inputs (when
// small) picks how many, so that many files get past the first product.
struct Data {
    std::vector<float> x;
    size_t cols;
    float y[3] = {0.5f, -1.0f, 2.0f};
    int32_t labels[3] = {0, 1, 0};

    template <class Model>
    explicit Data(const Model& model) {
        cols = 2;
        if (!model.layers.empty() && model.layers[0].n_inputs <= 8) cols = model.layers[0].n_inputs;
        for (size_t k = 0; k < 3 * cols; ++k) x.push_back(float(int(k % 7) - 3) * 0.25f);
    }
    StridedView<float> x_view() const {
        return {x.data(), 3, cols, ptrdiff_t(cols), 1};
    }
    StridedView<float> y_view() const { return {y, 3, 1, 1, 1}; }
    StridedView<int32_t> label_view() const { return {labels, 3, 1, 1, 1}; }
};

const StridedView<float> no_validation{nullptr, 0, 0, 0, 1};

template <class Body>
void refusal_allowed(Body body) {
    try {
        body();
    } catch (const Panic&) {
    } catch (const std::bad_alloc&) {
    }
}

void run(LinearModel model) {
    model.save_best_params.clear();  // no files
    Data data(model);
    RunHooks hooks;
    refusal_allowed([&] { evaluate_linear_model(model, data.x_view(), data.y_view(), hooks); });
    if (!small_enough(model.layers)) return;
    for (const char* opt_type : {"adam", "tf_adam", "sgd"}) {
        DynamicOptimizer opt = create_optimizer(opt_type, 0.01f, 0.1f);
        refusal_allowed([&] {
            train_linear_model(model, opt, 2, 1, data.x_view(), data.y_view(), data.x_view(),
                               data.y_view(), hooks);
        });
    }
    refusal_allowed([&] {
        train_linear_model(model, create_optimizer("adam", 0.01f, 0.0f), 2, 1, data.x_view(),
                           data.y_view(), no_validation, data.y_view(), hooks);
    });
}

void run(CategoricalModel model) {
    model.save_best_params.clear();
    Data data(model);
    RunHooks hooks;
    refusal_allowed(
        [&] { evaluate_categorical_model(model, data.x_view(), data.label_view(), hooks); });
    if (!small_enough(model.layers)) return;
    for (const char* opt_type : {"adam", "tf_adam", "sgd"}) {
        DynamicOptimizer opt = create_optimizer(opt_type, 0.01f, 0.1f);
        refusal_allowed([&] {
            train_categorical_model(model, opt, 2, 1, data.x_view(), data.label_view(),
                                    data.x_view(), data.label_view(), hooks);
        });
    }
}

template <class Model>
void load_and_run(std::string_view text, Model (*parse)(std::string_view)) {
    Model model;
    try {
        model = parse(text);
    } catch (const Panic&) {
        return;
    }
    run(std::move(model));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The printed lines go nowhere; a closed descriptor would end every run
    // at its first line instead.
    int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) ::dup2(null_fd, 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    load_and_run<LinearModel>(text, parse_linear_model);
    load_and_run<CategoricalModel>(text, parse_categorical_model);
    return 0;
}
