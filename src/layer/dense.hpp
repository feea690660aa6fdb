#pragma once
#include "array.hpp"
#include "blas.hpp"
#include "layer/layer.hpp"

// weights := n_inputs x n_neurons standard normal deviates times 0.01; biases := n_neurons zeros.
void dense_initialize(Layer& layer);
// inputs: samples x n_inputs; returns samples x n_neurons. Stores a copy of inputs.
Matrix dense_forward(Layer& layer, const Matrix& inputs);
// dvalues: samples x n_neurons; writes dweights, dbiases; returns samples x n_inputs.
Matrix dense_backward(Layer& layer, const Matrix& dvalues);

// The steps for a loop that owns its storage. `inputs` is what the layer's
// forward received: its stored copy (view_of(layer.inputs)) or the samples
// themselves for a first layer; it is read, never stored here.

// output := inputs · weights + biases, into output's storage.
void dense_forward_into(const Layer& layer, MatrixView inputs, Matrix& output);
// The dense step followed by a ReLU, fused into one pass over the product:
// activation_inputs := inputs · weights + biases, output := its ReLU. With
// keep_pre_activation false, for a pass whose pre-activation output nobody
// reads, the product is made in output and biases and ReLU are applied there
// in place; activation_inputs is left as it was (the backward step then takes
// the ReLU's output as relu_reference).
void dense_relu_forward_into(Layer& layer, MatrixView inputs, Matrix& output, bool keep_pre_activation);
// dense_backward with the input gradient written into *dinputs' storage, or
// not computed at all when dinputs is null. Shape failures of the products
// are raised before the layer is touched.
void dense_backward_into(Layer& layer, MatrixView inputs, const Matrix& dvalues, Matrix* dinputs);
// The ReLU's backward followed by dense_backward_into, with the ReLU's pass
// and the bias sums fused: dvalues (w.r.t. the ReLU's output) becomes the
// gradient w.r.t. the dense output in place. relu_reference is the
// pre-activation output (activation_inputs) or the ReLU's output of the same
// pass: relu(z) <= 0 exactly where z <= 0, NaN where z is NaN, so either
// gives the same gradient.
void dense_relu_backward_into(Layer& layer, MatrixView inputs, Matrix& dvalues, Matrix* dinputs,
                              const Matrix& relu_reference);

// One block of rows of a pass that runs its rows block by block: the block's
// rows of what the steps above read and write, each row-major with its
// layer's widths as row strides (inputs excepted).
struct DenseBlock {
    MatrixView inputs;      // rows x n_inputs
    float* pre_activation;  // rows x n_neurons: the ReLU's input when the pass keeps it, else null
    float* output;          // rows x n_neurons
    float* gradient;        // rows x n_neurons: w.r.t. the output (the ReLU's, with one), then the dense output
    float* dinputs;         // rows x n_inputs, or null when the input gradient is not wanted
};

// The block's rows of dense_forward_into (relu false) or dense_relu_forward_into.
void dense_forward_block(const Layer& layer, bool relu, const DenseBlock& block);
// The block's rows of dense_backward_into or dense_relu_backward_into, less
// the bias sums, which take every row in order (dense_bias_sums_into): the
// ReLU's gradient in place, dweights_sum := (beta 0) or += (beta 1)
// inputs^T · gradient, dinputs := gradient · weights^T from weights_transposed.
void dense_backward_block(const Layer& layer, bool relu, const DenseBlock& block, MatrixView weights_transposed,
                          float beta, float* dweights_sum);

// dbiases[j] += the sum of column j over gradient's rows, row after row, for
// columns first .. first + count - 1.
void dense_bias_sums_into(Vector& dbiases, const Matrix& gradient, size_t first, size_t count);
// The regulariser terms of dense_backward, added to dweights and dbiases.
void add_regularization_gradients(Layer& layer);
