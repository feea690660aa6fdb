#include "dyn_layer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "matrix_literal.hpp"
#include "panic.hpp"

namespace {

Layer dense_relu() {
    Layer layer;
    layer.layer_type = "dense";
    layer.activation_type = "relu";
    layer.n_inputs = 2;
    layer.n_neurons = 3;
    layer.weights = matrix_of({{1, 0, 2}, {0, 1, 3}});
    layer.biases = {0.5f, -3.0f, -1.0f};  // output [[1.5, -1, 7]] for inputs [[1, 2]]
    return layer;
}

}  // namespace

TEST(Initialize, DispatchesOnLayerType) {
    Layer dense;
    dense.layer_type = "dense";
    dense.n_inputs = 2;
    dense.n_neurons = 3;
    initialize(dense);
    EXPECT_EQ(dense.weights.rows, 2u);
    EXPECT_EQ(dense.biases, Vector(3, 0.0f));

    Layer dropout;
    dropout.layer_type = "dropout";
    dropout.dropout_rate = 0.25f;
    initialize(dropout);
    EXPECT_EQ(dropout.dropout_rate, 0.75f);

    for (const char* type : {"", "Dense", "dropout ", "relu"}) {
        Layer inert;
        inert.layer_type = type;
        inert.n_inputs = 2;
        inert.n_neurons = 2;
        inert.dropout_rate = 0.25f;
        Layer before = inert;
        initialize(inert);
        EXPECT_EQ(inert, before) << type;
    }
}

TEST(Forward, ReluAfterDenseKeepsPreActivation) {
    Layer layer = dense_relu();
    Matrix out = forward(layer, matrix_of({{1, 2}}), false);
    EXPECT_EQ(out, matrix_of({{1.5f, 0, 7}}));
    EXPECT_EQ(layer.activation_inputs, matrix_of({{1.5f, -1, 7}}));
    EXPECT_EQ(layer.inputs, matrix_of({{1, 2}}));

    for (const char* activation : {"linear", "softmax", "", "ReLU"}) {
        layer.activation_type = activation;
        layer.activation_inputs = Matrix();
        EXPECT_EQ(forward(layer, matrix_of({{1, 2}}), true), matrix_of({{1.5f, -1, 7}})) << activation;
        EXPECT_EQ(layer.activation_inputs, Matrix()) << activation;
    }
}

TEST(Backward, ReluGradientComesBeforeTheDenseStep) {
    Layer layer = dense_relu();
    forward(layer, matrix_of({{1, 2}}), true);
    Matrix dinputs = backward(layer, matrix_of({{1, 1, 1}}));
    // The dense step sees [[1, 0, 1]]: the ReLU zeroed the column whose output was -1.
    EXPECT_EQ(layer.dweights, matrix_of({{1, 0, 1}, {2, 0, 2}}));
    EXPECT_EQ(layer.dbiases, (Vector{1, 0, 1}));
    EXPECT_EQ(dinputs, matrix_of({{3, 3}}));
}

TEST(Backward, ReluGradientComesBeforeTheDropoutStep) {
    Layer layer;
    layer.layer_type = "dropout";
    layer.activation_type = "relu";
    layer.dropout_rate = 1.0f;
    Matrix out = forward(layer, matrix_of({{-2, 3}}), true);
    EXPECT_EQ(out, matrix_of({{0, 3}}));
    EXPECT_EQ(backward(layer, matrix_of({{5, 6}})), matrix_of({{0, 6}}));
}

TEST(InertLayer, ForwardAndBackwardGiveEmpty) {
    for (const char* activation : {"", "relu"}) {
        Layer layer;
        layer.layer_type = "conv";
        layer.activation_type = activation;
        EXPECT_EQ(forward(layer, matrix_of({{1, 2}}), true), Matrix()) << activation;
        EXPECT_EQ(layer.inputs, Matrix());
        EXPECT_EQ(backward(layer, Matrix()), Matrix()) << activation;
    }
    Layer plain;
    plain.layer_type = "";
    EXPECT_EQ(backward(plain, matrix_of({{1, 2}})), Matrix());

    // The next dense layer cannot take the empty output.
    Layer dense = dense_relu();
    EXPECT_THROW(forward(dense, Matrix(), true), Panic);
}

