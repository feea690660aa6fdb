#include "optimizer/sgd.hpp"

#include "elementwise.hpp"
#include "shape_check.hpp"

void sgd_update(const DynamicOptimizer& opt, Layer& layer) {
    require_same_shape(layer.dweights, "dweights", layer.weights, "weights");
    require_same_length(layer.dbiases, "dbiases", layer.biases, "biases");
    float negative_lr = -opt.current_learning_rate;
    const ElementwiseKernels& kernels = elementwise();
    kernels.sgd(negative_lr, layer.weights.size(), layer.dweights.data.data(), layer.weights.data.data());
    kernels.sgd(negative_lr, layer.biases.size(), layer.dbiases.data(), layer.biases.data());
}
