#include "loss/mean_squared_error.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "matrix_literal.hpp"
#include "panic.hpp"

TEST(MeanSquaredErrorLoss, ExampleAndSelector) {
    EXPECT_EQ(mean_squared_error_loss("mean_squared_error", {1.0f, 2.0f}, {1.5f, 2.0f}), 0.125f);
    for (const char* other : {"Mean_Squared_Error", "mean_squared_error ", "", "mse"})
        EXPECT_EQ(mean_squared_error_loss(other, {1.0f, 2.0f}, {1.5f, 2.0f}), 0.0f) << other;
    // Not the mean squared error: no failure even without predictions.
    EXPECT_EQ(mean_squared_error_loss("categorical_crossentropy", {}, {}), 0.0f);
}

TEST(MeanSquaredErrorLoss, UsesTheLaneSum) {
    // Squared errors 1e8, then 63 ones: a running sum absorbs every one, the
    // lanes gather them into eights that survive meeting 1e8.
    Vector predictions(64, 0.0f), y(64, 1.0f);
    y[0] = 1e4f;
    Vector squared(64);
    for (size_t i = 0; i < 64; ++i) squared[i] = (y[i] - predictions[i]) * (y[i] - predictions[i]);
    float running = 0.0f;
    for (float e : squared) running = running + e;
    float expected = array_sum(squared) / 64.0f;
    ASSERT_NE(expected, running / 64.0f);
    EXPECT_EQ(mean_squared_error_loss("mean_squared_error", predictions, y), expected);
}

TEST(MeanSquaredErrorLoss, Failures) {
    EXPECT_THROW(mean_squared_error_loss("mean_squared_error", {}, {1.0f}), Panic);
    try {
        mean_squared_error_loss("mean_squared_error", {1, 2, 3}, {1, 2});
        FAIL() << "no panic";
    } catch (const Panic& e) {
        EXPECT_STREQ(e.what(), "index out of bounds: the len is 2 but the index is 2");
    }
    // Extra targets are ignored; NaN propagates.
    EXPECT_EQ(mean_squared_error_loss("mean_squared_error", {1, 2, 3}, {1, 2, 5, 100}), 4.0f / 3.0f);
    EXPECT_TRUE(std::isnan(mean_squared_error_loss("mean_squared_error", {std::nanf("")}, {1})));
}

TEST(MeanSquaredErrorGradient, Example) {
    EXPECT_EQ(mean_squared_error_gradient(matrix_of({{3, 1}}), {2}), matrix_of({{1, -1}}));
}

TEST(MeanSquaredErrorGradient, DividesByColumnsThenRows) {
    // (0.7 x -2) / 3 / 3 and (0.7 x -2) / 9 round differently.
    float two_divisions = ((0.7f - 0.0f) * -2.0f) / 3.0f / 3.0f;
    ASSERT_NE(two_divisions, ((0.7f - 0.0f) * -2.0f) / 9.0f);
    Matrix gradient = mean_squared_error_gradient(Matrix(3, 3, 0.0f), {0.7f, 0.7f, 0.7f, 123.0f});
    EXPECT_EQ(gradient, Matrix(3, 3, two_divisions));
}

TEST(MeanSquaredErrorGradient, ShortTargetsPanic) {
    EXPECT_THROW(mean_squared_error_gradient(Matrix(3, 1), {1, 2}), Panic);
    EXPECT_EQ(mean_squared_error_gradient(Matrix(0, 1), {}), Matrix(0, 1));
}