TEST(Backward, DenseReluMatchesFiniteDifferences) {
    // Away from ReLU's kink every pre-activation is at least 0.2 from 0, and a
    // step of 0.01 moves none of them by more than 0.04; dense + ReLU is then
    // linear in each parameter and central differences are exact up to rounding.
    Layer layer;
    layer.layer_type = "dense";
    layer.activation_type = "relu";
    layer.weights = Matrix(3, 4);
    for (size_t k = 0; k < 12; ++k) layer.weights.data[k] = float(int(k * 7 % 11) - 5) / 4.0f;
    layer.biases = {0.3f, -0.4f, 0.1f, 0.45f};
    Matrix inputs = matrix_of({{1.0f, -0.5f, 2.0f}, {-1.5f, 0.75f, 0.25f}});
    Matrix upstream = matrix_of({{0.5f, -1.0f, 2.0f, 0.25f}, {1.5f, 0.75f, -0.5f, 1.0f}});

    auto loss = [&](const Matrix& x) {
        Layer copy = layer;
        Matrix out = forward(copy, x, true);
        double sum = 0;
        for (size_t k = 0; k < out.size(); ++k) sum += double(out.data[k]) * upstream.data[k];
        return sum;
    };

    Matrix dinputs = [&] {
        forward(layer, inputs, true);
        return backward(layer, upstream);
    }();
    size_t active = 0;
    for (float z : layer.activation_inputs.data) {
        ASSERT_GE(std::fabs(z), 0.2f) << "too close to the kink";
        active += z > 0;
    }
    ASSERT_GT(active, 0u);
    ASSERT_LT(active, layer.activation_inputs.size());  // some gradients must be cut

    // Perturbs one float, returns the central difference of the loss.
    auto central = [&](float& value, const Matrix& x) {
        float original = value;
        float up = original + 0.01f, down = original - 0.01f;
        value = up;
        double plus = loss(x);
        value = down;
        double minus = loss(x);
        value = original;
        return (plus - minus) / (double(up) - double(down));
    };

    double gradient_size = 0;
    for (size_t k = 0; k < layer.weights.size(); ++k) {
        double expected = central(layer.weights.data[k], inputs);
        EXPECT_NEAR(layer.dweights.data[k], expected, 1e-3) << "weight " << k;
        gradient_size += std::fabs(expected);
    }
    for (size_t j = 0; j < layer.biases.size(); ++j)
        EXPECT_NEAR(layer.dbiases[j], central(layer.biases[j], inputs), 1e-3) << "bias " << j;
    Matrix x = inputs;
    for (size_t k = 0; k < x.size(); ++k)
        EXPECT_NEAR(dinputs.data[k], central(x.data[k], x), 1e-3) << "input " << k;
    EXPECT_GT(gradient_size, 1.0);  // an all-zero gradient cannot pass
}

TEST(ForwardStored, StoresAndReturnsWhatForwardDoes) {
    // Every kind the dispatcher knows, with and without a ReLU, plus an inert one.
    struct Case {
        const char* type;
        const char* activation;
    };
    Matrix inputs = matrix_of({{1, 2}, {-3, 0.5f}});
    for (Case c : {Case{"dense", "relu"}, Case{"dense", ""}, Case{"dropout", "relu"}, Case{"dropout", ""},
                   Case{"conv", "relu"}, Case{"conv", ""}}) {
        for (bool training : {true, false}) {
            Layer layer = dense_relu();
            layer.layer_type = c.type;
            layer.activation_type = c.activation;
            layer.dropout_rate = 1.0f;  // keeps everything, so both passes draw the same mask
            Layer by_forward = layer;
            Matrix expected = forward(by_forward, inputs, training);

            Layer stored = layer;
            if (stores_inputs(stored)) stored.inputs = inputs;
            Matrix output(5, 5, 9.0f);  // storage of another shape is resized and overwritten
            forward_stored(stored, training, output);
            EXPECT_EQ(output, expected) << c.type << " " << c.activation << " " << training;
            EXPECT_EQ(stored, by_forward) << c.type << " " << c.activation << " " << training;

            // Without keeping it, a dense ReLU layer leaves activation_inputs alone.
            bool dense_relu = std::string(c.type) == "dense" && std::string(c.activation) == "relu";
            Layer unkept = layer;
            if (stores_inputs(unkept)) unkept.inputs = inputs;
            if (dense_relu) unkept.activation_inputs = Matrix(1, 1, 3.0f);
            Matrix unkept_output;
            forward_stored(unkept, training, unkept_output, false);
            EXPECT_EQ(unkept_output, expected) << c.type << " " << c.activation << " " << training;
            if (dense_relu) {
                EXPECT_EQ(unkept.activation_inputs, Matrix(1, 1, 3.0f));
                unkept.activation_inputs = by_forward.activation_inputs;
            }
            EXPECT_EQ(unkept, by_forward) << c.type << " " << c.activation << " " << training;
        }
    }
}

