#pragma once
#include "array.hpp"
#include "layer/layer.hpp"

// inputs: samples x columns; returns the same shape. Training passes draw a new binary_mask.
Matrix dropout_forward(Layer& layer, const Matrix& inputs, bool training);
// dvalues: samples x columns; multiplies by the last training mask.
Matrix dropout_backward(Layer& layer, const Matrix& dvalues);
