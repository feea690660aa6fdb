#pragma once
// The training loop that both model kinds share. Everything that differs
// between a regression and a classification model (output step, predictions,
// data loss, accuracy, output gradient) comes from a `Kind` record:
//
//   using Model;        LinearModel or CategoricalModel
//   using Label;        element type of the targets (float or int32_t)
//   using Targets;      Vector or LabelVector
//   using Predictions;  Vector or LabelVector
//   static Targets owned_targets(const StridedView<Label>&);
//   static const Matrix& output_step(const Model&, const Matrix& last_output, Matrix& storage);
//       the model's output step; returns last_output itself or storage it wrote
//   static Predictions predictions(const Model&, const Matrix& out);
//   static float data_loss(const Model&, const Matrix& out, const Predictions&, const Targets&);
//   static float accuracy(const Model&, const Predictions&, const Targets&);
//   static void loss_gradient_into(const Matrix& out, const Targets&, Matrix& gradient);
// and, for passes run in row blocks (model/row_blocks.hpp):
//   static bool gradient_rows_fit(const Targets&, size_t output_columns);
//       whether loss_gradient_rows can take these targets (else the loop runs
//       the per-layer way, which fails where the loss step does)
//   static const Matrix& output_storage(const Model&, const Matrix& last_output, Matrix& storage);
//       shapes storage for output_rows; returns what will hold the output
//   static void output_rows(const Model&, const Matrix& last_output, Matrix& storage, size_t first, size_t count);
//   static void loss_gradient_rows(const Matrix& out, const Targets&, Matrix& gradient, size_t first, size_t count);
//
// Storage: the loop keeps every matrix an epoch needs from one epoch to the
// next (see PassStorage), so after the first epoch nothing is allocated, and
// the samples are never copied again after the one owned copy. What a pass
// stores in the layers (inputs, activation_inputs, binary_mask) is what the
// per-layer operations would store, so a saved file is the same.

#include <cstdint>
#include <utility>
#include <vector>

#include "array.hpp"
#include "blas.hpp"
#include "dyn_layer.hpp"
#include "layer/layer.hpp"
#include "loss/regularization.hpp"
#include "model/checkpoint.hpp"
#include "model/pass_storage.hpp"
#include "model/report.hpp"
#include "model/row_blocks.hpp"
#include "model/run.hpp"
#include "optimizer/dyn_optimizer.hpp"
#include "panic.hpp"

// Every layer's forward in list order, each on the previous output. The first
// layer reads `inputs` directly (it keeps its own copy), so the caller's matrix
// is never changed. With no layers the result is a copy of `inputs`.
Matrix layers_forward(std::vector<Layer>& layers, const Matrix& inputs, bool training);

// The layers' part of model_forward on the samples of the pass whose copies
// the layers hold. Returns the last layer's output (the samples themselves
// with no layers), a matrix inside the layers or the pass storage. With
// keep_pre_activation false, dense layers with a ReLU do not store their
// pre-activation output: for a pass that another pass follows before anything
// can be saved (the training pass when there is a validation set).
const Matrix& layers_forward_stored(std::vector<Layer>& layers, PassStorage& pass, bool training,
                                    bool keep_pre_activation);

// The backward pass from the last layer to the first, after the forward pass
// of `pass`; gradients[i] is the storage of the gradient w.r.t. layer i's
// output, gradients.back() holds the loss gradient on entry. The first
// layer's input gradient, which training drops, is not computed.
void layers_backward_stored(std::vector<Layer>& layers, PassStorage& pass, std::vector<Matrix>& gradients);

// One optimiser step: decay the rate, update every layer in order, count it.
void optimizer_step(DynamicOptimizer& opt, std::vector<Layer>& layers);

// Panics naming both lengths when `targets` does not hold one entry per row of `inputs`.
void check_sample_count(const char* inputs_name, size_t rows, const char* targets_name,
                        size_t length);

// A 0 x 0 validation matrix means "no validation set".
inline bool has_validation_set(const StridedView<float>& val_x) {
    return val_x.rows != 0 || val_x.cols != 0;
}

// When progress lines are due: every `interval` epochs, the validation line
// right after the training line it belongs to.
struct PrintSchedule {
    uint16_t interval = 0;  // num_epochs / print_freq; 0 prints nothing
    uint16_t counter = 0;   // epochs since the last training line
    bool with_validation = false;
};

