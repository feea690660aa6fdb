#include "optimizer/dyn_optimizer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

// A trained-looking layer: parameters and gradients with magnitudes from 1e-7 to 10.
Layer layer_with_gradients() {
    Layer layer;
    layer.layer_type = "dense";
    layer.weights = matrix_of({{0.5f, -0.25f, 1.0f}, {-2.0f, 0.0f, 3.0f}});
    layer.dweights = matrix_of({{0.1f, -3.0f, 0.0f}, {1e-6f, -1e-7f, 10.0f}});
    layer.biases = {0.125f, -1.0f, 4.0f};
    layer.dbiases = {-0.5f, 2e-6f, 0.0f};
    return layer;
}

DynamicOptimizer optimizer(const std::string& type, float lr) {
    DynamicOptimizer opt = create_optimizer(type, lr, 0.0f);
    opt.current_learning_rate = lr;
    return opt;
}

// The published rules written out element by element, apart from the library's
// loops: b1, b2, eps as the record holds them.
struct Moments {
    float m = 0, v = 0;
};

float adam_reference(float w, float g, Moments& s, float lr, int iterations) {
    const float b1 = 0.9f, b2 = 0.999f, eps = 1e-7f;
    float t = float(iterations + 1);
    s.m = (g * (1.0f - b1)) + (s.m * b1);
    float m_hat = s.m / (1.0f - powf(b1, t));
    s.v = ((g * g) * (1.0f - b2)) + (s.v * b2);
    float v_hat = s.v / (1.0f - powf(b2, t));
    return ((m_hat * -lr) / (sqrtf(v_hat) + eps)) + w;
}

float tf_adam_reference(float w, float g, Moments& s, float lr, int iterations) {
    const float b1 = 0.9f, b2 = 0.999f, eps = 1e-7f;
    float t = float(iterations + 1);
    float lr_t = (sqrtf(1.0f - powf(b2, t)) * lr) / (1.0f - powf(b1, t));
    s.m = (g * (1.0f - b1)) + (s.m * b1);
    s.v = ((g * g) * (1.0f - b2)) + (s.v * b2);
    return w - ((s.m * lr_t) / (sqrtf(s.v) + eps));
}

using Rule = float (*)(float, float, Moments&, float, int);

// Two steps of a rule over weights and biases against the reference.
void expect_two_steps(const std::string& type, Rule rule) {
    DynamicOptimizer opt = optimizer(type, 0.01f);
    Layer layer = layer_with_gradients();
    Layer expected = layer;
    std::vector<Moments> w_state(6), b_state(3);
    for (int step = 0; step < 2; ++step) {
        update_layer(opt, layer);
        for (size_t k = 0; k < 6; ++k)
            expected.weights.data[k] =
                rule(expected.weights.data[k], expected.dweights.data[k], w_state[k], 0.01f, opt.iterations);
        for (size_t j = 0; j < 3; ++j)
            expected.biases[j] = rule(expected.biases[j], expected.dbiases[j], b_state[j], 0.01f, opt.iterations);
        count_iteration(opt);
        for (size_t k = 0; k < 6; ++k) {
            EXPECT_EQ(bits_of(layer.weights.data[k]), bits_of(expected.weights.data[k]))
                << type << " step " << step << " weight " << k;
            EXPECT_EQ(layer.weight_momentums.data[k], w_state[k].m);
            EXPECT_EQ(layer.weight_cache.data[k], w_state[k].v);
        }
        for (size_t j = 0; j < 3; ++j) {
            EXPECT_EQ(bits_of(layer.biases[j]), bits_of(expected.biases[j])) << type << " step " << step << " bias " << j;
            EXPECT_EQ(layer.bias_momentums[j], b_state[j].m);
            EXPECT_EQ(layer.bias_cache[j], b_state[j].v);
        }
    }
}

}  // namespace

TEST(Optimizer, Constants) {
    DynamicOptimizer opt = create_optimizer("adam", 0.5f, 0.25f);
    EXPECT_EQ(bits_of(opt.epsilon), 0x33D6BF95u);
    EXPECT_EQ(bits_of(opt.beta_1), 0x3F666666u);
    EXPECT_EQ(bits_of(opt.beta_2), 0x3F7FBE77u);
    EXPECT_EQ(bits_of(opt.current_learning_rate), 0x3A83126Fu);
    EXPECT_EQ(opt.iterations, 0);
}

TEST(Adam, FirstStepsMatchTheRule) { expect_two_steps("adam", adam_reference); }

TEST(TfAdam, FirstStepsMatchTheRule) { expect_two_steps("tf_adam", tf_adam_reference); }

TEST(Adam, FirstStepIsAboutLearningRateTimesSign) {
    DynamicOptimizer opt = optimizer("adam", 0.01f);
    Layer layer = layer_with_gradients();
    update_layer(opt, layer);
    EXPECT_NEAR(layer.weights.at(0, 0), 0.5f - 0.01f, 1e-6);
    EXPECT_NEAR(layer.weights.at(0, 1), -0.25f + 0.01f, 1e-6);
    EXPECT_EQ(layer.weights.at(0, 2), 1.0f);  // zero gradient: no move
    EXPECT_EQ(layer.biases[2], 4.0f);
}

