#pragma once
#include "array.hpp"
#include "layer/layer.hpp"

// weights := n_inputs x n_neurons standard normal deviates times 0.01; biases := n_neurons zeros.
void dense_initialize(Layer& layer);
// inputs: samples x n_inputs; returns samples x n_neurons. Stores a copy of inputs.
Matrix dense_forward(Layer& layer, const Matrix& inputs);
// dvalues: samples x n_neurons; writes dweights, dbiases; returns samples x n_inputs.
Matrix dense_backward(Layer& layer, const Matrix& dvalues);
