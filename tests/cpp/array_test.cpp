#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>

#include "array.hpp"
#include "layer/layer.hpp"
#include "panic.hpp"

namespace {

float bits(uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Straightforward restatement of the combination order, kept apart from the
// production loop so a reordering there is caught.
float reference_sum(const std::vector<float>& v) {
    float p[8] = {};
    size_t blocks = v.size() / 8;
    for (size_t i = 0; i < blocks * 8; ++i) p[i % 8] = p[i % 8] + v[i];
    float s = 0.0f;
    s = s + (p[0] + p[4]);
    s = s + (p[1] + p[5]);
    s = s + (p[2] + p[6]);
    s = s + (p[3] + p[7]);
    for (size_t i = blocks * 8; i < v.size(); ++i) s = s + v[i];
    return s;
}

}  // namespace

TEST(ArraySum, EmptyIsZero) { EXPECT_EQ(array_sum(Vector{}), 0.0f); }

TEST(ArraySum, OrderDiffersFromLeftToRight) {
    // 1e8 absorbs small addends in a left-to-right sum; lane order keeps them.
    Vector v = {1e8f, 1.0f, 1.0f, 1.0f, -1e8f, 1.0f, 1.0f, 1.0f, 4.0f};
    float left_to_right = 0.0f;
    for (float x : v) left_to_right += x;
    EXPECT_EQ(array_sum(v), reference_sum(v));
    EXPECT_EQ(array_sum(v), 10.0f);
    EXPECT_NE(left_to_right, array_sum(v));
}

TEST(ArraySum, MatchesReferenceOnAwkwardValues) {
    for (size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 100u, 1001u}) {
        Vector v(n);
        for (size_t i = 0; i < n; ++i) v[i] = std::sin(float(i) * 1.7f) * std::pow(10.0f, float(i % 9) - 4.0f);
        EXPECT_EQ(array_sum(v), reference_sum(v)) << "n=" << n;
    }
}

TEST(ArraySum, NegativeZeroLanesGivePositiveZero) {
    Vector v(8, -0.0f);
    EXPECT_FALSE(std::signbit(array_sum(v)));
    EXPECT_TRUE(std::isnan(array_sum(Vector{1.0f, bits(0x7fc00000)})));
}

TEST(Matrix, OverflowingShapeIsAPanic) {
    EXPECT_THROW(Matrix(size_t(1) << 62, size_t(1) << 62), Panic);
    EXPECT_THROW(Matrix(size_t(1) << 40, size_t(1) << 40), Panic);  // > INT64_MAX elements
}

TEST(Matrix, ShapeBeyondThisMachinesMemoryFailsAllocation) {
    EXPECT_THROW(Matrix(1000000, 1000000), std::bad_alloc);  // 4 TB
    EXPECT_NO_THROW(Matrix(1000, 1000));
}

TEST(ToOwned, BroadcastViewBeyondMemoryFailsAllocation) {
    // One element standing for 10^12 (stride 0, as numpy.broadcast_to makes).
    float one = 1.0f;
    StridedView<float> broadcast{&one, 1000000, 1000000, 0, 0};
    EXPECT_THROW(to_owned_matrix(broadcast), std::bad_alloc);
    StridedView<float> small{&one, 3, 2, 0, 0};
    EXPECT_EQ(to_owned_matrix(small), Matrix(3, 2, 1.0f));
}

TEST(ToOwned, ReadsAnyStridesInLogicalOrder) {
    // 3 x 4 row-major buffer; view it transposed and reversed along the rows.
    float buf[12];
    for (int i = 0; i < 12; ++i) buf[i] = float(i);
    StridedView<float> transposed{buf, 4, 3, 1, 4};
    Matrix t = to_owned_matrix(transposed);
    ASSERT_EQ(t.rows, 4u);
    ASSERT_EQ(t.cols, 3u);
    EXPECT_EQ(t.at(1, 2), 9.0f);
    StridedView<float> reversed{buf + 8, 3, 4, -4, 1};
    Matrix r = to_owned_matrix(reversed);
    EXPECT_EQ(r.at(0, 0), 8.0f);
    EXPECT_EQ(r.at(2, 3), 3.0f);
    StridedView<int32_t> empty{nullptr, 0, 1, 1, 1};
    EXPECT_TRUE(to_owned_labels(empty).empty());
}

TEST(Layer, CopiesOwnEveryArray) {
    Layer a = build_layer({3, 2, "dense", "relu", 0.25f});
    a.weights = Matrix(3, 2, 1.0f);
    a.biases = {1.0f, 2.0f};
    Layer b = a;
    b.weights.at(0, 0) = 5.0f;
    b.biases[1] = 7.0f;
    EXPECT_EQ(a.weights.at(0, 0), 1.0f);
    EXPECT_EQ(a.biases[1], 2.0f);
    EXPECT_EQ(b.layer_type, "dense");
    EXPECT_EQ(b.dropout_rate, 0.25f);
}

TEST(Layer, DefaultsAreEmpty) {
    Layer l = build_layer({});
    EXPECT_EQ(l, Layer{});
    EXPECT_TRUE(l.weights.data.empty());
    EXPECT_EQ(l.weights.rows, 0u);
    EXPECT_EQ(l.weight_regularizer_l1, 0.0f);
}
