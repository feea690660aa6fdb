// The compact model text: keys in record order, no whitespace, no final line feed.

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "condition_wait.hpp"
#include "format.hpp"
#include "model/file_json.hpp"
#include "panic.hpp"

namespace {

// Room for `n` more bytes, flushing the buffer first when it lacks it.
char* reserve(JsonSink& sink, size_t n) {
    if (sink.buffer.size() - sink.used < n) {
        sink.flush(sink.buffer.data(), sink.used);
        sink.used = 0;
        if (sink.buffer.size() < n) sink.buffer.resize(n);
    }
    return sink.buffer.data() + sink.used;
}

void commit(JsonSink& sink, const char* end) { sink.used = size_t(end - sink.buffer.data()); }

void put(JsonSink& sink, std::string_view text) {
    char* out = reserve(sink, text.size());
    std::memcpy(out, text.data(), text.size());
    commit(sink, out + text.size());
}

void put_unsigned(JsonSink& sink, uint64_t value) {
    char* out = reserve(sink, 24);
    commit(sink, std::to_chars(out, out + 24, value).ptr);
}

void put_float(JsonSink& sink, float value) {
    commit(sink, write_json_float(reserve(sink, json_float_max_chars), value));
}

// Quotation mark, backslash and the five short escapes; other control
// characters as \u00xx with lowercase hex; every other byte unchanged.
void put_string(JsonSink& sink, const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    put(sink, "\"");
    for (unsigned char c : text) {
        char* out = reserve(sink, 6);
        switch (c) {
            case '"': out = std::copy_n("\\\"", 2, out); break;
            case '\\': out = std::copy_n("\\\\", 2, out); break;
            case '\b': out = std::copy_n("\\b", 2, out); break;
            case '\f': out = std::copy_n("\\f", 2, out); break;
            case '\n': out = std::copy_n("\\n", 2, out); break;
            case '\r': out = std::copy_n("\\r", 2, out); break;
            case '\t': out = std::copy_n("\\t", 2, out); break;
            default:
                if (c < 0x20) {
                    out = std::copy_n("\\u00", 4, out);
                    *out++ = hex[c >> 4];
                    *out++ = hex[c & 15];
                } else {
                    *out++ = char(c);
                }
        }
        commit(sink, out);
    }
    put(sink, "\"");
}

// The hot loop of a model file: inputs and masks hold one float per sample
// and column. The values go into the buffer a block at a time. `first` says
// whether values[0] opens the array (no comma before it).
void put_float_run(JsonSink& sink, const float* values, size_t count, bool first) {
    constexpr size_t block = 4096;
    if (first && count > 0) {
        put_float(sink, values[0]);
        ++values;
        --count;
    }
    for (size_t i = 0; i < count; i += block) {
        const size_t n = std::min(block, count - i);
        char* out = reserve(sink, n * json_float_list_chars + json_float_max_chars);
        commit(sink, write_json_float_list(out, values + i, n));
    }
}

void put_floats(JsonSink& sink, const float* values, size_t count) {
    put(sink, "[");
    put_float_run(sink, values, count, true);
    put(sink, "]");
}

// ---- large matrices on several threads ------------------------------------------
//
// With several threads the text is first planned: everything but the large
// matrices is formatted into literal pieces, and each large matrix becomes a
// run of chunks of about chunk_values values. The threads then format chunks
// (at most a window of them ahead of the one being sent) while the caller's
// thread sends the pieces in order, so the bytes are those of one thread.

// About 300 KB of text per chunk, a few chunks in memory at a time: small
// enough that the buffers cost few page faults, large enough that handing
// chunks over costs little.
constexpr size_t chunk_values = size_t(1) << 14;
// Smaller matrices are formatted while planning.
constexpr size_t min_chunked_values = size_t(1) << 14;

}  // namespace

// Bytes formatted while planning, or the values [begin, end) of a matrix (in
// row-major order) still to format.
struct TextPiece {
    std::string bytes;
    MatrixView matrix;
    size_t begin = 0;
    size_t end = 0;
    bool is_chunk() const { return end > begin; }
};

struct TextPlan {
    std::vector<TextPiece> pieces;
};

namespace {

void add_bytes(TextPlan& plan, const char* bytes, size_t n) {
    if (plan.pieces.empty() || plan.pieces.back().is_chunk()) plan.pieces.emplace_back();
    plan.pieces.back().bytes.append(bytes, n);
}

// Values [begin, end) of m as the one-thread loop writes them: a comma before
// every value but the matrix's first. Returns the end of the text.
char* format_values(char* out, MatrixView m, size_t begin, size_t end) {
    if (begin == 0) {
        out = write_json_float(out, m.data[0]);
        ++begin;
    }
    if (m.row_stride == m.cols) return write_json_float_list(out, m.data + begin, end - begin);
    for (size_t k = begin; k < end;) {
        const size_t i = k / m.cols;
        const size_t j = k % m.cols;
        const size_t n = std::min(m.cols - j, end - k);
        out = write_json_float_list(out, m.data + i * m.row_stride + j, n);
        k += n;
    }
    return out;
}

struct ChunkText {
    // Uninitialised: every byte sent is written first.
    std::unique_ptr<char[]> text{new char[chunk_values * json_float_list_chars + json_float_max_chars]};
    size_t used = 0;
    bool ready = false;
};

class TextPipeline {
public:
    TextPipeline(const TextPlan& plan, size_t threads) : plan_(plan), slots_(2 * threads) {
        for (size_t p = 0; p < plan.pieces.size(); ++p)
            if (plan.pieces[p].is_chunk()) chunk_pieces_.push_back(p);
    }

