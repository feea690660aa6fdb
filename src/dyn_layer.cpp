#include "dyn_layer.hpp"

#include <utility>

#include "activation/relu.hpp"
#include "layer/dense.hpp"
#include "layer/dropout.hpp"

void initialize(Layer& layer) {
    if (layer.layer_type == "dense") dense_initialize(layer);
    if (layer.layer_type == "dropout") dropout_initialize(layer);
}

bool stores_inputs(const Layer& layer) {
    return layer.layer_type == "dense" || layer.layer_type == "dropout";
}

bool has_relu(const Layer& layer) { return layer.activation_type == "relu"; }

Matrix forward(Layer& layer, const Matrix& inputs, bool training) {
    if (stores_inputs(layer)) layer.inputs = inputs;
    Matrix output;
    forward_stored(layer, training, output);
    return output;
}

void forward_stored(Layer& layer, bool training, Matrix& output, bool keep_pre_activation,
                    const MatrixView* samples) {
    if (layer.layer_type == "dense") {
        MatrixView inputs = samples != nullptr ? *samples : view_of(layer.inputs);
        if (has_relu(layer))
            dense_relu_forward_into(layer, inputs, output, keep_pre_activation);
        else
            dense_forward_into(layer, inputs, output);
        return;
    }
    // With a ReLU the layer's own output is kept as activation_inputs and the
    // ReLU writes the result; without one the layer writes the result.
    Matrix& own_output = has_relu(layer) ? layer.activation_inputs : output;
    if (layer.layer_type == "dropout")
        dropout_forward_stored(layer, training, own_output);
    else
        own_output = Matrix();  // unknown layer types give 0 x 0
    if (has_relu(layer)) relu_forward_into(layer.activation_inputs, output);
}

Matrix backward(Layer& layer, const Matrix& dvalues) {
    Matrix gradient = dvalues;
    Matrix result;
    backward_into(layer, gradient, &result);
    return result;
}

void backward_into(Layer& layer, Matrix& dvalues, Matrix* dinputs, const Matrix* relu_output,
                   const MatrixView* samples) {
    if (layer.layer_type == "dense") {
        MatrixView inputs = samples != nullptr ? *samples : view_of(layer.inputs);
        if (has_relu(layer))
            dense_relu_backward_into(layer, inputs, dvalues, dinputs,
                                     relu_output != nullptr ? *relu_output : layer.activation_inputs);
        else
            dense_backward_into(layer, inputs, dvalues, dinputs);
        return;
    }
    if (has_relu(layer)) relu_backward_in_place(layer.activation_inputs, dvalues);
    if (layer.layer_type == "dropout") dropout_backward_in_place(layer, dvalues);
    if (dinputs == nullptr) return;
    // Dropout and the ReLU of an unknown layer type pass the gradient through;
    // an unknown layer type without a ReLU gives 0 x 0.
    if (layer.layer_type == "dropout" || has_relu(layer))
        std::swap(*dinputs, dvalues);
    else
        *dinputs = Matrix();
}
