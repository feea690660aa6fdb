#pragma once
#include "array.hpp"

// scores: samples x classes; returns rows that are probability distributions.
Matrix softmax_forward(const Matrix& scores);
