#include "activation/softmax.hpp"

#include <cmath>
#include <string>

#include "panic.hpp"
#include "storage.hpp"

Matrix softmax_forward(const Matrix& scores) {
    Matrix output;
    softmax_forward_into(scores, output);
    return output;
}

void softmax_forward_into(const Matrix& scores, Matrix& output) {
    if (scores.rows > 0 && scores.cols == 0)
        throw Panic("softmax of " + std::to_string(scores.rows) + " rows with no columns: a row has no maximum");
    resize_matrix(output, scores.rows, scores.cols);
    for (size_t i = 0; i < scores.rows; ++i) {
        const float* x = scores.row(i);
        float* e = output.row(i);
        float max = x[0];  // a NaN wins only in the first column
        for (size_t j = 1; j < scores.cols; ++j)
            if (x[j] > max) max = x[j];
        float sum = 0.0f;
        for (size_t j = 0; j < scores.cols; ++j) {
            e[j] = expf(x[j] - max);
            sum = sum + e[j];
        }
        for (size_t j = 0; j < scores.cols; ++j) e[j] = e[j] / sum;
    }
}
