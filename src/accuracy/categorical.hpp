#pragma once
#include <string>

#include "array.hpp"

// Arg-max class of every row; empty unless output_type is exactly "softmax".
LabelVector predicted_classes(const std::string& output_type, const Matrix& out);
// Fraction of predictions equal to their target, over the number of predictions.
float categorical_accuracy(const LabelVector& predictions, const LabelVector& y);
