#pragma once
#include "array.hpp"

// out: R x K probabilities; y: one class index per sample.
float categorical_crossentropy_loss(const Matrix& out, const LabelVector& y);
// Combined softmax + cross-entropy gradient, R x K.
Matrix categorical_crossentropy_gradient(const Matrix& out, const LabelVector& y);
// categorical_crossentropy_gradient into gradient's storage (gradient must not be out).
void categorical_crossentropy_gradient_into(const Matrix& out, const LabelVector& y, Matrix& gradient);
// Whether every class in y is a column of an output with `columns` columns.
bool classes_in_range(const LabelVector& y, size_t columns);
// Rows first .. first + count - 1 of categorical_crossentropy_gradient_into,
// into a gradient already shaped like out; y covers those rows with classes in range.
void categorical_crossentropy_gradient_rows(const Matrix& out, const LabelVector& y, Matrix& gradient,
                                            size_t first, size_t count);
