#include "layer/layer.hpp"

Layer build_layer(const LayerSpec& spec) {
    Layer layer;
    layer.n_inputs = spec.n_inputs;
    layer.n_neurons = spec.n_neurons;
    layer.layer_type = spec.layer_type;
    layer.activation_type = spec.activation_type;
    layer.dropout_rate = spec.dropout_rate;
    return layer;
}
