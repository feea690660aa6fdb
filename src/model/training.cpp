#include "model/training.hpp"

#include <string>

Matrix layers_forward(std::vector<Layer>& layers, const Matrix& inputs, bool training) {
    if (layers.empty()) return inputs;
    Matrix out = forward(layers[0], inputs, training);
    for (size_t i = 1; i < layers.size(); ++i) out = forward(layers[i], out, training);
    return out;
}

namespace {

// What layer i reads instead of its stored inputs: the pass's samples for the
// first layer (only a dense layer takes them; the others ignore them).
const MatrixView* samples_for(const PassStorage& pass, size_t i) { return i == 0 ? &pass.samples : nullptr; }

}  // namespace

const Matrix& layers_forward_stored(std::vector<Layer>& layers, PassStorage& pass, bool training,
                                    bool keep_pre_activation) {
    if (layers.empty()) return pass.inputs[0];
    for (size_t i = 0; i < layers.size(); ++i)
        forward_stored(layers[i], training, layer_output_storage(layers, pass, i), keep_pre_activation,
                       samples_for(pass, i));
    return pass.outputs.back();
}

void layers_backward_stored(std::vector<Layer>& layers, PassStorage& pass, std::vector<Matrix>& gradients) {
    for (size_t i = layers.size(); i-- > 0;)
        backward_into(layers[i], gradients[i], i > 0 ? &gradients[i - 1] : nullptr,
                      &layer_output_storage(layers, pass, i), samples_for(pass, i));
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
