#include "model/row_blocks.hpp"

#include <algorithm>
#include <climits>

#include "dyn_layer.hpp"
#include "layer/dense.hpp"
#include "storage.hpp"

bool runs_in_blocks(const std::vector<Layer>& layers, const MatrixView& samples) {
    if (layers.empty() || samples.rows == 0 || samples.row_stride > size_t(INT_MAX)) return false;
    size_t width = samples.cols;
    for (const Layer& layer : layers) {
        const Matrix& weights = layer.weights;
        bool fits = layer.layer_type == "dense" && width > 0 && weights.rows == width && weights.cols > 0 &&
                    weights.cols <= size_t(INT_MAX) && weights.data.size() == weights.rows * weights.cols &&
                    layer.biases.size() == weights.cols;
        if (!fits) return false;
        width = weights.cols;
    }
    return true;
}

namespace {

// Each layer's storage for the whole pass, as a block of all its rows.
std::vector<DenseBlock> whole_pass(std::vector<Layer>& layers, PassStorage& pass, std::vector<Matrix>* gradients,
                                   bool keep_pre_activation) {
    std::vector<DenseBlock> whole(layers.size());
    for (size_t i = 0; i < layers.size(); ++i) {
        Layer& layer = layers[i];
        whole[i].inputs = i == 0 ? pass.samples : view_of(layer.inputs);
        bool keeps = keep_pre_activation && has_relu(layer);
        whole[i].pre_activation = keeps ? layer.activation_inputs.data.data() : nullptr;
        whole[i].output = layer_output_storage(layers, pass, i).data.data();
        whole[i].gradient = gradients != nullptr ? (*gradients)[i].data.data() : nullptr;
        whole[i].dinputs = gradients != nullptr && i > 0 ? (*gradients)[i - 1].data.data() : nullptr;
    }
    return whole;
}

// Rows first .. first + count - 1 of a layer's whole-pass storage.
DenseBlock rows_of(const DenseBlock& whole, const Layer& layer, size_t first, size_t count) {
    auto at = [first](float* base, size_t width) { return base != nullptr ? base + first * width : nullptr; };
    size_t n_inputs = layer.weights.rows, n_neurons = layer.weights.cols;
    return {rows_of(whole.inputs, first, count), at(whole.pre_activation, n_neurons), at(whole.output, n_neurons),
            at(whole.gradient, n_neurons), at(whole.dinputs, n_inputs)};
}

// Multiply-adds of one forward product of every layer over `rows` rows.
double forward_multiply_adds(const std::vector<Layer>& layers, size_t rows) {
    double sum = 0.0;
    for (const Layer& layer : layers) sum += double(rows) * double(layer.weights.size());
    return sum;
}

void forward_block(const std::vector<Layer>& layers, const std::vector<DenseBlock>& whole, size_t first,
                   size_t count) {
    for (size_t i = 0; i < layers.size(); ++i)
        dense_forward_block(layers[i], has_relu(layers[i]), rows_of(whole[i], layers[i], first, count));
}

// The gradients, weight gradients, their groups' partial sums and the
// transposed weights, for the pass about to run.
void prepare_gradients(std::vector<Layer>& layers, std::vector<Matrix>& gradients, BlockStorage& storage,
                       size_t rows) {
    storage.blocks = row_blocks(rows);
    size_t partial_count = storage.blocks.groups - 1;
    storage.group_dweights.resize(partial_count);
    storage.weights_transposed.resize(layers.size());
    for (std::vector<Matrix>& group : storage.group_dweights) group.resize(layers.size());
    for (size_t i = 0; i < layers.size(); ++i) {
        Layer& layer = layers[i];
        size_t n_inputs = layer.weights.rows, n_neurons = layer.weights.cols;
        resize_matrix(gradients[i], rows, n_neurons);
        resize_matrix(layer.dweights, n_inputs, n_neurons);
        for (std::vector<Matrix>& group : storage.group_dweights) resize_matrix(group[i], n_inputs, n_neurons);
        layer.dbiases.assign(n_neurons, 0.0f);
        if (i > 0) transpose_into(storage.weights_transposed[i], view_of(layer.weights));
    }
}

}  // namespace

