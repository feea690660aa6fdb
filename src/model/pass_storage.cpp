#include "model/pass_storage.hpp"

#include <algorithm>
#include <utility>

#include "dyn_layer.hpp"

namespace {

// Whether a product can read the caller's samples in place: rows of
// contiguous floats, each row starting at least a row's length after the last.
bool rows_contiguous(const StridedView<float>& v) {
    bool columns_contiguous = v.col_stride == 1 || v.cols <= 1;
    bool rows_apart = v.rows <= 1 || v.row_stride >= ptrdiff_t(v.cols == 0 ? 1 : v.cols);
    return columns_contiguous && rows_apart && (v.base != nullptr || v.rows == 0 || v.cols == 0);
}

}  // namespace

PassStorage make_pass_storage(const std::vector<Layer>& layers, const StridedView<float>& samples) {
    size_t layer_count = layers.size();
    PassStorage pass;
    pass.inputs.resize(layer_count == 0 ? 1 : layer_count);
    pass.activation_inputs.resize(layer_count);
    pass.outputs.resize(layer_count);
    if (layer_count > 0 && layers[0].layer_type == "dense" && rows_contiguous(samples)) {
        // Never written to, and the caller's array outlives the call.
        size_t row_stride = samples.rows <= 1 ? std::max<size_t>(samples.cols, 1) : size_t(samples.row_stride);
        pass.samples = MatrixView{samples.base, samples.rows, samples.cols, row_stride};
    } else {
        pass.inputs[0] = to_owned_matrix(samples);
        pass.samples = view_of(pass.inputs[0]);  // stays valid: moving or swapping a vector keeps its buffer
    }
    return pass;
}

void clear_forward_copies(std::vector<Layer>& layers) {
    for (Layer& layer : layers) {
        if (stores_inputs(layer)) layer.inputs = Matrix();
        if (has_relu(layer)) layer.activation_inputs = Matrix();
    }
}

namespace {

// Exchanges the forward copies in the layers with those parked in `pass`.
void swap_forward_copies(std::vector<Layer>& layers, PassStorage& pass) {
    for (size_t i = 0; i < layers.size(); ++i) {
        if (stores_inputs(layers[i])) std::swap(layers[i].inputs, pass.inputs[i]);
        if (has_relu(layers[i])) std::swap(layers[i].activation_inputs, pass.activation_inputs[i]);
    }
}

}  // namespace

void enter_pass(std::vector<Layer>& layers, PassStorage*& held, PassStorage& next) {
    if (held == &next) return;
    if (held != nullptr) swap_forward_copies(layers, *held);  // the layers get back empty slots
    swap_forward_copies(layers, next);
    held = &next;
}

Matrix& layer_output_storage(std::vector<Layer>& layers, PassStorage& pass, size_t i) {
    bool next_stores = i + 1 < layers.size() && stores_inputs(layers[i + 1]);
    return next_stores ? layers[i + 1].inputs : pass.outputs[i];
}
