#pragma once
// The model file's JSON text, apart from the file itself: the writer streams
// into a sink, the reader parses one whole buffer.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/categorical.hpp"
#include "model/linear.hpp"

struct TextPlan;

// One large output buffer; whenever it fills, its contents go to `flush`
// (a file descriptor, a string). Large chunks keep system calls rare.
struct JsonSink {
    std::function<void(const char* bytes, size_t n)> flush;
    std::vector<char> buffer = std::vector<char>(size_t(1) << 20);
    size_t used = 0;
    size_t format_threads = 1;  // threads that format large arrays, each a part (same bytes)
    TextPlan* plan = nullptr;   // the writer's own: large arrays are planned, not formatted, here
};

// Writes the whole compact text and flushes the rest of the buffer. A
// non-null first_layer_inputs is written as the first layer's `inputs`, in
// place of what the layer holds (see save_model_file).
void write_model_json(JsonSink& sink, const LinearModel& model,
                      const MatrixView* first_layer_inputs = nullptr);
void write_model_json(JsonSink& sink, const CategoricalModel& model,
                      const MatrixView* first_layer_inputs = nullptr);

// The whole text in memory.
std::string model_json(const LinearModel& model);
std::string model_json(const CategoricalModel& model);

// Parses one model text. Panics with the reader's description ending in
// "at line L column C" when the text breaks any rule; nothing is returned then.
LinearModel parse_linear_model(std::string_view text);
CategoricalModel parse_categorical_model(std::string_view text);
