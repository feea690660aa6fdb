#pragma once
#include <string>

#include "array.hpp"

// 0.0 unless loss_type is exactly "mean_squared_error".
float mean_squared_error_loss(const std::string& loss_type, const Vector& predictions, const Vector& y);
// out: R x K; every column of row i against y[i].
Matrix mean_squared_error_gradient(const Matrix& out, const Vector& y);
// mean_squared_error_gradient into gradient's storage (gradient must not be out).
void mean_squared_error_gradient_into(const Matrix& out, const Vector& y, Matrix& gradient);
// Rows first .. first + count - 1 of mean_squared_error_gradient_into, into a
// gradient already shaped like out; y covers those rows.
void mean_squared_error_gradient_rows(const Matrix& out, const Vector& y, Matrix& gradient, size_t first,
                                      size_t count);
