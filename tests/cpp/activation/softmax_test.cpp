#include "activation/softmax.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

// The same steps written out: maximum by strict comparison, expf of the
// difference, a left-to-right sum from 0, one division each.
Vector reference_row(const std::vector<float>& x) {
    float m = x[0];
    for (size_t j = 1; j < x.size(); ++j)
        if (x[j] > m) m = x[j];
    Vector e(x.size());
    for (size_t j = 0; j < x.size(); ++j) e[j] = expf(x[j] - m);
    float s = 0.0f;
    for (float v : e) s = s + v;
    for (float& v : e) v = v / s;
    return e;
}

}  // namespace

TEST(Softmax, MatchesTheStepsExactly) {
    // Sixteen columns so that a lane-wise or pairwise sum would round differently.
    std::vector<float> row;
    for (int j = 0; j < 16; ++j) row.push_back(std::sin(float(j)) * 7.0f + float(j % 3));
    Matrix scores(2, 16);
    for (int j = 0; j < 16; ++j) {
        scores.at(0, size_t(j)) = row[size_t(j)];
        scores.at(1, size_t(j)) = -row[size_t(j)];
    }
    Matrix out = softmax_forward(scores);
    std::vector<float> negated(row);
    for (float& x : negated) x = -x;
    EXPECT_EQ(Vector(out.row(0), out.row(0) + 16), reference_row(row));
    EXPECT_EQ(Vector(out.row(1), out.row(1) + 16), reference_row(negated));
}

TEST(Softmax, ExampleAndStability) {
    Matrix out = softmax_forward(matrix_of({{1, 2, 3}, {1000, 1000, 0}, {-1000, -1000, -1000}}));
    EXPECT_NEAR(out.at(0, 0), 0.0900f, 1e-4);
    EXPECT_NEAR(out.at(0, 1), 0.2447f, 1e-4);
    EXPECT_NEAR(out.at(0, 2), 0.6652f, 1e-4);
    EXPECT_EQ(out.at(1, 0), 0.5f);
    EXPECT_EQ(out.at(1, 1), 0.5f);
    EXPECT_EQ(out.at(1, 2), 0.0f);
    for (size_t j = 0; j < 3; ++j) EXPECT_EQ(out.at(2, j), 1.0f / 3.0f);
}

TEST(Softmax, NaNMakesItsRowNaN) {
    float nan = std::nanf("");
    Matrix out = softmax_forward(matrix_of({{nan, 1, 2}, {1, nan, 2}, {1, 2, 3}}));
    for (size_t j = 0; j < 3; ++j) {
        EXPECT_TRUE(std::isnan(out.at(0, j)));
        EXPECT_TRUE(std::isnan(out.at(1, j)));
        EXPECT_FALSE(std::isnan(out.at(2, j)));
    }
}

TEST(Softmax, EmptyShapes) {
    EXPECT_EQ(softmax_forward(Matrix(0, 3)), Matrix(0, 3));
    EXPECT_EQ(softmax_forward(Matrix()), Matrix());
    EXPECT_THROW(softmax_forward(Matrix(2, 0)), Panic);
}
