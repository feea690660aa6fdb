#include "layer/dense.hpp"

#include "blas.hpp"
#include "panic.hpp"
#include "random.hpp"
#include "shape_check.hpp"

namespace {

float sign_of(float x) { return x < 0.0f ? -1.0f : 1.0f; }  // zero, -0.0 and NaN count as positive

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
    Matrix output = matmul(inputs, Transpose::no, layer.weights, Transpose::no);
    const Vector& biases = layer.biases;
    if (output.rows > 0 && biases.size() < output.cols) panic_index(biases.size(), biases.size());
    for (size_t i = 0; i < output.rows; ++i) {
        float* row = output.row(i);
        for (size_t j = 0; j < output.cols; ++j) row[j] = row[j] + biases[j];
    }
    return output;
}

Matrix dense_backward(Layer& layer, const Matrix& dvalues) {
    // dinputs does not depend on the gradients below; taking its product first
    // checks dvalues against weights before anything in the layer is replaced.
    Matrix dinputs = matmul(dvalues, Transpose::no, layer.weights, Transpose::yes);

    matmul_into(layer.dweights, layer.inputs, Transpose::yes, dvalues, Transpose::no);

    Vector& dbiases = layer.dbiases;
    dbiases.assign(dvalues.cols, 0.0f);
    for (size_t i = 0; i < dvalues.rows; ++i) {
        const float* row = dvalues.row(i);
        for (size_t j = 0; j < dvalues.cols; ++j) dbiases[j] = dbiases[j] + row[j];
    }

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
    return dinputs;
}
