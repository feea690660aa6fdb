#include "loss/categorical_crossentropy.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

const float clip_low = float_from_bits(0x33D6BF95);
const float clip_high = float_from_bits(0x3F7FFFFE);

std::string panic_text(const std::function<void()>& call) {
    try {
        call();
    } catch (const Panic& e) {
        return e.what();
    }
    return "no panic";
}

}  // namespace

TEST(CrossEntropyLoss, Example) {
    Matrix out = matrix_of({{0.7f, 0.2f, 0.1f}, {0.1f, 0.8f, 0.1f}});
    float expected = (-0.0f + -logf(0.7f) + -logf(0.8f)) / 2.0f;
    EXPECT_EQ(categorical_crossentropy_loss(out, {0, 1}), expected);
    EXPECT_NEAR(expected, 0.2899f, 1e-4);
}

TEST(CrossEntropyLoss, ClippingBounds) {
    EXPECT_EQ(clip_high, 0.99999988079071044921875f);
    struct Case {
        float probability, term;
    };
    for (Case c : {Case{0.0f, -logf(clip_low)}, Case{-1.0f, -logf(clip_low)}, Case{1e-8f, -logf(clip_low)},
                   Case{1.0f, -logf(clip_high)}, Case{2.0f, -logf(clip_high)}, Case{clip_high, -logf(clip_high)},
                   Case{clip_low, -logf(clip_low)}, Case{0.5f, -logf(0.5f)}}) {
        Matrix out = matrix_of({{c.probability, 0.5f}});
        EXPECT_EQ(categorical_crossentropy_loss(out, {0}), c.term) << c.probability;
    }
    EXPECT_NEAR(-logf(clip_low), 16.118f, 1e-3);
    EXPECT_GT(-logf(clip_high), 0.0f);  // never exactly 0
    EXPECT_TRUE(std::isnan(categorical_crossentropy_loss(matrix_of({{std::nanf(""), 0.5f}}), {0})));
}

TEST(CrossEntropyLoss, PlainLeftToRightMean) {
    // 16.118 first, then 63 terms of 1.19e-7: left to right absorbs every small
    // term, the lane sum gathers them first.
    Matrix out(64, 2, 1.0f);
    out.at(0, 0) = 0.0f;
    LabelVector y(64, 0);
    Vector terms(64, -logf(clip_high));
    terms[0] = -logf(clip_low);
    float sum = -0.0f;
    for (float q : terms) sum = sum + q;
    ASSERT_NE(sum, array_sum(terms));
    EXPECT_EQ(categorical_crossentropy_loss(out, y), sum / 64.0f);
}

TEST(CrossEntropyLoss, ShortAndEmptyTargets) {
    Matrix out = matrix_of({{0.7f, 0.3f}, {0.2f, 0.8f}});
    EXPECT_EQ(categorical_crossentropy_loss(out, {0}), -logf(0.7f) / 1.0f);  // first row only
    EXPECT_TRUE(std::isnan(categorical_crossentropy_loss(out, {})));
}

TEST(CrossEntropy, IndexFailures) {
    Matrix out = matrix_of({{0.7f, 0.2f, 0.1f}, {0.1f, 0.8f, 0.1f}});
    EXPECT_EQ(panic_text([&] { categorical_crossentropy_loss(out, {0, 3}); }),
              "index out of bounds: the len is 3 but the index is 3");
    EXPECT_EQ(panic_text([&] { categorical_crossentropy_gradient(out, {-1, 0}); }),
              "index out of bounds: the len is 3 but the index is -1");
    EXPECT_EQ(panic_text([&] { categorical_crossentropy_loss(out, {0, 1, 2}); }),
              "index out of bounds: the len is 2 but the index is 2");
    EXPECT_EQ(panic_text([&] { categorical_crossentropy_gradient(out, {0, 1, 2}); }),
              "index out of bounds: the len is 2 but the index is 2");
    EXPECT_THROW(categorical_crossentropy_loss(Matrix(1, 0), {0}), Panic);
}

TEST(CrossEntropyGradient, ExampleAndDivisorIsRows) {
    Matrix out = matrix_of({{0.7f, 0.2f, 0.1f}, {0.1f, 0.8f, 0.1f}});
    Matrix expected = matrix_of({{(0.7f + -1.0f) / 2.0f, 0.2f / 2.0f, 0.1f / 2.0f},
                                 {0.1f / 2.0f, (0.8f + -1.0f) / 2.0f, 0.1f / 2.0f}});
    EXPECT_EQ(categorical_crossentropy_gradient(out, {0, 1}), expected);
    EXPECT_NEAR(expected.at(0, 0), -0.15f, 1e-6);
    // A row without a target is its output over R, not over the number of targets.
    Matrix short_y = categorical_crossentropy_gradient(out, {0});
    EXPECT_EQ(short_y.at(1, 1), 0.8f / 2.0f);
    Matrix empty_y = categorical_crossentropy_gradient(out, {});
    for (size_t k = 0; k < out.size(); ++k) EXPECT_EQ(empty_y.data[k], out.data[k] / 2.0f);
}
