#pragma once
#include "array.hpp"

// scores: samples x classes; returns rows that are probability distributions.
Matrix softmax_forward(const Matrix& scores);
// softmax_forward into output's storage (output must not be scores).
void softmax_forward_into(const Matrix& scores, Matrix& output);
