#include "model/checkpoint.hpp"

#include <utility>

void snapshot_layer(Layer& kept, Layer& live, bool first_layer) {
    kept.weights = live.weights;
    kept.biases = live.biases;
    kept.weight_momentums = live.weight_momentums;
    kept.weight_cache = live.weight_cache;
    kept.bias_momentums = live.bias_momentums;
    kept.bias_cache = live.bias_cache;
    if (stores_inputs(live) && !first_layer) std::swap(kept.inputs, live.inputs);
    if (has_relu(live)) std::swap(kept.activation_inputs, live.activation_inputs);
    if (live.layer_type == "dropout") std::swap(kept.binary_mask, live.binary_mask);
    if (live.layer_type == "dense") {
        std::swap(kept.dweights, live.dweights);
        std::swap(kept.dbiases, live.dbiases);
    }
}
