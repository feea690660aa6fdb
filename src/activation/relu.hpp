#pragma once
#include "array.hpp"

Matrix relu_forward(const Matrix& inputs);
// activation_inputs: what relu_forward received; dvalues: gradient w.r.t. its output.
Matrix relu_backward(const Matrix& activation_inputs, const Matrix& dvalues);
