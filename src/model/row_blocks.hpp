#pragma once
// Passes that run the samples through the layers block by block.
//
// A stack of dense layers, each with or without a ReLU, trains row-parallel:
// the samples split into the blocks of blas.hpp, and one task takes a group of
// consecutive blocks, each through every layer's forward, the output step,
// the loss gradient's rows and every layer's backward while its activations
// are in cache; the pool's threads work on different groups. Every product is
// the very call that matmul_into makes for that block, and each group sums its
// weight gradients as matmul_into's group does, so the results equal those of
// the per-layer operations bit for bit, whatever the number of threads. What
// takes all rows in order, the bias sums, runs afterwards (parallel over
// columns), as do the groups' weight gradient sums. The stored forward copies
// (inputs, activation_inputs) and the gradients are those the per-layer
// operations leave, written row block by row block into the same storage.

#include <functional>
#include <vector>

#include "array.hpp"
#include "blas.hpp"
#include "layer/layer.hpp"
#include "model/pass_storage.hpp"

// Whether passes over `samples` through `layers` can run in blocks: a dense
// layer each, whose weights and biases fit the widths before and after it,
// none of width 0, at least one sample; sizes within the BLAS's int.
bool runs_in_blocks(const std::vector<Layer>& layers, const MatrixView& samples);

// What the training passes in blocks keep from epoch to epoch.
struct BlockStorage {
    RowBlocks blocks;                                // of the training samples
    std::vector<std::vector<Matrix>> group_dweights;  // [group - 1][layer]: the weight gradients of groups 1..
    std::vector<Matrix> weights_transposed;          // [layer]: for the input gradients (not the first layer's)
};

// The output step and the loss gradient of rows first .. first + count - 1,
// run for every block right after its forward.
using BlockRowsStep = std::function<void(size_t first, size_t count)>;

// Shapes the pass's storage (the layers' outputs, their stored inputs and,
// with keep_pre_activation, the ReLUs' inputs; see forward_stored), so that
// blocks only write rows. Returns the last layer's output storage.
const Matrix& shape_block_pass(std::vector<Layer>& layers, PassStorage& pass, bool keep_pre_activation);

// The training pass on the samples of `pass` (whose copies the layers hold),
// after shape_block_pass: forward, rows_step (which writes the rows of
// gradients.back(), the loss gradient, shaped by then) and backward, block by
// block; gradients[i] ends as the gradient w.r.t. layer i's dense output. The
// layers' dweights and dbiases are complete after finish_block_gradients.
void train_in_blocks(std::vector<Layer>& layers, PassStorage& pass, std::vector<Matrix>& gradients,
                     BlockStorage& storage, bool keep_pre_activation, const BlockRowsStep& rows_step);
// The rest of the backward pass: weight gradients summed over the groups,
// bias sums, regulariser terms.
void finish_block_gradients(std::vector<Layer>& layers, const std::vector<Matrix>& gradients, BlockStorage& storage);

// An inference pass on the samples of `pass` after shape_block_pass (keeping
// the pre-activations), block by block, each block then through rows_step.
void infer_in_blocks(std::vector<Layer>& layers, PassStorage& pass, const BlockRowsStep& rows_step);