template <class Kind>
struct TrainingData {
    typename Kind::Targets y;
    typename Kind::Targets val_y;
};

// Everything one training run keeps across epochs.
struct RunStorage {
    PassStorage training;
    PassStorage validation;
    PassStorage* held = nullptr;   // whose forward copies the layers hold
    std::vector<Matrix> gradients;  // per layer (at least one): gradient w.r.t. its output
    bool training_in_blocks = false;    // see model/row_blocks.hpp
    bool validation_in_blocks = false;
    BlockStorage blocks;
};

template <class Kind>
const Matrix& model_forward_stored(typename Kind::Model& model, RunStorage& storage, PassStorage& pass,
                                   bool training, bool keep_pre_activation) {
    enter_pass(model.layers, storage.held, pass);
    const Matrix& last_output = layers_forward_stored(model.layers, pass, training, keep_pre_activation);
    return Kind::output_step(model, last_output, pass.model_output);
}

// The training pass's forward and, ahead of the scores, most of its backward,
// in row blocks. Returns the model's output.
template <class Kind>
const Matrix& train_in_row_blocks(typename Kind::Model& model, const TrainingData<Kind>& data, RunStorage& storage,
                                  bool keep_pre_activation) {
    PassStorage& pass = storage.training;
    enter_pass(model.layers, storage.held, pass);
    const Matrix& last_output = shape_block_pass(model.layers, pass, keep_pre_activation);
    const Matrix& out = Kind::output_storage(model, last_output, pass.model_output);
    Matrix& loss_gradient = storage.gradients.back();
    train_in_blocks(model.layers, pass, storage.gradients, storage.blocks, keep_pre_activation,
                    [&](size_t first, size_t count) {
                        Kind::output_rows(model, last_output, pass.model_output, first, count);
                        Kind::loss_gradient_rows(out, data.y, loss_gradient, first, count);
                    });
    return out;
}

// The validation pass's forward in row blocks. Returns the model's output.
template <class Kind>
const Matrix& infer_in_row_blocks(typename Kind::Model& model, RunStorage& storage) {
    PassStorage& pass = storage.validation;
    enter_pass(model.layers, storage.held, pass);
    const Matrix& last_output = shape_block_pass(model.layers, pass, true);
    const Matrix& out = Kind::output_storage(model, last_output, pass.model_output);
    infer_in_blocks(model.layers, pass, [&](size_t first, size_t count) {
        Kind::output_rows(model, last_output, pass.model_output, first, count);
    });
    return out;
}

// The training half of an epoch: forward, scores, progress line, backward,
// update. Returns the training data loss, which decides about saving.
template <class Kind>
float training_pass(typename Kind::Model& model, DynamicOptimizer& opt, uint32_t epoch,
                    const TrainingData<Kind>& data, RunStorage& storage, PrintSchedule& schedule,
                    float& best_loss, const RunHooks& hooks) {
    // With a validation pass to follow, nothing reads this pass's
    // pre-activation outputs: the backward step takes the ReLU outputs.
    bool keep_pre_activation = !schedule.with_validation;
    const Matrix& out = storage.training_in_blocks
                            ? train_in_row_blocks<Kind>(model, data, storage, keep_pre_activation)
                            : model_forward_stored<Kind>(model, storage, storage.training, true, keep_pre_activation);
    float data_loss = 0.0f;
    {
        auto predictions = Kind::predictions(model, out);
        data_loss = Kind::data_loss(model, out, predictions, data.y);
        if (epoch == 1) best_loss = data_loss;
        float reg_loss = regularization_loss(model.layers);
        float accuracy = Kind::accuracy(model, predictions, data.y);
        schedule.counter += 1;
        if (schedule.counter == schedule.interval) {
            print_line(training_line(epoch, accuracy, data_loss, reg_loss, model.loss_type,
                                     opt.current_learning_rate),
                       hooks);
            schedule.counter = schedule.with_validation ? schedule.interval : 0;
        }
    }
    if (storage.training_in_blocks) {
        finish_block_gradients(model.layers, storage.gradients, storage.blocks);
    } else {
        Kind::loss_gradient_into(out, data.y, storage.gradients.back());
        layers_backward_stored(model.layers, storage.training, storage.gradients);
    }
    optimizer_step(opt, model.layers);
    return data_loss;
}

