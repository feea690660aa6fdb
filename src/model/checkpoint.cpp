#include "model/checkpoint.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

void snapshot_layer(Layer& kept, Layer& live, bool first_layer) {
    kept.weights = live.weights;
    kept.biases = live.biases;
    kept.weight_momentums = live.weight_momentums;
    kept.weight_cache = live.weight_cache;
    kept.bias_momentums = live.bias_momentums;
    kept.bias_cache = live.bias_cache;
    if (stores_inputs(live) && !first_layer) std::swap(kept.inputs, live.inputs);
    if (has_relu(live)) std::swap(kept.activation_inputs, live.activation_inputs);
    if (live.layer_type == "dropout") std::swap(kept.binary_mask, live.binary_mask);
    if (live.layer_type == "dense") {
        std::swap(kept.dweights, live.dweights);
        std::swap(kept.dbiases, live.dbiases);
    }
}

namespace {

void write_stderr(const char* text) noexcept {
    size_t left = std::strlen(text);
    while (left > 0) {
        ssize_t written = ::write(2, text, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        left -= size_t(written);
    }
}

}  // namespace

void warn_final_save_failed(const char* message) noexcept {
    char line[4096];  // one write, so the line does not interleave with others
    std::snprintf(line, sizeof line, "brenik: warning: %s\n", message);
    write_stderr(line);
}