const Matrix& shape_block_pass(std::vector<Layer>& layers, PassStorage& pass, bool keep_pre_activation) {
    size_t rows = pass.samples.rows;
    for (size_t i = 0; i < layers.size(); ++i) {
        size_t n_neurons = layers[i].weights.cols;
        resize_matrix(layer_output_storage(layers, pass, i), rows, n_neurons);
        if (keep_pre_activation && has_relu(layers[i])) resize_matrix(layers[i].activation_inputs, rows, n_neurons);
    }
    return pass.outputs.back();
}

void train_in_blocks(std::vector<Layer>& layers, PassStorage& pass, std::vector<Matrix>& gradients,
                     BlockStorage& storage, bool keep_pre_activation, const BlockRowsStep& rows_step) {
    prepare_gradients(layers, gradients, storage, pass.samples.rows);
    std::vector<DenseBlock> whole = whole_pass(layers, pass, &gradients, keep_pre_activation);
    const RowBlocks& blocks = storage.blocks;
    // A group's blocks in order: its weight gradient sums them as matmul_into's group does.
    double multiply_adds = 3.0 * forward_multiply_adds(layers, blocks.rows);
    run_blocks(multiply_adds, blocks.groups, [&](size_t group) {
        size_t group_first = group_first_block(blocks, group);
        for (size_t block = group_first; block < group_first_block(blocks, group + 1); ++block) {
            size_t first = block_first_row(blocks, block), count = block_row_count(blocks, block);
            forward_block(layers, whole, first, count);
            rows_step(first, count);
            float beta = block == group_first ? 0.0f : 1.0f;
            for (size_t i = layers.size(); i-- > 0;) {
                Matrix& sum = group == 0 ? layers[i].dweights : storage.group_dweights[group - 1][i];
                dense_backward_block(layers[i], has_relu(layers[i]), rows_of(whole[i], layers[i], first, count),
                                     view_of(storage.weights_transposed[i]), beta, sum.data.data());
            }
        }
    });
}

void finish_block_gradients(std::vector<Layer>& layers, const std::vector<Matrix>& gradients, BlockStorage& storage) {
    // Tasks over the layers' weight gradients (sums of the groups) and bias
    // columns (sums over every row in order), in chunks that keep both cores busy.
    struct Chunk {
        size_t layer;
        bool biases;
        size_t first, count;
    };
    constexpr size_t weights_per_chunk = 16384, columns_per_chunk = 64;
    std::vector<Chunk> chunks;
    size_t partial_count = storage.blocks.groups - 1;
    for (size_t i = 0; i < layers.size(); ++i) {
        size_t weight_count = layers[i].dweights.size(), columns = layers[i].dbiases.size();
        for (size_t first = 0; partial_count > 0 && first < weight_count; first += weights_per_chunk)
            chunks.push_back({i, false, first, std::min(weights_per_chunk, weight_count - first)});
        for (size_t first = 0; first < columns; first += columns_per_chunk)
            chunks.push_back({i, true, first, std::min(columns_per_chunk, columns - first)});
    }
    auto run = [&](size_t c) {
        const Chunk& chunk = chunks[c];
        Layer& layer = layers[chunk.layer];
        if (chunk.biases)
            return dense_bias_sums_into(layer.dbiases, gradients[chunk.layer], chunk.first, chunk.count);
        std::vector<const float*> partials;
        for (const std::vector<Matrix>& group : storage.group_dweights)
            partials.push_back(group[chunk.layer].data.data());
        add_group_sums(layer.dweights.data.data(), partials.data(), partials.size(), chunk.first, chunk.count);
    };
    run_blocks(forward_multiply_adds(layers, storage.blocks.rows), chunks.size(), run);
    for (Layer& layer : layers) add_regularization_gradients(layer);
}

void infer_in_blocks(std::vector<Layer>& layers, PassStorage& pass, const BlockRowsStep& rows_step) {
    std::vector<DenseBlock> whole = whole_pass(layers, pass, nullptr, true);
    RowBlocks blocks = row_blocks(pass.samples.rows);
    run_blocks(forward_multiply_adds(layers, blocks.rows), blocks.count, [&](size_t block) {
        size_t first = block_first_row(blocks, block), count = block_row_count(blocks, block);
        forward_block(layers, whole, first, count);
        rows_step(first, count);
    });
}
