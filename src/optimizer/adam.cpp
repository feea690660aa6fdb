#include "optimizer/adam.hpp"

#include <cmath>

#include "elementwise.hpp"
#include "shape_check.hpp"
#include "thread_pool.hpp"

namespace {

// Weights updated per task of the pool: every element is updated by itself,
// so the split changes no result.
constexpr size_t parameters_per_task = 32768;

// t = iterations + 1 in 32-bit integers (wrapping), then as a float.
float step_number(int32_t iterations) { return float(int32_t(uint32_t(iterations) + 1u)); }

void require_state_shapes(const Layer& layer) {
    require_same_shape(layer.dweights, "dweights", layer.weights, "weights");
    require_same_shape(layer.weight_momentums, "weight_momentums", layer.weights, "weights");
    require_same_shape(layer.weight_cache, "weight_cache", layer.weights, "weights");
    require_same_length(layer.dbiases, "dbiases", layer.biases, "biases");
    require_same_length(layer.bias_momentums, "bias_momentums", layer.biases, "biases");
    require_same_length(layer.bias_cache, "bias_cache", layer.biases, "biases");
}

}  // namespace

void adam_update(const DynamicOptimizer& opt, Layer& layer) {
    if (layer.weight_cache.rows == 0 && layer.weight_cache.cols == 0) {
        layer.weight_momentums = Matrix(layer.weights.rows, layer.weights.cols);
        layer.weight_cache = Matrix(layer.weights.rows, layer.weights.cols);
        layer.bias_momentums.assign(layer.biases.size(), 0.0f);
        layer.bias_cache.assign(layer.biases.size(), 0.0f);
    }
    require_state_shapes(layer);
    float t = step_number(opt.iterations);
    AdamStep c;
    c.beta_1 = opt.beta_1;
    c.one_minus_beta_1 = 1.0f - opt.beta_1;
    c.beta_1_correction = 1.0f - powf(opt.beta_1, t);
    c.beta_2 = opt.beta_2;
    c.one_minus_beta_2 = 1.0f - opt.beta_2;
    c.beta_2_correction = 1.0f - powf(opt.beta_2, t);
    c.negative_lr = -opt.current_learning_rate;
    c.epsilon = opt.epsilon;
    const ElementwiseKernels& kernels = elementwise();
    parallel_chunks(layer.weights.size(), parameters_per_task, [&](size_t first, size_t count) {
        kernels.adam(c, count, layer.dweights.data.data() + first, layer.weight_momentums.data.data() + first,
                     layer.weight_cache.data.data() + first, layer.weights.data.data() + first);
    });
    kernels.adam(c, layer.biases.size(), layer.dbiases.data(), layer.bias_momentums.data(), layer.bias_cache.data(),
                 layer.biases.data());
}

void tf_adam_update(const DynamicOptimizer& opt, Layer& layer) {
    const Matrix& weights = layer.weights;
    if (layer.weight_cache.rows == 0 && layer.weight_cache.cols == 0)
        layer.weight_cache = Matrix(weights.rows, weights.cols);
    if (layer.weight_momentums.rows == 0 && layer.weight_momentums.cols == 0)
        layer.weight_momentums = Matrix(weights.rows, weights.cols);
    if (layer.bias_momentums.empty()) layer.bias_momentums.assign(layer.biases.size(), 0.0f);
    if (layer.bias_cache.empty()) layer.bias_cache.assign(layer.biases.size(), 0.0f);
    require_state_shapes(layer);
    float t = step_number(opt.iterations);
    TfAdamStep c;
    c.beta_1 = opt.beta_1;
    c.one_minus_beta_1 = 1.0f - opt.beta_1;
    c.beta_2 = opt.beta_2;
    c.one_minus_beta_2 = 1.0f - opt.beta_2;
    c.lr_t = (sqrtf(1.0f - powf(opt.beta_2, t)) * opt.current_learning_rate) / (1.0f - powf(opt.beta_1, t));
    c.epsilon = opt.epsilon;
    const ElementwiseKernels& kernels = elementwise();
    parallel_chunks(layer.weights.size(), parameters_per_task, [&](size_t first, size_t count) {
        kernels.tf_adam(c, count, layer.dweights.data.data() + first, layer.weight_momentums.data.data() + first,
                        layer.weight_cache.data.data() + first, layer.weights.data.data() + first);
    });
    kernels.tf_adam(c, layer.biases.size(), layer.dbiases.data(), layer.bias_momentums.data(),
                    layer.bias_cache.data(), layer.biases.data());
}
