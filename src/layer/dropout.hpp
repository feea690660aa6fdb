#pragma once
#include "array.hpp"
#include "layer/layer.hpp"

// Turns the drop rate into a keep probability: dropout_rate := 1 - dropout_rate.
void dropout_initialize(Layer& layer);
// inputs: samples x columns; returns the same shape. Training passes draw a new binary_mask.
Matrix dropout_forward(Layer& layer, const Matrix& inputs, bool training);
// dvalues: samples x columns; multiplies by the last training mask.
Matrix dropout_backward(Layer& layer, const Matrix& dvalues);

// dropout_forward on the input already stored in layer.inputs, into output's
// storage (which must not be layer.inputs).
void dropout_forward_stored(Layer& layer, bool training, Matrix& output);
// dropout_backward with dvalues turned into the result in place.
void dropout_backward_in_place(const Layer& layer, Matrix& dvalues);
