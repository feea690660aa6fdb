#include "layer/dropout.hpp"

#include <cmath>
#include <cstdio>
#include <string>

#include "elementwise.hpp"
#include "panic.hpp"
#include "random.hpp"
#include "shape_check.hpp"
#include "storage.hpp"

void dropout_initialize(Layer& layer) { layer.dropout_rate = 1.0f - layer.dropout_rate; }

namespace {

std::string probability_text(float p) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", double(p));
    return text;
}

// Fills mask with 0.0 (dropped) or 1 / p (kept), one Bernoulli(p) draw per
// element in row-major order. A keep probability of 0 drops everything with
// mask 0.0 rather than 0 / 0.
void draw_mask(Matrix& mask, float p) {
    if (p == 0.0f) {
        for (float& m : mask.data) m = 0.0f;
        return;
    }
    float kept = 1.0f / p;  // 1 / p, the mask value k / p for k = 1
    ThreadGenerator& generator = thread_generator();
    double probability = p;
    for (float& m : mask.data) m = bernoulli(generator, probability) ? kept : 0.0f;
}

}  // namespace

Matrix dropout_forward(Layer& layer, const Matrix& inputs, bool training) {
    layer.inputs = inputs;
    Matrix output;
    dropout_forward_stored(layer, training, output);
    return output;
}

void dropout_forward_stored(Layer& layer, bool training, Matrix& output) {
    const Matrix& inputs = layer.inputs;
    if (!training) {
        output = inputs;
        return;
    }
    float p = layer.dropout_rate;
    if (p < 0.0f || std::isnan(p))
        throw Panic("ProbabilityTooSmall: dropout keep probability " + probability_text(p) + " is below 0");
    if (p > 1.0f)
        throw Panic("ProbabilityTooLarge: dropout keep probability " + probability_text(p) + " is above 1");
    Matrix& mask = layer.binary_mask;
    resize_matrix(mask, inputs.rows, inputs.cols);
    draw_mask(mask, p);
    resize_matrix(output, inputs.rows, inputs.cols);
    elementwise().multiply(inputs.data.data(), mask.data.data(), output.data.data(), output.size());
}

Matrix dropout_backward(Layer& layer, const Matrix& dvalues) {
    Matrix dinputs = dvalues;
    dropout_backward_in_place(layer, dinputs);
    return dinputs;
}

void dropout_backward_in_place(const Layer& layer, Matrix& dvalues) {
    const Matrix& mask = layer.binary_mask;
    require_covers(mask, dvalues.rows, dvalues.cols);
    elementwise().multiply_rows(dvalues.data.data(), dvalues.rows, dvalues.cols, mask.data.data(), mask.cols);
}
