#include "accuracy/categorical.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "matrix_literal.hpp"
#include "panic.hpp"

TEST(PredictedClasses, FirstStrictMaximum) {
    float nan = std::nanf("");
    Matrix out = matrix_of({{0.2f, 0.5f, 0.3f},
                            {0.4f, 0.4f, 0.2f},
                            {nan, 5.0f, 9.0f},
                            {1.0f, nan, 2.0f},
                            {3.0f, nan, -1.0f},
                            {-0.0f, 0.0f, -1.0f}});
    EXPECT_EQ(predicted_classes("softmax", out), (LabelVector{1, 0, 0, 2, 0, 0}));
    EXPECT_EQ(predicted_classes("softmax", Matrix(2, 1, 7.0f)), (LabelVector{0, 0}));
    EXPECT_EQ(predicted_classes("softmax", Matrix(2, 0)), (LabelVector{0, 0}));  // defined: class 0
    EXPECT_TRUE(predicted_classes("linear", out).empty());
    EXPECT_TRUE(predicted_classes("Softmax", out).empty());
}

TEST(CategoricalAccuracy, FractionOfPredictions) {
    EXPECT_EQ(categorical_accuracy({1, 2, 2}, {1, 0, 2}), 2.0f / 3.0f);
    EXPECT_EQ(categorical_accuracy({1, 2}, {1, 2, 7, 7}), 1.0f);  // extra targets ignored
    EXPECT_TRUE(std::isnan(categorical_accuracy({}, {1})));
}

TEST(CategoricalAccuracy, ShortTargetsNameTheirLengthTwice) {
    try {
        categorical_accuracy({1, 2, 2}, {1});
        FAIL() << "no panic";
    } catch (const Panic& e) {
        EXPECT_STREQ(e.what(), "index out of bounds: the len is 1 but the index is 1");
    }
}
