#include "layer/dense.hpp"

#include "blas.hpp"
#include "elementwise.hpp"
#include "panic.hpp"
#include "random.hpp"
#include "shape_check.hpp"
#include "storage.hpp"

namespace {

float sign_of(float x) { return x < 0.0f ? -1.0f : 1.0f; }  // zero, -0.0 and NaN count as positive

// The biases added to every row of output, checked to cover its columns.
const float* bias_row(const Layer& layer, const Matrix& output) {
    const Vector& biases = layer.biases;
    if (output.rows > 0 && biases.size() < output.cols) panic_index(biases.size(), biases.size());
    return biases.data();
}

// The failures of the backward products, raised before the layer is touched.
void require_backward_shapes(const Layer& layer, MatrixView inputs, const Matrix& dvalues) {
    require_product_shapes(view_of(dvalues), Transpose::no, view_of(layer.weights), Transpose::yes);
    require_product_shapes(inputs, Transpose::yes, view_of(dvalues), Transpose::no);
}

}  // namespace

void add_regularization_gradients(Layer& layer) {
    const Matrix& weights = layer.weights;
    Matrix& dweights = layer.dweights;
    if (layer.weight_regularizer_l1 > 0.0f || layer.weight_regularizer_l2 > 0.0f)
        require_same_shape(dweights, "dweights", weights, "weights");
    if (layer.weight_regularizer_l1 > 0.0f) {
        float lambda = layer.weight_regularizer_l1;
        for (size_t k = 0; k < dweights.size(); ++k)
            dweights.data[k] = dweights.data[k] + lambda * sign_of(weights.data[k]);
    }
    if (layer.weight_regularizer_l2 > 0.0f) {
        float twice_lambda = 2.0f * layer.weight_regularizer_l2;
        for (size_t k = 0; k < dweights.size(); ++k)
            dweights.data[k] = dweights.data[k] + twice_lambda * weights.data[k];
    }

    const Vector& biases = layer.biases;
    Vector& dbiases = layer.dbiases;
    if ((layer.bias_regularizer_l1 > 0.0f || layer.bias_regularizer_l2 > 0.0f) && biases.size() < dbiases.size())
        panic_index(biases.size(), biases.size());
    if (layer.bias_regularizer_l1 > 0.0f) {
        float lambda = layer.bias_regularizer_l1;
        for (size_t j = 0; j < dbiases.size(); ++j) dbiases[j] = dbiases[j] + lambda * sign_of(biases[j]);
    }
    if (layer.bias_regularizer_l2 > 0.0f) {
        float twice_lambda = 2.0f * layer.bias_regularizer_l2;
        for (size_t j = 0; j < dbiases.size(); ++j) dbiases[j] = dbiases[j] + twice_lambda * biases[j];
    }
}

namespace {

// The products of the backward step, then the regulariser terms, in the
// documented order (the bias sums are already in dbiases).
void finish_backward(Layer& layer, MatrixView inputs, const Matrix& dvalues, Matrix* dinputs) {
    if (dinputs != nullptr) matmul_into(*dinputs, dvalues, Transpose::no, layer.weights, Transpose::yes);
    matmul_into(layer.dweights, inputs, Transpose::yes, view_of(dvalues), Transpose::no);
    add_regularization_gradients(layer);
}

}  // namespace

void dense_initialize(Layer& layer) {
    size_t count = checked_element_count(layer.n_inputs, layer.n_neurons);
    require_allocatable(count);
    require_allocatable(layer.n_neurons);
    Matrix weights(layer.n_inputs, layer.n_neurons);
    NormalSampler sampler = normal_sampler_from_thread();
    for (size_t k = 0; k < count; ++k) weights.data[k] = float(next_standard_normal(sampler)) * 0.01f;
    layer.weights = std::move(weights);
    layer.biases.assign(layer.n_neurons, 0.0f);
}

Matrix dense_forward(Layer& layer, const Matrix& inputs) {
    layer.inputs = inputs;
    Matrix output;
    dense_forward_into(layer, view_of(layer.inputs), output);
    return output;
}

void dense_forward_into(const Layer& layer, MatrixView inputs, Matrix& output) {
    matmul_into(output, inputs, Transpose::no, view_of(layer.weights), Transpose::no);
    const float* biases = bias_row(layer, output);
    elementwise().add_bias(output.data.data(), output.rows, output.cols, biases);
}