TEST(BackwardInto, SkippingTheInputGradientLeavesTheLayerGradients) {
    struct Case {
        const char* type;
        const char* activation;
        float regularizer;
    };
    Matrix inputs = matrix_of({{1, 2}, {-3, 0.5f}});
    for (Case c : {Case{"dense", "relu", 0}, Case{"dense", "", 0}, Case{"dense", "relu", 0.1f},
                   Case{"dropout", "relu", 0}, Case{"dropout", "", 0}, Case{"conv", "relu", 0},
                   Case{"conv", "", 0}}) {
        Layer layer = dense_relu();
        layer.layer_type = c.type;
        layer.activation_type = c.activation;
        layer.dropout_rate = 1.0f;
        layer.weight_regularizer_l1 = layer.weight_regularizer_l2 = c.regularizer;
        layer.bias_regularizer_l1 = layer.bias_regularizer_l2 = c.regularizer;
        Matrix out = forward(layer, inputs, true);
        Matrix upstream(out.rows, out.cols);  // the gradient w.r.t. that output
        for (size_t k = 0; k < upstream.size(); ++k) upstream.data[k] = float(k % 5) * 0.75f - 1.0f;

        Layer by_backward = layer;
        Matrix expected = backward(by_backward, upstream);

        Layer with_inputs = layer;
        Matrix scratch = upstream, dinputs(1, 1, 9.0f);
        backward_into(with_inputs, scratch, &dinputs);
        EXPECT_EQ(dinputs, expected) << c.type << " " << c.activation;
        EXPECT_EQ(with_inputs, by_backward) << c.type << " " << c.activation;

        Layer without_inputs = layer;
        scratch = upstream;
        backward_into(without_inputs, scratch, nullptr);
        EXPECT_EQ(without_inputs, by_backward) << c.type << " " << c.activation;

        // The ReLU's output stands in for the pre-activation output it replaced.
        Layer from_output = layer;
        from_output.activation_inputs = Matrix();
        if (!has_relu(from_output) || from_output.layer_type != "dense") from_output = layer;
        scratch = upstream;
        backward_into(from_output, scratch, &dinputs, &out);
        EXPECT_EQ(dinputs, expected) << c.type << " " << c.activation;
        from_output.activation_inputs = layer.activation_inputs;
        EXPECT_EQ(from_output, by_backward) << c.type << " " << c.activation;
    }
}

TEST(BackwardInto, ShapeFailuresLeaveTheLayerUntouched) {
    Layer layer = dense_relu();
    forward(layer, matrix_of({{1, 2}}), true);
    layer.dweights = Matrix(2, 3, 4.0f);
    layer.dbiases = {1, 2, 3};
    for (Matrix bad : {Matrix(1, 4, 1.0f), Matrix(2, 3, 1.0f)}) {  // wrong width, wrong rows
        for (bool want_inputs : {true, false}) {
            Layer copy = layer;
            Matrix dinputs;
            EXPECT_THROW(backward_into(copy, bad, want_inputs ? &dinputs : nullptr), Panic);
            EXPECT_EQ(copy.dweights, layer.dweights);
            EXPECT_EQ(copy.dbiases, layer.dbiases);
        }
    }
}
