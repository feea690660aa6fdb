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
//   static Matrix forward(Model&, const Matrix& inputs, bool training);   // model_forward
//   static Predictions predictions(const Model&, const Matrix& out);
//   static float data_loss(const Model&, const Matrix& out, const Predictions&, const Targets&);
//   static float accuracy(const Model&, const Predictions&, const Targets&);
//   static Matrix loss_gradient(const Matrix& out, const Targets&);

#include <cstdint>
#include <utility>
#include <vector>

#include "array.hpp"
#include "dyn_layer.hpp"
#include "layer/layer.hpp"
#include "loss/regularization.hpp"
#include "model/file.hpp"
#include "model/report.hpp"
#include "model/run.hpp"
#include "optimizer/dyn_optimizer.hpp"
#include "panic.hpp"

// Every layer's forward in list order, each on the previous output. The first
// layer reads `inputs` directly (it keeps its own copy), so the caller's matrix
// is never changed. With no layers the result is a copy of `inputs`.
Matrix layers_forward(std::vector<Layer>& layers, const Matrix& inputs, bool training);

// Backward from the last layer to the first; the first layer's result is dropped.
void layers_backward(std::vector<Layer>& layers, Matrix gradient);

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
    Matrix x;
    typename Kind::Targets y;
    Matrix val_x;
    typename Kind::Targets val_y;
};

// The training half of an epoch: forward, scores, progress line, backward,
// update. Returns the training data loss, which decides about saving.
template <class Kind>
float training_pass(typename Kind::Model& model, DynamicOptimizer& opt, uint32_t epoch,
                    const TrainingData<Kind>& data, PrintSchedule& schedule, float& best_loss,
                    const RunHooks& hooks) {
    Matrix out = Kind::forward(model, data.x, true);
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
    Matrix gradient = Kind::loss_gradient(out, data.y);
    out = Matrix();  // the layers hold what backward needs; free the output early
    layers_backward(model.layers, std::move(gradient));
    optimizer_step(opt, model.layers);
    return data_loss;
}

// The validation half of an epoch: the validation samples through the updated
// model, in inference mode, and their line when one is due.
template <class Kind>
void validation_pass(typename Kind::Model& model, const TrainingData<Kind>& data,
                     PrintSchedule& schedule, const RunHooks& hooks) {
    Matrix val_out = Kind::forward(model, data.val_x, false);
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

    TrainingData<Kind> data;
    data.x = to_owned_matrix(x);
    data.y = Kind::owned_targets(y);
    if (schedule.with_validation) {
        data.val_x = to_owned_matrix(val_x);
        data.val_y = Kind::owned_targets(val_y);
    }

    float best_loss = 0.0f;
    for (uint32_t epoch = 1; epoch <= num_epochs; ++epoch) {
        hooks.check_interrupt();
        float data_loss = training_pass<Kind>(model, opt, epoch, data, schedule, best_loss, hooks);
        if (schedule.with_validation) validation_pass<Kind>(model, data, schedule, hooks);
        // Strictly lower only: false for NaN, and epoch 1 set best_loss to its own loss.
        if (!model.save_best_params.empty() && best_loss > data_loss) {
            save_model_file(model, model.save_best_params);
            best_loss = data_loss;
        }
    }
}