TEST(TfAdam, SmallGradientsMoveLessThanAdam) {
    // Near 1e-6 the epsilon after the uncorrected root makes tf_adam's step visibly smaller.
    DynamicOptimizer adam = optimizer("adam", 0.01f), tf = optimizer("tf_adam", 0.01f);
    Layer a = layer_with_gradients(), b = layer_with_gradients();
    update_layer(adam, a);
    update_layer(tf, b);
    float adam_step = std::fabs(a.weights.at(1, 0) - -2.0f);
    float tf_step = std::fabs(b.weights.at(1, 0) - -2.0f);
    EXPECT_LT(tf_step, 0.9f * adam_step);
    EXPECT_EQ(b.weights.at(0, 2), 1.0f);
}

TEST(Sgd, StepAndNoState) {
    DynamicOptimizer opt = optimizer("sgd", 0.5f);
    Layer layer = layer_with_gradients();
    Layer before = layer;
    update_layer(opt, layer);
    for (size_t k = 0; k < 6; ++k)
        EXPECT_EQ(layer.weights.data[k], (before.dweights.data[k] * -0.5f) + before.weights.data[k]);
    for (size_t j = 0; j < 3; ++j) EXPECT_EQ(layer.biases[j], (before.dbiases[j] * -0.5f) + before.biases[j]);
    EXPECT_EQ(layer.weight_momentums, Matrix());
    EXPECT_EQ(layer.weight_cache, Matrix());
    EXPECT_TRUE(layer.bias_momentums.empty());
}

TEST(UpdateLayer, UnknownTypesUpdateNothing) {
    for (const char* type : {"Adam", "", "sgd ", "rmsprop"}) {
        DynamicOptimizer opt = optimizer(type, 0.5f);
        Layer layer = layer_with_gradients();
        Layer before = layer;
        update_layer(opt, layer);
        EXPECT_EQ(layer, before) << type;
    }
}

TEST(UpdateLayer, EmptyLayerStaysEmpty) {
    for (const char* type : {"adam", "tf_adam", "sgd"}) {
        Layer dropout;
        dropout.layer_type = "dropout";
        update_layer(optimizer(type, 0.5f), dropout);
        EXPECT_EQ(dropout.weights, Matrix()) << type;
        EXPECT_TRUE(dropout.biases.empty()) << type;
    }
}

TEST(UpdateLayer, MismatchedStatePanicsNamingTheField) {
    struct Case {
        const char* type;
        void (*spoil)(Layer&);
        const char* field;
    };
    const Case cases[] = {
        {"adam", [](Layer& l) { l.weight_momentums = Matrix(2, 3); l.weight_cache = Matrix(2, 2); }, "weight_cache"},
        {"adam", [](Layer& l) { l.weight_cache = Matrix(2, 3); l.weight_momentums = Matrix(3, 2); }, "weight_momentums"},
        {"adam", [](Layer& l) { l.weight_cache = Matrix(2, 3); l.weight_momentums = Matrix(2, 3); l.bias_momentums = {1}; l.bias_cache = {1, 2, 3}; }, "bias_momentums"},
        {"adam", [](Layer& l) { l.weight_cache = Matrix(2, 3); l.weight_momentums = Matrix(2, 3); l.bias_momentums = {1, 2, 3}; l.bias_cache = {1, 2, 3, 4}; }, "bias_cache"},
        {"tf_adam", [](Layer& l) { l.weight_momentums = Matrix(1, 6); }, "weight_momentums"},
        {"tf_adam", [](Layer& l) { l.bias_cache = {1}; }, "bias_cache"},
        {"adam", [](Layer& l) { l.dweights = Matrix(); }, "dweights"},
        {"sgd", [](Layer& l) { l.dweights = Matrix(3, 2); }, "dweights"},
        {"sgd", [](Layer& l) { l.dbiases = {1, 2}; }, "dbiases"},
    };
    for (const Case& c : cases) {
        Layer layer = layer_with_gradients();
        c.spoil(layer);
        Layer before = layer;
        try {
            update_layer(optimizer(c.type, 0.5f), layer);
            ADD_FAILURE() << "no panic: " << c.type << " " << c.field;
        } catch (const Panic& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.field, 0), 0u) << e.what();
            EXPECT_EQ(layer.weights, before.weights);
            EXPECT_EQ(layer.biases, before.biases);
        }
    }
}

TEST(DecayLearningRate, Schedule) {
    DynamicOptimizer opt = create_optimizer("adam", 0.01f, 0.1f);
    opt.current_learning_rate = opt.learning_rate;
    float used[3];
    for (float& lr : used) {
        decay_learning_rate(opt);
        lr = opt.current_learning_rate;
        count_iteration(opt);
    }
    EXPECT_EQ(used[0], 0.01f);
    EXPECT_EQ(used[1], (1.0f / (0.1f * 1.0f + 1.0f)) * 0.01f);
    EXPECT_EQ(used[2], (1.0f / (0.1f * 2.0f + 1.0f)) * 0.01f);
    EXPECT_NEAR(used[1], 0.01f / 1.1f, 1e-9);
    EXPECT_NEAR(used[2], 0.01f / 1.2f, 1e-9);
    EXPECT_EQ(opt.iterations, 3);
}

TEST(DecayLearningRate, ZeroDecayKeepsRateAndNaNGoesOn) {
    DynamicOptimizer none = create_optimizer("sgd", 0.5f, 0.0f);
    none.current_learning_rate = 0.5f;
    none.iterations = 7;
    decay_learning_rate(none);
    EXPECT_EQ(none.current_learning_rate, 0.5f);
    DynamicOptimizer nan = create_optimizer("sgd", 0.5f, std::nanf(""));
    decay_learning_rate(nan);
    EXPECT_TRUE(std::isnan(nan.current_learning_rate));
}
