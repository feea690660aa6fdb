#include "optimizer/sgd.hpp"

#include "shape_check.hpp"

void sgd_update(const DynamicOptimizer& opt, Layer& layer) {
    require_same_shape(layer.dweights, "dweights", layer.weights, "weights");
    require_same_length(layer.dbiases, "dbiases", layer.biases, "biases");
    float negative_lr = -opt.current_learning_rate;
    float* w = layer.weights.data.data();
    const float* dw = layer.dweights.data.data();
    for (size_t k = 0; k < layer.weights.size(); ++k) w[k] = (dw[k] * negative_lr) + w[k];
    float* b = layer.biases.data();
    const float* db = layer.dbiases.data();
    for (size_t j = 0; j < layer.biases.size(); ++j) b[j] = (db[j] * negative_lr) + b[j];
}
