#pragma once
#include "array.hpp"

// One element of the ReLU and of its gradient; the passes below (and the
// dense layer's fused passes) apply exactly these.
inline float relu_of(float x) { return x < 0.0f ? 0.0f : x; }  // -0.0 and NaN pass unchanged
// d: gradient w.r.t. the ReLU's output at an element whose input was x.
inline float relu_gradient_of(float x, float d) { return x <= 0.0f ? 0.0f : d; }  // NaN keeps d

Matrix relu_forward(const Matrix& inputs);
// activation_inputs: what relu_forward received; dvalues: gradient w.r.t. its output.
Matrix relu_backward(const Matrix& activation_inputs, const Matrix& dvalues);

// relu_forward into output's storage (output must not be inputs).
void relu_forward_into(const Matrix& inputs, Matrix& output);
// relu_backward with dvalues turned into the result in place.
void relu_backward_in_place(const Matrix& activation_inputs, Matrix& dvalues);
