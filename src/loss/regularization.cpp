#include "loss/regularization.hpp"

#include <cmath>

namespace {

// Sums of |x| and x * x in the shared array-sum order, over a temporary so the
// layer is never touched.
float sum_of_abs(const std::vector<float>& values) {
    std::vector<float> terms(values.size());
    for (size_t k = 0; k < values.size(); ++k) terms[k] = std::fabs(values[k]);
    return array_sum(terms);
}

float sum_of_squares(const std::vector<float>& values) {
    std::vector<float> terms(values.size());
    for (size_t k = 0; k < values.size(); ++k) terms[k] = values[k] * values[k];
    return array_sum(terms);
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
