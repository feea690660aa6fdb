#include "model/training.hpp"

#include <string>
#include <utility>

Matrix layers_forward(std::vector<Layer>& layers, const Matrix& inputs, bool training) {
    if (layers.empty()) return inputs;
    Matrix out = forward(layers[0], inputs, training);
    for (size_t i = 1; i < layers.size(); ++i) out = forward(layers[i], out, training);
    return out;
}

void layers_backward(std::vector<Layer>& layers, Matrix gradient) {
    for (size_t i = layers.size(); i-- > 0;) gradient = backward(layers[i], gradient);
}

void optimizer_step(DynamicOptimizer& opt, std::vector<Layer>& layers) {
    decay_learning_rate(opt);
    for (Layer& layer : layers) update_layer(opt, layer);
    count_iteration(opt);
}

void check_sample_count(const char* inputs_name, size_t rows, const char* targets_name,
                        size_t length) {
    if (rows == length) return;
    throw Panic(std::string("sample count mismatch: ") + inputs_name + " has " +
                std::to_string(rows) + " rows but " + targets_name + " has " +
                std::to_string(length) + " entries");
}
