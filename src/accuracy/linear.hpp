#pragma once
#include "array.hpp"

// Fraction of samples within acc_precision of their target, over the length of y.
float linear_accuracy(const Vector& predictions, const Vector& y, float acc_precision);
