#pragma once
// The one optimiser type: opt_type picks the update rule at every step.

#include <cstdint>
#include <string>

#include "layer/layer.hpp"

struct DynamicOptimizer {
    std::string opt_type;               // "adam", "tf_adam" or "sgd"; else no update
    float learning_rate = 0.0f;         // base rate
    float current_learning_rate = 0.001f;  // rate in force; set by training, decayed each epoch
    float decay = 0.0f;                 // 0 means no decay
    int32_t iterations = 0;             // completed update steps
    float epsilon = 1e-7f;              // 0x33D6BF95
    float beta_1 = 0.9f;                // 0x3F666666
    float beta_2 = 0.999f;              // 0x3F7FBE77

    bool operator==(const DynamicOptimizer&) const = default;
};

DynamicOptimizer create_optimizer(const std::string& opt_type, float learning_rate, float decay);

void decay_learning_rate(DynamicOptimizer& opt);
void update_layer(const DynamicOptimizer& opt, Layer& layer);
void count_iteration(DynamicOptimizer& opt);
