#include "model/categorical.hpp"

#include "accuracy/categorical.hpp"
#include "activation/softmax.hpp"
#include "loss/categorical_crossentropy.hpp"
#include "model/training.hpp"
#include "storage.hpp"

CategoricalModel create_categorical_model(const std::string& output_type,
                                          const std::string& save_best_params) {
    CategoricalModel model;
    model.output_type = output_type;
    model.save_best_params = save_best_params;
    return model;
}

namespace {

// What makes the shared training loop a classification loop.
struct CategoricalKind {
    using Model = CategoricalModel;
    using Label = int32_t;
    using Targets = LabelVector;
    using Predictions = LabelVector;

    static LabelVector owned_targets(const StridedView<int32_t>& view) {
        return to_owned_labels(view);
    }

    // The layers, then the softmax when output_type asks for it.
    static Matrix forward(CategoricalModel& model, const Matrix& inputs, bool training) {
        Matrix out = layers_forward(model.layers, inputs, training);
        if (model.output_type == "softmax") return softmax_forward(out);
        return out;
    }

    // The training loop's output step, into storage the loop keeps.
    static const Matrix& output_step(const CategoricalModel& model, const Matrix& last_output,
                                     Matrix& storage) {
        if (model.output_type != "softmax") return last_output;
        softmax_forward_into(last_output, storage);
        return storage;
    }

    static LabelVector predictions(const CategoricalModel& model, const Matrix& out) {
        return predicted_classes(model.output_type, out);
    }

    // Taken from the whole output, not from the predicted classes.
    static float data_loss(const CategoricalModel& model, const Matrix& out, const LabelVector&,
                           const LabelVector& y) {
        if (model.loss_type != "categorical_crossentropy") return 0.0f;
        return categorical_crossentropy_loss(out, y);
    }

    static float accuracy(const CategoricalModel& model, const LabelVector& predictions,
                          const LabelVector& y) {
        if (model.acc_type != "categorical") return 0.0f;
        return categorical_accuracy(predictions, y);
    }

    static void loss_gradient_into(const Matrix& out, const LabelVector& y, Matrix& gradient) {
        categorical_crossentropy_gradient_into(out, y, gradient);
    }

    static bool gradient_rows_fit(const LabelVector& y, size_t output_columns) {
        return classes_in_range(y, output_columns);
    }

    static const Matrix& output_storage(const CategoricalModel& model, const Matrix& last_output, Matrix& storage) {
        if (model.output_type != "softmax") return last_output;
        resize_matrix(storage, last_output.rows, last_output.cols);
        return storage;
    }

    static void output_rows(const CategoricalModel& model, const Matrix& last_output, Matrix& storage, size_t first,
                            size_t count) {
        if (model.output_type == "softmax") softmax_forward_rows(last_output, storage, first, count);
    }

    static void loss_gradient_rows(const Matrix& out, const LabelVector& y, Matrix& gradient, size_t first,
                                   size_t count) {
        categorical_crossentropy_gradient_rows(out, y, gradient, first, count);
    }
};

// Evaluation looks for Ctrl-C every this many printed lines.
constexpr size_t lines_between_interrupt_checks = 4096;

// out[sample][target] * 100: how sure the model is of the true class.
float certainty_of(const Matrix& out, size_t sample, int32_t target) {
    if (target < 0 || size_t(target) >= out.cols)
        throw Panic("class index " + std::to_string(target) + " of sample " +
                    std::to_string(sample) + " is out of range for " + std::to_string(out.cols) +
                    " output columns");
    return out.at(sample, size_t(target)) * 100.0f;
}

}  // namespace

void train_categorical_model(CategoricalModel model, DynamicOptimizer opt, uint16_t num_epochs,
                             uint16_t print_freq, const StridedView<float>& x,
                             const StridedView<int32_t>& y, const StridedView<float>& val_x,
                             const StridedView<int32_t>& val_y, const RunHooks& hooks) {
    train_model<CategoricalKind>(model, opt, num_epochs, print_freq, x, y, val_x, val_y, hooks);
}

void evaluate_categorical_model(CategoricalModel model, const StridedView<float>& val_x_view,
                                const StridedView<int32_t>& val_y_view, const RunHooks& hooks) {
    check_sample_count("val_x", val_x_view.rows, "val_y", val_y_view.rows);
    Matrix val_x = to_owned_matrix(val_x_view);
    LabelVector val_y = to_owned_labels(val_y_view);
    Matrix out = CategoricalKind::forward(model, val_x, false);
    LabelVector predictions = CategoricalKind::predictions(model, out);

    size_t correct = 0;
    for (size_t i = 0; i < predictions.size(); ++i) {
        if (i % lines_between_interrupt_checks == 0) hooks.check_interrupt();
        if (i >= val_y.size()) panic_index(val_y.size(), i);
        int32_t target = val_y[i];
        float certainty = certainty_of(out, i, target);
        print_line(categorical_sample_line(target, predictions[i], certainty), hooks);
        if (predictions[i] == target) correct += 1;
    }
    float percent = 0.0f;
    if (model.acc_type == "categorical")
        percent = (float(correct) / float(predictions.size())) * 100.0f;
    print_line(categorical_summary_line(percent), hooks);
}
