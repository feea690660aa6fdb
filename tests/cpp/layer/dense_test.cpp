#include "layer/dense.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <new>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

Layer example_layer() {
    Layer layer;
    layer.layer_type = "dense";
    layer.n_inputs = 2;
    layer.n_neurons = 3;
    layer.weights = matrix_of({{1, 0, 2}, {0, 1, 3}});
    layer.biases = {0.5f, 0.0f, -1.0f};
    return layer;
}

Layer sized(uint64_t n_inputs, uint64_t n_neurons) {
    Layer layer;
    layer.layer_type = "dense";
    layer.n_inputs = n_inputs;
    layer.n_neurons = n_neurons;
    return layer;
}

}  // namespace

TEST(DenseForward, ExampleAndStoredInputs) {
    Layer layer = example_layer();
    Matrix inputs = matrix_of({{1, 2}});
    EXPECT_EQ(dense_forward(layer, inputs), matrix_of({{1.5f, 2, 7}}));
    EXPECT_EQ(layer.inputs, inputs);
}

TEST(DenseBackward, Example) {
    Layer layer = example_layer();
    dense_forward(layer, matrix_of({{1, 2}}));
    Matrix dinputs = dense_backward(layer, matrix_of({{1, 1, 1}}));
    EXPECT_EQ(layer.dweights, matrix_of({{1, 1, 1}, {2, 2, 2}}));
    EXPECT_EQ(layer.dbiases, (Vector{1, 1, 1}));
    EXPECT_EQ(dinputs, matrix_of({{3, 4}}));
}

TEST(DenseBackward, BiasGradientSumsRowsInOrderFromZero) {
    // 1 + 1 + 1e8 - 1e8 in row order is 0 in floats (1e8 absorbs the 2);
    // summing from the last row or pairwise gives 2.
    Layer layer;
    layer.weights = Matrix(1, 1, 1.0f);
    layer.biases = {0.0f};
    dense_forward(layer, Matrix(4, 1, 1.0f));
    dense_backward(layer, matrix_of({{1}, {1}, {1e8f}, {-1e8f}}));
    EXPECT_EQ(layer.dbiases, (Vector{0.0f}));
}

TEST(DenseBackward, RegularizerGradients) {
    Layer layer;
    layer.weights = matrix_of({{-2.0f, 0.0f, -0.0f, std::nanf("")}});
    layer.biases = {-3.0f, 0.0f, 1.5f, 4.0f};
    Matrix dvalues = matrix_of({{0.25f, 0.5f, 0.75f, 1.0f}});
    Matrix inputs = matrix_of({{1}});
    struct Case {
        float w_l1, w_l2, b_l1, b_l2;
    };
    for (Case c : {Case{0.1f, 0, 0, 0}, Case{0, 0.1f, 0, 0}, Case{0, 0, 0.1f, 0}, Case{0, 0, 0, 0.1f},
                   Case{0.1f, 0.3f, 0.2f, 0.7f}, Case{-1.0f, std::nanf(""), 0.0f, -0.0f}}) {
        layer.weight_regularizer_l1 = c.w_l1;
        layer.weight_regularizer_l2 = c.w_l2;
        layer.bias_regularizer_l1 = c.b_l1;
        layer.bias_regularizer_l2 = c.b_l2;
        layer.inputs = inputs;
        dense_backward(layer, dvalues);
        for (size_t j = 0; j < 4; ++j) {
            // dweights = inputs^T . dvalues = dvalues here.
            float w = layer.weights.data[j], dw = dvalues.data[j];
            if (c.w_l1 > 0) dw = dw + c.w_l1 * (w < 0 ? -1.0f : 1.0f);
            if (c.w_l2 > 0) dw = dw + (2 * c.w_l2) * w;
            float b = layer.biases[j], db = dvalues.data[j];
            if (c.b_l1 > 0) db = db + c.b_l1 * (b < 0 ? -1.0f : 1.0f);
            if (c.b_l2 > 0) db = db + (2 * c.b_l2) * b;
            EXPECT_EQ(bits_of(layer.dweights.data[j]), bits_of(dw)) << "j=" << j << " w_l1=" << c.w_l1;
            EXPECT_EQ(bits_of(layer.dbiases[j]), bits_of(db)) << "j=" << j << " b_l1=" << c.b_l1;
        }
    }
    // The worked values: -2 with L1 0.1 adds -0.1, 0 adds +0.1; with L2 0.1, -2 adds -0.4.
    layer.weight_regularizer_l1 = 0.1f;
    layer.weight_regularizer_l2 = layer.bias_regularizer_l1 = layer.bias_regularizer_l2 = 0;
    dense_backward(layer, Matrix(1, 4, 0.0f));
    EXPECT_EQ(layer.dweights.data[0], -0.1f);
    EXPECT_EQ(layer.dweights.data[1], 0.1f);
    EXPECT_EQ(layer.dweights.data[2], 0.1f);  // -0.0 counts as positive
    EXPECT_EQ(layer.dweights.data[3], 0.1f);  // so does NaN
    layer.weight_regularizer_l1 = 0;
    layer.weight_regularizer_l2 = 0.1f;
    dense_backward(layer, Matrix(1, 4, 0.0f));
    EXPECT_EQ(layer.dweights.data[0], 0.2f * -2.0f);
}

