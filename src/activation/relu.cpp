#include "activation/relu.hpp"

#include "shape_check.hpp"
#include "storage.hpp"

Matrix relu_forward(const Matrix& inputs) {
    Matrix output;
    relu_forward_into(inputs, output);
    return output;
}

void relu_forward_into(const Matrix& inputs, Matrix& output) {
    resize_matrix(output, inputs.rows, inputs.cols);
    const float* x = inputs.data.data();
    float* y = output.data.data();
    for (size_t k = 0; k < inputs.size(); ++k) y[k] = relu_of(x[k]);
}

Matrix relu_backward(const Matrix& activation_inputs, const Matrix& dvalues) {
    Matrix dinputs = dvalues;
    relu_backward_in_place(activation_inputs, dinputs);
    return dinputs;
}

void relu_backward_in_place(const Matrix& activation_inputs, Matrix& dvalues) {
    require_covers(activation_inputs, dvalues.rows, dvalues.cols);
    size_t cols = dvalues.cols;
    for (size_t i = 0; i < dvalues.rows; ++i) {
        const float* x = activation_inputs.row(i);
        float* d = dvalues.row(i);
        for (size_t j = 0; j < cols; ++j) d[j] = relu_gradient_of(x[j], d[j]);
    }
}
