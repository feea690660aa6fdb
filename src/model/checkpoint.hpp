#pragma once
// The best model of a training run, held until its file gets it.
//
// Rewriting the file at every improvement would format the whole text (which
// holds a forward copy of every sample) at nearly every epoch. Instead each
// improvement replaces the pending best in memory, and the file is rewritten
// only once that best has waited max(min_lag, writes_per_lag x one write) —
// so writing takes about a tenth of the run at most — and always once when
// the call ends. The file after the call is therefore the one that saving at
// every improvement leaves, and while the call runs it is a complete model of
// an earlier improvement, at most about that lag behind.
//
// A snapshot costs the parameters, not the samples: it copies what an epoch
// changes in place (weights, biases, the optimiser's state) and takes over the
// buffers that every epoch rewrites whole (forward copies, gradients), leaving
// the layers the buffers of the snapshot before, which the next pass
// overwrites before anything reads them.

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

#include "array.hpp"
#include "dyn_layer.hpp"
#include "layer/layer.hpp"
#include "model/file.hpp"
#include "model/run.hpp"

template <class Model>
struct Checkpoint {
    using Clock = std::chrono::steady_clock;

    Model best;                      // the latest improvement, field for field as a save would write it
    MatrixView first_layer_samples;  // best's first layer `inputs` when that layer keeps its input
    bool samples_shown = false;      // whether first_layer_samples stands for that field
    bool taken = false;              // best holds an improvement (the target was found creatable)
    bool pending = false;            // the file is older than best
    bool save_panicked = false;      // a save ended the call: no second attempt
    Clock::time_point pending_since;
    double last_write_seconds = 0.0;
    CheckpointTiming timing;
};

// Copies what an epoch changes in place and takes over, in exchange for the
// kept buffers, what every epoch rewrites whole. first_layer: its `inputs`
// are the samples, which stay with the run (the checkpoint shows them).
void snapshot_layer(Layer& kept, Layer& live, bool first_layer);

// The run's starting state: everything an epoch leaves as it is (texts,
// sizes, factors, keep probabilities, fields no pass writes).
template <class Model>
void start_checkpoint(Checkpoint<Model>& checkpoint, const Model& model, const CheckpointTiming& timing) {
    checkpoint.best = model;
    checkpoint.timing = timing;
}

// Makes the model, as the latest pass (whose samples are `samples`) left it,
// the pending best. The first improvement checks at once that the file can be
// created (a Panic with the operating system's error when it cannot).
template <class Model>
void take_snapshot(Checkpoint<Model>& checkpoint, Model& model, const MatrixView& samples) {
    if (!checkpoint.taken) {
        check_model_file_creatable(model.save_best_params);
        checkpoint.taken = true;
    }
    for (size_t i = 0; i < model.layers.size(); ++i)
        snapshot_layer(checkpoint.best.layers[i], model.layers[i], i == 0);
    checkpoint.samples_shown = !model.layers.empty() && stores_inputs(model.layers[0]);
    checkpoint.first_layer_samples = samples;
    if (!checkpoint.pending) checkpoint.pending_since = Checkpoint<Model>::Clock::now();
    checkpoint.pending = true;
}

template <class Model>
void write_checkpoint(Checkpoint<Model>& checkpoint) {
    auto start = Checkpoint<Model>::Clock::now();
    bool written = false;
    try {
        written = save_model_file(checkpoint.best, checkpoint.best.save_best_params,
                                  checkpoint.samples_shown ? &checkpoint.first_layer_samples : nullptr);
    } catch (...) {
        checkpoint.save_panicked = true;
        throw;
    }
    auto end = Checkpoint<Model>::Clock::now();
    checkpoint.last_write_seconds = std::chrono::duration<double>(end - start).count();
    // A failed write was warned about and left the previous file: the best
    // stays pending and waits its turn again.
    checkpoint.pending_since = end;
    checkpoint.pending = !written;
}

// At the end of an epoch: writes the pending best once it has waited long enough.
template <class Model>
void write_checkpoint_when_due(Checkpoint<Model>& checkpoint) {
    if (!checkpoint.pending) return;
    double waited = std::chrono::duration<double>(Checkpoint<Model>::Clock::now() - checkpoint.pending_since).count();
    double lag = std::max(checkpoint.timing.min_lag_seconds,
                          checkpoint.timing.writes_per_lag * checkpoint.last_write_seconds);
    if (waited >= lag) write_checkpoint(checkpoint);
}

// When the call ends normally: the file gets the pending best.
template <class Model>
void finish_checkpoint(Checkpoint<Model>& checkpoint) {
    if (checkpoint.pending) write_checkpoint(checkpoint);
}

// When the call ends with an exception (Ctrl-C, a failure): the file still
// gets the pending best; a failure of that save is only warned about, so the
// caller sees the exception that ended the call.
template <class Model>
void finish_checkpoint_after_failure(Checkpoint<Model>& checkpoint) noexcept {
    if (!checkpoint.pending || checkpoint.save_panicked) return;
    try {
        write_checkpoint(checkpoint);
    } catch (const std::exception& e) {
        warn_save_failed(e.what());
    } catch (...) {
        warn_save_failed("could not write the model file");
    }
}
