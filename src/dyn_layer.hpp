#pragma once
// Per-layer operations that dispatch on the layer's type texts. The model
// loops call only these; unknown kinds are inert.

#include "array.hpp"
#include "layer/layer.hpp"

// Start of every training run: dense layers get fresh N(0,1) * 0.01 weights and
// zero biases, dropout layers turn their drop rate into a keep probability.
void initialize(Layer& layer);

// Returns the layer's output; unknown layer types give an empty 0 x 0 matrix.
Matrix forward(Layer& layer, const Matrix& inputs, bool training);

// dvalues: gradient w.r.t. the layer's output; returns the gradient w.r.t. its input.
Matrix backward(Layer& layer, const Matrix& dvalues);
