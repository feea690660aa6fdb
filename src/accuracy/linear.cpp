#include "accuracy/linear.hpp"

#include <cmath>

#include "panic.hpp"

float linear_accuracy(const Vector& predictions, const Vector& y, float acc_precision) {
    if (y.size() < predictions.size()) panic_index(y.size(), y.size());
    size_t count = 0;
    for (size_t i = 0; i < predictions.size(); ++i) {
        float d = std::fabs(predictions[i] - y[i]);
        if (acc_precision >= d) count += 1;  // inclusive; false for NaN
    }
    return float(count) / float(y.size());
}