TEST(Dense, ZeroRowBatch) {
    Layer layer = example_layer();
    Matrix output = dense_forward(layer, Matrix(0, 2));
    EXPECT_EQ(output, Matrix(0, 3));
    layer.dweights = Matrix(2, 3, std::nanf(""));  // must not survive
    Matrix dinputs = dense_backward(layer, Matrix(0, 3));
    EXPECT_EQ(dinputs, Matrix(0, 2));
    EXPECT_EQ(layer.dweights, Matrix(2, 3, 0.0f));
    EXPECT_EQ(layer.dbiases, Vector(3, 0.0f));
    layer.bias_regularizer_l2 = 0.5f;  // the penalty still applies to an empty batch
    dense_backward(layer, Matrix(0, 3));
    EXPECT_EQ(layer.dbiases, (Vector{0.5f, 0.0f, -1.0f}));
}

TEST(Dense, ShapeFailures) {
    Layer layer = example_layer();
    EXPECT_THROW(dense_forward(layer, Matrix(1, 3)), Panic);
    Layer uninitialised = sized(2, 3);
    EXPECT_THROW(dense_forward(uninitialised, Matrix(1, 2)), Panic);

    dense_forward(layer, Matrix(2, 2, 1.0f));
    EXPECT_THROW(dense_backward(layer, Matrix(2, 4)), Panic);  // not n_neurons columns
    EXPECT_THROW(dense_backward(layer, Matrix(3, 3)), Panic);  // not the stored rows

    Layer short_biases = example_layer();
    short_biases.biases = {1.0f, 2.0f};
    try {
        dense_forward(short_biases, Matrix(1, 2));
        FAIL() << "no panic";
    } catch (const Panic& e) {
        EXPECT_STREQ(e.what(), "index out of bounds: the len is 2 but the index is 2");
    }
    short_biases.bias_regularizer_l1 = 0.1f;
    short_biases.inputs = Matrix(1, 2);
    EXPECT_THROW(dense_backward(short_biases, Matrix(1, 3)), Panic);
}

TEST(DenseInitialize, ShapesAndScale) {
    Layer layer = sized(300, 200);
    layer.biases = {5.0f};
    layer.weight_momentums = Matrix(1, 1, 9.0f);  // optimiser state is left alone
    dense_initialize(layer);
    EXPECT_EQ(layer.weights.rows, 300u);
    EXPECT_EQ(layer.weights.cols, 200u);
    EXPECT_EQ(layer.biases, Vector(200, 0.0f));
    EXPECT_EQ(layer.weight_momentums, Matrix(1, 1, 9.0f));
    double sum = 0, sum_sq = 0;
    for (float w : layer.weights.data) {
        sum += w;
        sum_sq += double(w) * w;
    }
    double n = double(layer.weights.size());
    EXPECT_NEAR(sum / n, 0.0, 5 * 0.01 / std::sqrt(n));
    EXPECT_NEAR(std::sqrt(sum_sq / n), 0.01, 0.0005);

    Layer again = layer;
    dense_initialize(again);
    EXPECT_NE(again.weights, layer.weights);  // a fresh draw every run
}

TEST(DenseInitialize, EmptySizes) {
    Layer no_inputs = sized(0, 4);
    dense_initialize(no_inputs);
    EXPECT_EQ(no_inputs.weights, Matrix(0, 4));
    EXPECT_EQ(no_inputs.biases, Vector(4, 0.0f));
    Layer no_neurons = sized(4, 0);
    dense_initialize(no_neurons);
    EXPECT_EQ(no_neurons.weights, Matrix(4, 0));
    EXPECT_TRUE(no_neurons.biases.empty());
}

TEST(DenseInitialize, OverflowPanicsAndHugeSizesFailAllocation) {
    Layer overflow = sized(uint64_t(1) << 32, uint64_t(1) << 32);
    EXPECT_THROW(dense_initialize(overflow), Panic);
    Layer over_int64 = sized(uint64_t(1) << 62, 2);
    EXPECT_THROW(dense_initialize(over_int64), Panic);
    // Fits a signed 64-bit count but no vector: a failed allocation.
    Layer beyond_vector = sized(uint64_t(1) << 61, 2);
    EXPECT_THROW(dense_initialize(beyond_vector), std::bad_alloc);
    Layer huge_biases = sized(0, uint64_t(1) << 62);
    EXPECT_THROW(dense_initialize(huge_biases), std::bad_alloc);
}

TEST(DenseInitialize, MillionByMillionFailsAllocation) {
    // 4 TB of weights: must surface as bad_alloc, never abort, also under
    // AddressSanitizer, whose operator new would end the process.
    Layer layer = sized(1000000, 1000000);
    EXPECT_THROW(dense_initialize(layer), std::bad_alloc);
}
