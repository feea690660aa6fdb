#pragma once
// One record serves every kind of layer; fields a kind does not use stay empty.
// Field order is the model file's key order.

#include <cstdint>
#include <string>

#include "array.hpp"

struct Layer {
    std::string layer_type;        // "dense" or "dropout"; anything else is inert
    std::string activation_type;   // "relu" puts a ReLU after the layer
    uint64_t n_inputs = 0;         // input columns of a dense layer
    uint64_t n_neurons = 0;        // output columns of a dense layer
    Matrix weights;                // n_inputs x n_neurons; initialize, optimiser
    Vector biases;                 // n_neurons; initialize, optimiser
    float weight_regularizer_l1 = 0.0f;
    float weight_regularizer_l2 = 0.0f;
    float bias_regularizer_l1 = 0.0f;
    float bias_regularizer_l2 = 0.0f;
    Matrix inputs;                 // samples x input columns; last forward (dense, dropout)
    Matrix activation_inputs;      // samples x output columns; output before the ReLU
    Matrix dweights;               // n_inputs x n_neurons; dense_backward
    Vector dbiases;                // n_neurons; dense_backward
    Matrix weight_momentums;       // as weights; optimiser state
    Matrix weight_cache;           // as weights; optimiser state
    Vector bias_momentums;         // as biases; optimiser state
    Vector bias_cache;             // as biases; optimiser state
    float dropout_rate = 0.0f;     // drop fraction as built; keep probability after initialize
    Matrix binary_mask;            // samples x columns; 0 or 1/p, last training dropout pass

    bool operator==(const Layer&) const = default;
};

// The arguments of add_*_model_layer after conversion; absent ones keep these defaults.
struct LayerSpec {
    uint64_t n_inputs = 0;
    uint64_t n_neurons = 0;
    std::string layer_type;
    std::string activation_type;
    float dropout_rate = 0.0f;
};

// Nothing is validated: any text, size and rate is stored as given.
Layer build_layer(const LayerSpec& spec);