    // Sends every piece in order through sink.flush.
    void run(JsonSink& sink, size_t threads) {
        // Fewer threads if the system has none to give; the bytes are the same.
        for (size_t t = 1; t < threads; ++t) {
            try {
                helpers_.emplace_back([this] { format_while_chunks_remain(); });
            } catch (const std::system_error&) {
                break;
            }
        }
        try {
            send_all(sink);
        } catch (...) {
            stop();
            throw;
        }
        stop();
    }

private:
    // The next chunk to format, when its slot is free; none() otherwise.
    size_t claim() {
        if (next_claim_ < chunk_pieces_.size() && next_claim_ < next_send_ + slots_.size()) return next_claim_++;
        return none();
    }
    size_t none() const { return chunk_pieces_.size(); }

    void format(std::unique_lock<std::mutex>& lock, size_t chunk) {
        lock.unlock();
        const TextPiece& piece = plan_.pieces[chunk_pieces_[chunk]];
        ChunkText& slot = slots_[chunk % slots_.size()];
        slot.used = size_t(format_values(slot.text.get(), piece.matrix, piece.begin, piece.end) - slot.text.get());
        lock.lock();
        slot.ready = true;
        changed_.notify_all();
    }

    void format_while_chunks_remain() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (next_claim_ < none()) {
            size_t chunk = claim();
            if (chunk == none())
                condition_wait(changed_, lock);
            else
                format(lock, chunk);
        }
    }

