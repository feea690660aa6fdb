#pragma once
// The storage of one pass over a set of samples, kept from epoch to epoch,
// and how the layers take it over while that pass is the latest.

#include <vector>

#include "array.hpp"
#include "layer/layer.hpp"

// What one kind of pass (training or validation) keeps from epoch to epoch.
// The forward copies that the per-layer operations store in the layers
// (`inputs`, `activation_inputs`) live in the layers while this pass is the
// latest one, and are parked here while the other pass runs; both passes thus
// reuse their storage every epoch, and the layers always hold what the latest
// pass stored, as a saved file must show.
//
// The samples: a dense first layer reads them where they lie, through
// `samples`: in the caller's array when its rows are contiguous floats (no
// copy at all), else in the owned copy in inputs[0]. Any other first layer
// gets the owned copy as its stored inputs, as forward would give it.
struct PassStorage {
    std::vector<Matrix> inputs;             // per layer (at least one): [0] the owned copy of the samples
    std::vector<Matrix> activation_inputs;  // per layer
    std::vector<Matrix> outputs;            // per layer: its output when the next layer keeps no inputs
    Matrix model_output;                    // after an output step that makes a new matrix
    MatrixView samples;                     // what a dense first layer reads
};

// Storage for the pass over `samples` through `layers`.
PassStorage make_pass_storage(const std::vector<Layer>& layers, const StridedView<float>& samples);

// Drops the forward copies a model brought along: the first pass of a run
// replaces every one of them before anything can read or save them.
void clear_forward_copies(std::vector<Layer>& layers);

// Puts the forward copies of `next` into the layers, parking those of the pass
// that held them (`held`, null at the start of a run). `held` becomes &next.
void enter_pass(std::vector<Layer>& layers, PassStorage*& held, PassStorage& next);

// Where layer i's forward writes its output: straight into the next layer's
// stored inputs when that layer keeps them, else into the pass storage.
Matrix& layer_output_storage(std::vector<Layer>& layers, PassStorage& pass, size_t i);
