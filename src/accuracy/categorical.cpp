#include "accuracy/categorical.hpp"

#include "panic.hpp"

LabelVector predicted_classes(const std::string& output_type, const Matrix& out) {
    if (output_type != "softmax") return {};
    LabelVector classes(out.rows, 0);  // a row without columns reports class 0
    for (size_t i = 0; i < out.rows; ++i) {
        if (out.cols == 0) continue;
        const float* row = out.row(i);
        size_t best = 0;
        float best_value = row[0];
        for (size_t j = 1; j < out.cols; ++j) {
            if (best_value < row[j]) {  // first maximum wins; NaN never wins after column 0
                best = j;
                best_value = row[j];
            }
        }
        classes[i] = int32_t(best);
    }
    return classes;
}

float categorical_accuracy(const LabelVector& predictions, const LabelVector& y) {
    if (y.size() < predictions.size()) panic_index(y.size(), y.size());
    size_t count = 0;
    for (size_t i = 0; i < predictions.size(); ++i)
        if (predictions[i] == y[i]) count += 1;
    return float(count) / float(predictions.size());  // no predictions: 0 / 0, NaN
}
