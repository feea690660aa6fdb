#include "activation/relu.hpp"

#include "elementwise.hpp"
#include "shape_check.hpp"
#include "storage.hpp"

Matrix relu_forward(const Matrix& inputs) {
    Matrix output;
    relu_forward_into(inputs, output);
    return output;
}

void relu_forward_into(const Matrix& inputs, Matrix& output) {
    resize_matrix(output, inputs.rows, inputs.cols);
    elementwise().relu(inputs.data.data(), output.data.data(), inputs.size());
}

Matrix relu_backward(const Matrix& activation_inputs, const Matrix& dvalues) {
    Matrix dinputs = dvalues;
    relu_backward_in_place(activation_inputs, dinputs);
    return dinputs;
}

void relu_backward_in_place(const Matrix& activation_inputs, Matrix& dvalues) {
    require_covers(activation_inputs, dvalues.rows, dvalues.cols);
    elementwise().relu_gradient(activation_inputs.data.data(), activation_inputs.cols, dvalues.data.data(),
                                dvalues.rows, dvalues.cols);
}
