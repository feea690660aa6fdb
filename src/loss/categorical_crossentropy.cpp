#include "loss/categorical_crossentropy.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "elementwise.hpp"
#include "panic.hpp"
#include "storage.hpp"

namespace {

float from_bits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const float clip_low = from_bits(0x33D6BF95);   // 1e-7
const float clip_high = from_bits(0x3F7FFFFE);  // the float nearest 1 - 1e-7

// y must not be longer than out has rows, and every class must be a column of out.
void check_targets(const Matrix& out, const LabelVector& y) {
    if (y.size() > out.rows) panic_index(out.rows, out.rows);
    for (int32_t c : y)
        if (c < 0 || size_t(c) >= out.cols)
            throw Panic("index out of bounds: the len is " + std::to_string(out.cols) + " but the index is " +
                        std::to_string(c));
}

// The -1 of the true class of rows first .. end - 1 (below y's length).
void add_targets(const Matrix& out, const LabelVector& y, Matrix& gradient, size_t first, size_t end) {
    float rows = float(out.rows);
    for (size_t i = first; i < std::min(end, y.size()); ++i) {
        size_t target = size_t(y[i]);
        gradient.at(i, target) = (out.at(i, target) + -1.0f) / rows;
    }
}

float clip(float x) {
    if (x < clip_low) return clip_low;
    if (x > clip_high) return clip_high;
    return x;  // NaN fails both tests
}

}  // namespace

float categorical_crossentropy_loss(const Matrix& out, const LabelVector& y) {
    check_targets(out, y);
    float sum = -0.0f;
    for (size_t i = 0; i < y.size(); ++i) {
        float q = -logf(clip(out.at(i, size_t(y[i]))));
        sum = sum + q;
    }
    return sum / float(y.size());
}

Matrix categorical_crossentropy_gradient(const Matrix& out, const LabelVector& y) {
    Matrix gradient;
    categorical_crossentropy_gradient_into(out, y, gradient);
    return gradient;
}

void categorical_crossentropy_gradient_into(const Matrix& out, const LabelVector& y, Matrix& gradient) {
    check_targets(out, y);
    resize_matrix(gradient, out.rows, out.cols);
    float rows = float(out.rows);
    elementwise().divide(out.data.data(), rows, gradient.data.data(), out.size());
    add_targets(out, y, gradient, 0, y.size());
}

bool classes_in_range(const LabelVector& y, size_t columns) {
    for (int32_t c : y)
        if (c < 0 || size_t(c) >= columns) return false;
    return true;
}

void categorical_crossentropy_gradient_rows(const Matrix& out, const LabelVector& y, Matrix& gradient,
                                            size_t first, size_t count) {
    elementwise().divide(out.row(first), float(out.rows), gradient.row(first), count * out.cols);
    add_targets(out, y, gradient, first, first + count);
}