// The validation half of an epoch: the validation samples through the updated
// model, in inference mode, and their line when one is due.
template <class Kind>
void validation_pass(typename Kind::Model& model, const TrainingData<Kind>& data, RunStorage& storage,
                     PrintSchedule& schedule, const RunHooks& hooks) {
    const Matrix& val_out = storage.validation_in_blocks
                                ? infer_in_row_blocks<Kind>(model, storage)
                                : model_forward_stored<Kind>(model, storage, storage.validation, false, true);
    auto val_predictions = Kind::predictions(model, val_out);
    float val_data_loss = Kind::data_loss(model, val_out, val_predictions, data.val_y);
    float val_reg_loss = regularization_loss(model.layers);
    float val_accuracy = Kind::accuracy(model, val_predictions, data.val_y);
    if (schedule.counter == schedule.interval) {
        print_line(validation_line(val_accuracy, val_data_loss, val_reg_loss, model.loss_type),
                   hooks);
        schedule.counter = 0;
    }
}

// Full-batch training of `model` (the caller's copy) for num_epochs epochs,
// printing progress lines and rewriting the model file whenever the training
// data loss reaches a new low after epoch 1.
template <class Kind>
void train_model(typename Kind::Model& model, DynamicOptimizer& opt, uint16_t num_epochs,
                 uint16_t print_freq, const StridedView<float>& x,
                 const StridedView<typename Kind::Label>& y, const StridedView<float>& val_x,
                 const StridedView<typename Kind::Label>& val_y, const RunHooks& hooks) {
    ProductScratchScope product_scratch;
    for (Layer& layer : model.layers) initialize(layer);
    opt.current_learning_rate = opt.learning_rate;
    if (print_freq == 0) throw Panic("attempt to divide by zero");
    PrintSchedule schedule;
    schedule.interval = uint16_t(num_epochs / print_freq);
    schedule.with_validation = has_validation_set(val_x);

    // Refuse mismatched data before any work rather than failing, or silently
    // ignoring targets, somewhere inside an epoch.
    check_sample_count("x", x.rows, "y", y.rows);
    if (schedule.with_validation) check_sample_count("val_x", val_x.rows, "val_y", val_y.rows);

    RunStorage storage;
    storage.training = make_pass_storage(model.layers, x);
    storage.gradients.resize(model.layers.empty() ? 1 : model.layers.size());
    TrainingData<Kind> data;
    data.y = Kind::owned_targets(y);
    if (schedule.with_validation) {
        storage.validation = make_pass_storage(model.layers, val_x);
        data.val_y = Kind::owned_targets(val_y);
    }
    // Row blocks for the common case; anything unusual (other layer kinds,
    // widths that do not fit, targets the gradient cannot take) runs the
    // per-layer way, which also fails where and as the documented steps do.
    storage.training_in_blocks = runs_in_blocks(model.layers, storage.training.samples) &&
                                 Kind::gradient_rows_fit(data.y, model.layers.back().weights.cols);
    storage.validation_in_blocks =
        schedule.with_validation && runs_in_blocks(model.layers, storage.validation.samples);
    clear_forward_copies(model.layers);

    bool saves = !model.save_best_params.empty();
    Checkpoint<typename Kind::Model> checkpoint;
    if (saves) start_checkpoint(checkpoint, model, hooks.checkpoint_timing);
    float best_loss = 0.0f;
    try {
        for (uint32_t epoch = 1; epoch <= num_epochs; ++epoch) {
            hooks.check_interrupt();
            float data_loss = training_pass<Kind>(model, opt, epoch, data, storage, schedule, best_loss, hooks);
            if (schedule.with_validation) validation_pass<Kind>(model, data, storage, schedule, hooks);
            // Strictly lower only: false for NaN, and epoch 1 set best_loss to its own loss.
            if (saves && best_loss > data_loss) {
                take_snapshot(checkpoint, model, storage.held->samples);
                best_loss = data_loss;
            }
            if (saves) write_checkpoint_when_due(checkpoint);
        }
    } catch (...) {
        finish_checkpoint_after_failure(checkpoint);
        throw;
    }
    finish_checkpoint(checkpoint);
}
