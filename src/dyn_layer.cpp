#include "dyn_layer.hpp"

#include <utility>

#include "activation/relu.hpp"
#include "layer/dense.hpp"
#include "layer/dropout.hpp"

void initialize(Layer& layer) {
    if (layer.layer_type == "dense") dense_initialize(layer);
    if (layer.layer_type == "dropout") dropout_initialize(layer);
}

Matrix forward(Layer& layer, const Matrix& inputs, bool training) {
    Matrix output;  // unknown layer types give 0 x 0
    if (layer.layer_type == "dense") output = dense_forward(layer, inputs);
    if (layer.layer_type == "dropout") output = dropout_forward(layer, inputs, training);
    if (layer.activation_type == "relu") {
        // The pre-activation output is kept as it is; no copy is needed.
        layer.activation_inputs = std::move(output);
        output = relu_forward(layer.activation_inputs);
    }
    return output;
}

Matrix backward(Layer& layer, const Matrix& dvalues) {
    Matrix result;  // unknown layer types without a ReLU give 0 x 0
    const Matrix* gradient = &dvalues;
    if (layer.activation_type == "relu") {
        result = relu_backward(layer.activation_inputs, dvalues);
        gradient = &result;
    }
    if (layer.layer_type == "dropout") result = dropout_backward(layer, *gradient);
    if (layer.layer_type == "dense") result = dense_backward(layer, *gradient);
    return result;
}