    void send_all(JsonSink& sink) {
        for (const TextPiece& piece : plan_.pieces) {
            if (!piece.is_chunk()) {
                sink.flush(piece.bytes.data(), piece.bytes.size());
                continue;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            ChunkText& slot = slots_[next_send_ % slots_.size()];
            while (!slot.ready) {
                size_t chunk = claim();
                if (chunk == none())
                    condition_wait(changed_, lock);
                else
                    format(lock, chunk);
            }
            lock.unlock();
            sink.flush(slot.text.get(), slot.used);
            lock.lock();
            slot.ready = false;
            ++next_send_;
            changed_.notify_all();
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            next_claim_ = none();
        }
        changed_.notify_all();
        for (std::thread& helper : helpers_) helper.join();
        helpers_.clear();
    }

    const TextPlan& plan_;
    std::vector<size_t> chunk_pieces_;  // indices of the chunk pieces, in order
    std::vector<ChunkText> slots_;
    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_claim_ = 0;  // chunks claimed, under mutex_
    size_t next_send_ = 0;   // chunks sent, under mutex_
};

void put_matrix(JsonSink& sink, MatrixView m) {
    put(sink, "{\"v\":1,\"dim\":[");
    put_unsigned(sink, m.rows);
    put(sink, ",");
    put_unsigned(sink, m.cols);
    put(sink, "],\"data\":[");
    size_t count = m.rows * m.cols;
    if (m.cols > 0 && sink.plan != nullptr && count >= min_chunked_values) {
        sink.flush(sink.buffer.data(), sink.used);  // into the plan, before the chunks
        sink.used = 0;
        for (size_t begin = 0; begin < count; begin += chunk_values)
            sink.plan->pieces.push_back({{}, m, begin, std::min(count, begin + chunk_values)});
    } else if (m.cols > 0) {  // a view of no columns may have no storage to point into
        if (m.row_stride == m.cols)
            put_float_run(sink, m.data, count, true);
        else
            for (size_t i = 0; i < m.rows; ++i) put_float_run(sink, m.data + i * m.row_stride, m.cols, i == 0);
    }
    put(sink, "]}");
}

void put_matrix(JsonSink& sink, const Matrix& m) {
    // A matrix whose data disagrees with its shape would make a file that
    // cannot be loaded again; refuse it before anything is written.
    if (m.data.size() != checked_element_count(m.rows, m.cols))
        throw Panic("cannot save a " + std::to_string(m.rows) + " x " + std::to_string(m.cols) +
                    " matrix holding " + std::to_string(m.data.size()) + " elements");
    put_matrix(sink, MatrixView{m.data.data(), m.rows, m.cols, m.cols});
}

void put_vector(JsonSink& sink, const Vector& v) {
    put(sink, "{\"v\":1,\"dim\":[");
    put_unsigned(sink, v.size());
    put(sink, "],\"data\":");
    put_floats(sink, v.data(), v.size());
    put(sink, "}");
}

void put_layer(JsonSink& sink, const Layer& layer, const MatrixView* inputs) {
    put(sink, "{\"layer_type\":");
    put_string(sink, layer.layer_type);
    put(sink, ",\"activation_type\":");
    put_string(sink, layer.activation_type);
    put(sink, ",\"n_inputs\":");
    put_unsigned(sink, layer.n_inputs);
    put(sink, ",\"n_neurons\":");
    put_unsigned(sink, layer.n_neurons);
    put(sink, ",\"weights\":");
    put_matrix(sink, layer.weights);
    put(sink, ",\"biases\":");
    put_vector(sink, layer.biases);
    put(sink, ",\"weight_regularizer_l1\":");
    put_float(sink, layer.weight_regularizer_l1);
    put(sink, ",\"weight_regularizer_l2\":");
    put_float(sink, layer.weight_regularizer_l2);
    put(sink, ",\"bias_regularizer_l1\":");
    put_float(sink, layer.bias_regularizer_l1);
    put(sink, ",\"bias_regularizer_l2\":");
    put_float(sink, layer.bias_regularizer_l2);
    put(sink, ",\"inputs\":");
    if (inputs != nullptr)
        put_matrix(sink, *inputs);
    else
        put_matrix(sink, layer.inputs);
    put(sink, ",\"activation_inputs\":");
    put_matrix(sink, layer.activation_inputs);
    put(sink, ",\"dweights\":");
    put_matrix(sink, layer.dweights);
    put(sink, ",\"dbiases\":");
    put_vector(sink, layer.dbiases);
    put(sink, ",\"weight_momentums\":");
    put_matrix(sink, layer.weight_momentums);
    put(sink, ",\"weight_cache\":");
    put_matrix(sink, layer.weight_cache);
    put(sink, ",\"bias_momentums\":");
    put_vector(sink, layer.bias_momentums);
    put(sink, ",\"bias_cache\":");
    put_vector(sink, layer.bias_cache);
    put(sink, ",\"dropout_rate\":");
    put_float(sink, layer.dropout_rate);
    put(sink, ",\"binary_mask\":");
    put_matrix(sink, layer.binary_mask);
    put(sink, "}");
}

// "layers", "output_type", "loss_type", "acc_type": the keys both models share.
template <class Model>
void put_model_head(JsonSink& sink, const Model& model, const MatrixView* first_layer_inputs) {
    put(sink, "{\"layers\":[");
    for (size_t i = 0; i < model.layers.size(); ++i) {
        if (i > 0) put(sink, ",");
        put_layer(sink, model.layers[i], i == 0 ? first_layer_inputs : nullptr);
    }
    put(sink, "],\"output_type\":");
    put_string(sink, model.output_type);
    put(sink, ",\"loss_type\":");
    put_string(sink, model.loss_type);
    put(sink, ",\"acc_type\":");
    put_string(sink, model.acc_type);
}

void finish(JsonSink& sink) {
    sink.flush(sink.buffer.data(), sink.used);
    sink.used = 0;
}

void put_model(JsonSink& sink, const LinearModel& model, const MatrixView* first_layer_inputs) {
    put_model_head(sink, model, first_layer_inputs);
    put(sink, ",\"acc_precision\":");
    put_float(sink, model.acc_precision);
    put(sink, ",\"save_best_params\":");
    put_string(sink, model.save_best_params);
    put(sink, "}");
}

void put_model(JsonSink& sink, const CategoricalModel& model, const MatrixView* first_layer_inputs) {
    put_model_head(sink, model, first_layer_inputs);
    put(sink, ",\"save_best_params\":");
    put_string(sink, model.save_best_params);
    put(sink, "}");
}

template <class Model>
void write_text(JsonSink& sink, const Model& model, const MatrixView* first_layer_inputs) {
    if (sink.format_threads <= 1) {
        put_model(sink, model, first_layer_inputs);
        finish(sink);
        return;
    }
    TextPlan plan;
    JsonSink planner;
    planner.buffer.resize(size_t(64) << 10);
    planner.plan = &plan;
    planner.flush = [&plan](const char* bytes, size_t n) { add_bytes(plan, bytes, n); };
    put_model(planner, model, first_layer_inputs);
    finish(planner);
    finish(sink);  // whatever the caller had put there comes first
    TextPipeline(plan, sink.format_threads).run(sink, sink.format_threads);
}

}  // namespace

void write_model_json(JsonSink& sink, const LinearModel& model, const MatrixView* first_layer_inputs) {
    write_text(sink, model, first_layer_inputs);
}

void write_model_json(JsonSink& sink, const CategoricalModel& model, const MatrixView* first_layer_inputs) {
    write_text(sink, model, first_layer_inputs);
}

namespace {

template <class Model>
std::string text_of(const Model& model) {
    std::string text;
    JsonSink sink;
    sink.buffer.resize(size_t(64) << 10);  // the string grows anyway; small texts stay cheap
    sink.flush = [&text](const char* bytes, size_t n) { text.append(bytes, n); };
    write_model_json(sink, model);
    return text;
}

}  // namespace

std::string model_json(const LinearModel& model) { return text_of(model); }
std::string model_json(const CategoricalModel& model) { return text_of(model); }
