#include "accuracy/linear.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "panic.hpp"

TEST(LinearAccuracy, InclusiveTolerance) {
    EXPECT_EQ(linear_accuracy({1.0f, 2.0f}, {1.5f, 2.0f}, 0.5f), 1.0f);
    EXPECT_EQ(linear_accuracy({1.0f, 2.0f}, {1.5f, 2.0f}, 0.25f), 0.5f);
    EXPECT_EQ(linear_accuracy({std::nanf(""), 2.0f}, {1.0f, 2.0f}, 1.0f), 0.5f);
    EXPECT_EQ(linear_accuracy({1.0f, 2.0f}, {1.0f, 2.0f}, std::nanf("")), 0.0f);
}

TEST(LinearAccuracy, DividesByLengthOfTargets) {
    EXPECT_EQ(linear_accuracy({1, 2, 3}, {1, 2, 3, 4}, 0.0f), 3.0f / 4.0f);
    EXPECT_TRUE(std::isnan(linear_accuracy({}, {}, 1.0f)));
    EXPECT_THROW(linear_accuracy({1, 2, 3}, {1, 2}, 1.0f), Panic);
}
