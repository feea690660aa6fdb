#pragma once
#include "array.hpp"

// An element x < 0 becomes +0.0, any other (-0.0 and NaN included) stays; the
// gradient is 0.0 where the input was <= 0 and passes where it was above 0
// or NaN. The loops are the element-wise kernels' (elementwise.hpp), which
// the dense layer's fused passes share.

Matrix relu_forward(const Matrix& inputs);
// activation_inputs: what relu_forward received; dvalues: gradient w.r.t. its output.
Matrix relu_backward(const Matrix& activation_inputs, const Matrix& dvalues);

// relu_forward into output's storage (output must not be inputs).
void relu_forward_into(const Matrix& inputs, Matrix& output);
// relu_backward with dvalues turned into the result in place.
void relu_backward_in_place(const Matrix& activation_inputs, Matrix& dvalues);
