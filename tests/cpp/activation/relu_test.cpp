#include "activation/relu.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "matrix_literal.hpp"
#include "panic.hpp"

TEST(ReluForward, ExampleSignedZeroAndNaN) {
    Matrix out = relu_forward(matrix_of({{-1, 0, 2.5f, -0.0f, std::nanf(""), -1e-40f}}));
    EXPECT_EQ(bits_of(out.data[0]), bits_of(0.0f));
    EXPECT_EQ(bits_of(out.data[1]), bits_of(0.0f));
    EXPECT_EQ(out.data[2], 2.5f);
    EXPECT_EQ(bits_of(out.data[3]), bits_of(-0.0f));  // -0.0 is not below 0
    EXPECT_TRUE(std::isnan(out.data[4]));
    EXPECT_EQ(bits_of(out.data[5]), bits_of(0.0f));  // a negative subnormal is
    EXPECT_EQ(out.rows, 1u);
    EXPECT_EQ(out.cols, 6u);
}

TEST(ReluBackward, ZeroesWhereInputWasAtMostZero) {
    Matrix dvalues = matrix_of({{5, 6, 7, 8, 9}});
    Matrix out = relu_backward(matrix_of({{-1, 0, 2.5f, -0.0f, std::nanf("")}}), dvalues);
    EXPECT_EQ(out, matrix_of({{0, 0, 7, 0, 9}}));  // NaN input keeps the gradient
}

TEST(ReluBackward, WiderStoredInputsAreReadByPosition) {
    // Stored 2 x 3, gradient 2 x 2: element (1, 0) of the stored matrix is 4, not 3.
    Matrix stored = matrix_of({{1, -1, -1}, {4, -1, -1}});
    EXPECT_EQ(relu_backward(stored, matrix_of({{1, 2}, {3, 4}})), matrix_of({{1, 0}, {3, 0}}));
}

TEST(ReluBackward, SmallerStoredInputsPanic) {
    EXPECT_THROW(relu_backward(Matrix(1, 2), Matrix(1, 3)), Panic);
    EXPECT_THROW(relu_backward(Matrix(1, 3), Matrix(2, 3)), Panic);
    EXPECT_THROW(relu_backward(Matrix(), Matrix(1, 1)), Panic);
    EXPECT_EQ(relu_backward(Matrix(), Matrix(0, 3)), Matrix(0, 3));  // nothing is read
}
