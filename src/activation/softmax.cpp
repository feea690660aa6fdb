#include "activation/softmax.hpp"

#include <string>

#include "elementwise.hpp"
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
    softmax_forward_rows(scores, output, 0, scores.rows);
}

void softmax_forward_rows(const Matrix& scores, Matrix& output, size_t first, size_t count) {
    elementwise().softmax(scores.row(first), output.row(first), count, scores.cols);
}
