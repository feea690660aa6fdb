#include "model/linear.hpp"

#include <cmath>

#include "accuracy/linear.hpp"
#include "activation/linear.hpp"
#include "loss/mean_squared_error.hpp"
#include "model/training.hpp"

LinearModel create_linear_model(const std::string& output_type, const std::string& save_best_params) {
    LinearModel model;
    model.output_type = output_type;
    model.save_best_params = save_best_params;
    return model;
}

namespace {

// What makes the shared training loop a regression loop.
struct LinearKind {
    using Model = LinearModel;
    using Label = float;
    using Targets = Vector;
    using Predictions = Vector;

    static Vector owned_targets(const StridedView<float>& view) { return to_owned_vector(view); }

    // The layers, then the linear output step when output_type asks for it.
    static Matrix forward(LinearModel& model, const Matrix& inputs, bool training) {
        Matrix out = layers_forward(model.layers, inputs, training);
        if (model.output_type == "linear") return linear_forward(out);
        return out;
    }

    // The training loop's output step: linear_forward's copy would be identical
    // to its argument and nothing writes either, so the layers' output serves.
    static const Matrix& output_step(const LinearModel&, const Matrix& last_output, Matrix&) {
        return last_output;
    }

    // The first output column; nothing unless the output step is "linear".
    static Vector predictions(const LinearModel& model, const Matrix& out) {
        if (model.output_type != "linear") return {};
        if (out.rows > 0 && out.cols == 0)
            throw Panic("a linear model needs at least one output column, but the output is " +
                        std::to_string(out.rows) + " x 0");
        Vector first_column(out.rows);
        for (size_t i = 0; i < out.rows; ++i) first_column[i] = out.at(i, 0);
        return first_column;
    }

    static float data_loss(const LinearModel& model, const Matrix&, const Vector& predictions,
                           const Vector& y) {
        return mean_squared_error_loss(model.loss_type, predictions, y);
    }

    static float accuracy(const LinearModel& model, const Vector& predictions, const Vector& y) {
        if (model.acc_type != "linear") return 0.0f;
        return linear_accuracy(predictions, y, model.acc_precision);
    }

    static void loss_gradient_into(const Matrix& out, const Vector& y, Matrix& gradient) {
        mean_squared_error_gradient_into(out, y, gradient);
    }

    static bool gradient_rows_fit(const Vector&, size_t) { return true; }
    static const Matrix& output_storage(const LinearModel&, const Matrix& last_output, Matrix&) { return last_output; }
    static void output_rows(const LinearModel&, const Matrix&, Matrix&, size_t, size_t) {}
    static void loss_gradient_rows(const Matrix& out, const Vector& y, Matrix& gradient, size_t first,
                                   size_t count) {
        mean_squared_error_gradient_rows(out, y, gradient, first, count);
    }
};

// Evaluation looks for Ctrl-C every this many printed lines.
constexpr size_t lines_between_interrupt_checks = 4096;

}  // namespace

void train_linear_model(LinearModel model, DynamicOptimizer opt, uint16_t num_epochs,
                        uint16_t print_freq, const StridedView<float>& x,
                        const StridedView<float>& y, const StridedView<float>& val_x,
                        const StridedView<float>& val_y, const RunHooks& hooks) {
    train_model<LinearKind>(model, opt, num_epochs, print_freq, x, y, val_x, val_y, hooks);
}

void evaluate_linear_model(LinearModel model, const StridedView<float>& val_x_view,
                           const StridedView<float>& val_y_view, const RunHooks& hooks) {
    check_sample_count("val_x", val_x_view.rows, "val_y", val_y_view.rows);
    Matrix val_x = to_owned_matrix(val_x_view);
    Vector val_y = to_owned_vector(val_y_view);
    Matrix out = LinearKind::forward(model, val_x, false);
    Vector predictions = LinearKind::predictions(model, out);

    size_t hits = 0;
    float error_sum = 0.0f;
    for (size_t i = 0; i < predictions.size(); ++i) {
        if (i % lines_between_interrupt_checks == 0) hooks.check_interrupt();
        if (i >= val_y.size()) panic_index(val_y.size(), i);
        float error = std::fabs(val_y[i] - predictions[i]);
        print_line(linear_sample_line(val_y[i], predictions[i], error), hooks);
        if (error <= model.acc_precision) hits += 1;
        error_sum = error_sum + error;
    }
    // The figure printed after "Validation MSE: " is the mean absolute error; the
    // line keeps its established wording because scripts read it.
    float count = float(predictions.size());
    float mean_error = error_sum / count;
    float percent = (float(hits) / count) * 100.0f;
    print_line(linear_summary_line(mean_error, percent), hooks);
}
