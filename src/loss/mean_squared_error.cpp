#include "loss/mean_squared_error.hpp"

#include "elementwise.hpp"
#include "panic.hpp"
#include "storage.hpp"

float mean_squared_error_loss(const std::string& loss_type, const Vector& predictions, const Vector& y) {
    if (loss_type != "mean_squared_error") return 0.0f;
    size_t n = predictions.size();
    if (y.size() < n) panic_index(y.size(), y.size());
    if (n == 0) throw Panic("mean squared error of zero predictions has no value");
    float sum = array_sum_of(n, [&](size_t i) {
        float d = y[i] - predictions[i];
        return d * d;
    });
    return sum / float(n);
}

Matrix mean_squared_error_gradient(const Matrix& out, const Vector& y) {
    Matrix gradient;
    mean_squared_error_gradient_into(out, y, gradient);
    return gradient;
}

void mean_squared_error_gradient_into(const Matrix& out, const Vector& y, Matrix& gradient) {
    if (out.cols > 0 && y.size() < out.rows) panic_index(y.size(), y.size());
    resize_matrix(gradient, out.rows, out.cols);
    mean_squared_error_gradient_rows(out, y, gradient, 0, out.rows);
}

void mean_squared_error_gradient_rows(const Matrix& out, const Vector& y, Matrix& gradient, size_t first,
                                      size_t count) {
    float columns = float(out.cols);
    float rows = float(out.rows);
    elementwise().mean_squared_error_gradient(out.row(first), y.data() + first, count, out.cols, columns, rows,
                                              gradient.row(first));
}