void dense_relu_forward_into(Layer& layer, MatrixView inputs, Matrix& output, bool keep_pre_activation) {
    if (!keep_pre_activation) {
        // The product in output, then the bias add and the ReLU there in place.
        matmul_into(output, inputs, Transpose::no, view_of(layer.weights), Transpose::no);
        const float* biases = bias_row(layer, output);
        elementwise().add_bias_relu(output.data.data(), output.rows, output.cols, biases);
        return;
    }
    Matrix& pre_activation = layer.activation_inputs;
    matmul_into(pre_activation, inputs, Transpose::no, view_of(layer.weights), Transpose::no);
    const float* biases = bias_row(layer, pre_activation);
    resize_matrix(output, pre_activation.rows, pre_activation.cols);
    elementwise().add_bias_relu_copy(pre_activation.data.data(), output.data.data(), output.rows, output.cols,
                                     biases);
}

Matrix dense_backward(Layer& layer, const Matrix& dvalues) {
    Matrix dinputs;
    dense_backward_into(layer, view_of(layer.inputs), dvalues, &dinputs);
    return dinputs;
}

void dense_backward_into(Layer& layer, MatrixView inputs, const Matrix& dvalues, Matrix* dinputs) {
    require_backward_shapes(layer, inputs, dvalues);
    Vector& dbiases = layer.dbiases;
    dbiases.assign(dvalues.cols, 0.0f);
    elementwise().add_column_sums(dvalues.data.data(), dvalues.cols, dvalues.rows, dvalues.cols, dbiases.data());
    finish_backward(layer, inputs, dvalues, dinputs);
}

void dense_relu_backward_into(Layer& layer, MatrixView inputs, Matrix& dvalues, Matrix* dinputs,
                              const Matrix& relu_reference) {
    require_covers(relu_reference, dvalues.rows, dvalues.cols);
    require_backward_shapes(layer, inputs, dvalues);
    Vector& dbiases = layer.dbiases;
    dbiases.assign(dvalues.cols, 0.0f);
    elementwise().relu_gradient_column_sums(relu_reference.data.data(), relu_reference.cols, dvalues.data.data(),
                                            dvalues.rows, dvalues.cols, dbiases.data());
    finish_backward(layer, inputs, dvalues, dinputs);
}

void dense_forward_block(const Layer& layer, bool relu, const DenseBlock& block) {
    size_t rows = block.inputs.rows, cols = layer.weights.cols;
    const float* biases = layer.biases.data();
    MatrixView weights = view_of(layer.weights);
    if (!relu) {
        multiply_block(block.inputs, Transpose::no, weights, 0.0f, block.output, cols);
        elementwise().add_bias(block.output, rows, cols, biases);
    } else if (block.pre_activation != nullptr) {
        multiply_block(block.inputs, Transpose::no, weights, 0.0f, block.pre_activation, cols);
        elementwise().add_bias_relu_copy(block.pre_activation, block.output, rows, cols, biases);
    } else {
        multiply_block(block.inputs, Transpose::no, weights, 0.0f, block.output, cols);
        elementwise().add_bias_relu(block.output, rows, cols, biases);
    }
}

void dense_backward_block(const Layer& layer, bool relu, const DenseBlock& block, MatrixView weights_transposed,
                          float beta, float* dweights_sum) {
    size_t rows = block.inputs.rows, cols = layer.weights.cols;
    if (relu) {
        // relu(z) <= 0 exactly where z <= 0: either is the ReLU's reference.
        const float* reference = block.pre_activation != nullptr ? block.pre_activation : block.output;
        elementwise().relu_gradient(reference, cols, block.gradient, rows, cols);
    }
    MatrixView gradient{block.gradient, rows, cols, cols};
    multiply_block(block.inputs, Transpose::yes, gradient, beta, dweights_sum, cols);
    if (block.dinputs != nullptr)
        multiply_block(gradient, Transpose::no, weights_transposed, 0.0f, block.dinputs, layer.weights.rows);
}

void dense_bias_sums_into(Vector& dbiases, const Matrix& gradient, size_t first, size_t count) {
    elementwise().add_column_sums(gradient.data.data() + first, gradient.cols, gradient.rows, count,
                                  dbiases.data() + first);
}
