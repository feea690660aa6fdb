#include "loss/regularization.hpp"

#include <cmath>

namespace {

// Sums of |x| and x * x in the shared array-sum order; the layer is only read.
float sum_of_abs(const std::vector<float>& values) {
    return array_sum_of(values.size(), [&](size_t k) { return std::fabs(values[k]); });
}

float sum_of_squares(const std::vector<float>& values) {
    return array_sum_of(values.size(), [&](size_t k) { return values[k] * values[k]; });
}

// Adds the layer's penalty terms to total one at a time. A factor that is not
// above 0 (0, negative, NaN) leaves its term out entirely.
float add_layer_terms(float total, const Layer& layer) {
    if (layer.weight_regularizer_l1 > 0.0f)
        total = total + layer.weight_regularizer_l1 * sum_of_abs(layer.weights.data);
    if (layer.weight_regularizer_l2 > 0.0f)
        total = total + layer.weight_regularizer_l2 * sum_of_squares(layer.weights.data);
    if (layer.bias_regularizer_l1 > 0.0f)
        total = total + layer.bias_regularizer_l1 * sum_of_abs(layer.biases);
    if (layer.bias_regularizer_l2 > 0.0f)
        total = total + layer.bias_regularizer_l2 * sum_of_squares(layer.biases);
    return total;
}

}  // namespace

float regularization_loss(const Layer& layer) { return add_layer_terms(0.0f, layer); }

float regularization_loss(const std::vector<Layer>& layers) {
    float total = 0.0f;
    for (const Layer& layer : layers) total = add_layer_terms(total, layer);
    return total;
}
