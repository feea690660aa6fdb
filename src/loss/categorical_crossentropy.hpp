#pragma once
#include "array.hpp"

// out: R x K probabilities; y: one class index per sample.
float categorical_crossentropy_loss(const Matrix& out, const LabelVector& y);
// Combined softmax + cross-entropy gradient, R x K.
Matrix categorical_crossentropy_gradient(const Matrix& out, const LabelVector& y);
// categorical_crossentropy_gradient into gradient's storage (gradient must not be out).
void categorical_crossentropy_gradient_into(const Matrix& out, const LabelVector& y, Matrix& gradient);
