#pragma once
// Per-layer operations that dispatch on the layer's type texts. The model
// loops call only these; unknown kinds are inert.

#include "array.hpp"
#include "blas.hpp"
#include "layer/layer.hpp"

// Start of every training run: dense layers get fresh N(0,1) * 0.01 weights and
// zero biases, dropout layers turn their drop rate into a keep probability.
void initialize(Layer& layer);

// Returns the layer's output; unknown layer types give an empty 0 x 0 matrix.
Matrix forward(Layer& layer, const Matrix& inputs, bool training);

// dvalues: gradient w.r.t. the layer's output; returns the gradient w.r.t. its input.
Matrix backward(Layer& layer, const Matrix& dvalues);

// Whether forward keeps a copy of its input in layer.inputs (dense and dropout).
bool stores_inputs(const Layer& layer);
// Whether forward keeps the pre-activation output in layer.activation_inputs.
bool has_relu(const Layer& layer);

// forward for a loop that owns its storage: the input is the one already in
// layer.inputs (for layers that store it; the others ignore their input) and
// the result is written into output's storage, which must not be layer.inputs.
// Stores and returns exactly what forward would, except:
// - keep_pre_activation false: a dense layer with a ReLU leaves
//   activation_inputs as it was (see backward_into's relu_output);
// - samples given: a dense layer reads its input from there instead of
//   layer.inputs, which the caller keeps up to date itself when it matters;
//   other kinds ignore it.
void forward_stored(Layer& layer, bool training, Matrix& output, bool keep_pre_activation = true,
                    const MatrixView* samples = nullptr);

// backward for a loop that owns its storage: dvalues is used as scratch, and
// the gradient w.r.t. the layer's input goes into *dinputs (which must not be
// dvalues); with dinputs null it is not formed at all, the layer's gradients
// are. Writes exactly what backward would. relu_output: the output of the
// same pass's forward_stored, needed when that pass did not keep the
// pre-activation output; null reads activation_inputs. samples: as for
// forward_stored.
void backward_into(Layer& layer, Matrix& dvalues, Matrix* dinputs, const Matrix* relu_output = nullptr,
                   const MatrixView* samples = nullptr);
