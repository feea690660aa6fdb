#include "layer/dropout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

Layer dropout_with_keep(float p) {
    Layer layer;
    layer.layer_type = "dropout";
    layer.dropout_rate = p;
    return layer;
}

Matrix counting(size_t rows, size_t cols) {
    Matrix m(rows, cols);
    for (size_t k = 0; k < m.size(); ++k) m.data[k] = float(k % 13) - 6.0f;
    return m;
}

}  // namespace

TEST(DropoutInitialize, FlipsRateEachRun) {
    Layer layer = dropout_with_keep(0.25f);
    dropout_initialize(layer);
    EXPECT_EQ(layer.dropout_rate, 0.75f);
    dropout_initialize(layer);
    EXPECT_EQ(layer.dropout_rate, 0.25f);
}

TEST(DropoutForward, MaskStatistics) {
    for (float p : {0.5f, 0.8f, 0.1f}) {
        Layer layer = dropout_with_keep(p);
        Matrix inputs = counting(400, 250);
        Matrix out = dropout_forward(layer, inputs, true);
        ASSERT_EQ(layer.binary_mask.rows, 400u);
        ASSERT_EQ(layer.binary_mask.cols, 250u);
        size_t kept = 0;
        for (size_t k = 0; k < inputs.size(); ++k) {
            float m = layer.binary_mask.data[k];
            ASSERT_TRUE(m == 0.0f || m == 1.0f / p) << m;
            kept += m != 0.0f;
            ASSERT_EQ(bits_of(out.data[k]), bits_of(inputs.data[k] * m));
        }
        double n = double(inputs.size());
        EXPECT_NEAR(double(kept), n * p, 5.0 * std::sqrt(n * p * (1 - p))) << "p=" << p;
        EXPECT_EQ(layer.inputs, inputs);
    }
}

TEST(DropoutForward, MasksDifferBetweenPasses) {
    Layer layer = dropout_with_keep(0.5f);
    dropout_forward(layer, Matrix(10, 10, 1.0f), true);
    Matrix first = layer.binary_mask;
    dropout_forward(layer, Matrix(10, 10, 1.0f), true);
    EXPECT_NE(layer.binary_mask, first);
}

TEST(DropoutForward, KeepAllAndKeepNone) {
    Matrix inputs = counting(3, 5);
    Layer keep_all = dropout_with_keep(1.0f);
    EXPECT_EQ(dropout_forward(keep_all, inputs, true), inputs);
    EXPECT_EQ(keep_all.binary_mask, Matrix(3, 5, 1.0f));

    // Keep probability 0 (a drop rate of 1): everything dropped, mask 0.0, no NaN.
    Layer keep_none = dropout_with_keep(0.0f);
    EXPECT_EQ(dropout_forward(keep_none, inputs, true), Matrix(3, 5, 0.0f));
    EXPECT_EQ(keep_none.binary_mask, Matrix(3, 5, 0.0f));
    EXPECT_EQ(dropout_backward(keep_none, Matrix(3, 5, 1.0f)), Matrix(3, 5, 0.0f));
}

TEST(DropoutForward, InferencePassesThroughAndKeepsMask) {
    Layer layer = dropout_with_keep(7.0f);  // never looked at outside training
    layer.binary_mask = Matrix(1, 1, 2.0f);
    Matrix inputs = counting(2, 3);
    EXPECT_EQ(dropout_forward(layer, inputs, false), inputs);
    EXPECT_EQ(layer.binary_mask, Matrix(1, 1, 2.0f));
    EXPECT_EQ(layer.inputs, inputs);
}

TEST(DropoutForward, ProbabilityOutOfRange) {
    struct Case {
        float p;
        const char* error;
    };
    for (Case c : {Case{-0.5f, "ProbabilityTooSmall"}, Case{std::nanf(""), "ProbabilityTooSmall"},
                   Case{1.5f, "ProbabilityTooLarge"}, Case{INFINITY, "ProbabilityTooLarge"}}) {
        Layer layer = dropout_with_keep(c.p);
        try {
            dropout_forward(layer, Matrix(2, 2), true);
            ADD_FAILURE() << "no panic for " << c.p;
        } catch (const Panic& e) {
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
    }
}

TEST(DropoutBackward, ReturnsMaskForUnitGradient) {
    Layer layer = dropout_with_keep(0.5f);
    dropout_forward(layer, counting(20, 20), true);
    EXPECT_EQ(dropout_backward(layer, Matrix(20, 20, 1.0f)), layer.binary_mask);
}

TEST(DropoutBackward, SmallerMaskPanics) {
    Layer layer = dropout_with_keep(0.5f);
    EXPECT_THROW(dropout_backward(layer, Matrix(1, 1)), Panic);  // no training pass yet
    layer.binary_mask = Matrix(2, 2, 2.0f);
    EXPECT_THROW(dropout_backward(layer, Matrix(3, 2)), Panic);
    EXPECT_THROW(dropout_backward(layer, Matrix(2, 3)), Panic);
}
