#include "activation/relu.hpp"

#include "shape_check.hpp"

Matrix relu_forward(const Matrix& inputs) {
    Matrix output = inputs;
    for (float& x : output.data) x = x < 0.0f ? 0.0f : x;  // -0.0 and NaN pass unchanged
    return output;
}

Matrix relu_backward(const Matrix& activation_inputs, const Matrix& dvalues) {
    require_covers(activation_inputs, dvalues.rows, dvalues.cols);
    Matrix dinputs = dvalues;
    for (size_t i = 0; i < dinputs.rows; ++i) {
        const float* x = activation_inputs.row(i);
        float* d = dinputs.row(i);
        for (size_t j = 0; j < dinputs.cols; ++j) d[j] = x[j] <= 0.0f ? 0.0f : d[j];  // NaN keeps d
    }
    return dinputs;
}
