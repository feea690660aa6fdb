#pragma once
#include "array.hpp"

// scores: samples x classes; returns rows that are probability distributions.
Matrix softmax_forward(const Matrix& scores);
// softmax_forward into output's storage (output must not be scores).
void softmax_forward_into(const Matrix& scores, Matrix& output);
// Rows first .. first + count - 1 of softmax_forward_into, into output already
// shaped like scores (which has columns).
void softmax_forward_rows(const Matrix& scores, Matrix& output, size_t first, size_t count);
