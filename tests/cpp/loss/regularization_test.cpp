#include "loss/regularization.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "matrix_literal.hpp"

namespace {

Layer example_layer(float w_l1, float w_l2, float b_l1, float b_l2) {
    Layer layer;
    layer.layer_type = "dense";
    layer.weights = matrix_of({{1.0f, -2.0f}, {0.5f, 0.0f}});
    layer.biases = {3.0f, -1.0f};
    layer.weight_regularizer_l1 = w_l1;
    layer.weight_regularizer_l2 = w_l2;
    layer.bias_regularizer_l1 = b_l1;
    layer.bias_regularizer_l2 = b_l2;
    return layer;
}

}  // namespace

TEST(RegularizationLoss, Examples) {
    // Every term, the weight L1 one included, needs a factor above 0.
    EXPECT_EQ(bits_of(regularization_loss(example_layer(0, 0, 0, 0))), bits_of(0.0f));
    EXPECT_EQ(regularization_loss(example_layer(0, 0.5f, 0.1f, 0)), (0.0f + 0.5f * 5.25f) + 0.1f * 4.0f);
    EXPECT_NEAR(regularization_loss(example_layer(0, 0.5f, 0.1f, 0)), 3.025f, 1e-6);
    EXPECT_EQ(regularization_loss(example_layer(10.0f, 0, 0, 0)), 35.0f);
    EXPECT_EQ(regularization_loss(example_layer(0, 0, 0, 2.0f)), 20.0f);
    EXPECT_EQ(regularization_loss(example_layer(-1.0f, std::nanf(""), -0.0f, -5.0f)), 0.0f);
}

TEST(RegularizationLoss, TermsAddedOneByOneAcrossLayers) {
    // total + (a + b) and (total + a) + b differ here: the model's total takes
    // each term in turn, not a per-layer subtotal.
    Layer big = example_layer(0, 0, 0, 0);
    big.weights = matrix_of({{1e8f}});
    big.weight_regularizer_l1 = 1.0f;
    Layer small = example_layer(1.0f, 0, 1.0f, 0);
    small.weights = matrix_of({{3.0f}});
    small.biases = {3.0f};
    float in_turn = ((0.0f + 1e8f) + 3.0f) + 3.0f;
    ASSERT_NE(in_turn, (0.0f + 1e8f) + (3.0f + 3.0f));
    EXPECT_EQ(regularization_loss(std::vector<Layer>{big, small}), in_turn);
    EXPECT_EQ(regularization_loss(std::vector<Layer>{}), 0.0f);
}

TEST(RegularizationLoss, EmptyArraysAndNaN) {
    Layer dropout;
    dropout.layer_type = "dropout";
    dropout.weight_regularizer_l1 = dropout.weight_regularizer_l2 = 1.0f;
    EXPECT_EQ(regularization_loss(dropout), 0.0f);
    Layer nan_weight = example_layer(1.0f, 0, 0, 0);
    nan_weight.weights.data[3] = std::nanf("");
    EXPECT_TRUE(std::isnan(regularization_loss(nan_weight)));
    // A skipped term leaves an infinite sum out.
    Layer infinite = example_layer(0, 0, 0, 0);
    infinite.weights.data[0] = INFINITY;
    EXPECT_EQ(regularization_loss(infinite), 0.0f);
}
