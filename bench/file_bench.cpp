// Model-file throughput: saves and loads a model whose layer holds a large
// `inputs` matrix, as a training run on a big data set leaves it.
//
//   file_bench ROWS COLS KIND PATH [REPEATS]
//
// KIND "pixels": 80% zeros, the rest k/255 (images scaled to [0, 1]);
// KIND "normal": standard normal deviates (standardised features).
// Prints one "key=value" line per measurement; the best of REPEATS runs counts.
// A save is what training does at the end: the text on every core, synced to
// disk, renamed over the target.
// The file stays at PATH so other readers can be timed on the same numbers.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "model/file.hpp"
#include "model/file_output.hpp"
#include "model/file_json.hpp"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Matrix sample_inputs(size_t rows, size_t cols, const std::string& kind) {
    Matrix m(rows, cols);
    std::mt19937_64 gen(42);
    if (kind == "pixels") {
        std::uniform_real_distribution<double> coin(0.0, 1.0);
        std::uniform_int_distribution<int> level(1, 255);
        for (float& v : m.data) v = coin(gen) < 0.8 ? 0.0f : float(level(gen)) / 255.0f;
    } else {
        std::normal_distribution<float> normal(0.0f, 1.0f);
        for (float& v : m.data) v = normal(gen);
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s ROWS COLS pixels|normal PATH [REPEATS]\n", argv[0]);
        return 2;
    }
    size_t rows = std::strtoull(argv[1], nullptr, 10);
    size_t cols = std::strtoull(argv[2], nullptr, 10);
    std::string kind = argv[3];
    std::string path = argv[4];
    int repeats = argc > 5 ? std::atoi(argv[5]) : 3;

    LinearModel model;
    model.save_best_params = path;
    Layer layer;
    layer.layer_type = "dense";
    layer.n_inputs = cols;
    layer.n_neurons = 10;
    layer.inputs = sample_inputs(rows, cols, kind);
    model.layers = {layer};

    double best_text = 1e30, best_parallel_text = 1e30, best_save = 1e30, best_load = 1e30;
    // The text alone, into a sink that only counts: formatting without file
    // I/O, on one thread and on as many as saving uses.
    size_t text_bytes = 0;
    size_t threads = std::thread::hardware_concurrency();
    for (int i = 0; i < repeats; ++i) {
        for (size_t t : {size_t(1), threads}) {
            JsonSink sink;
            sink.format_threads = t;
            text_bytes = 0;
            sink.flush = [&text_bytes](const char*, size_t n) { text_bytes += n; };
            auto start = std::chrono::steady_clock::now();
            write_model_json(sink, model);
            double& best = t == 1 ? best_text : best_parallel_text;
            best = std::min(best, seconds_since(start));
        }
    }
    // Saves around the page cache (the default for large texts) and through
    // it, alternately, so that both meet the same state of the machine.
    std::vector<double> saves[2];
    for (int i = 0; i < repeats; ++i)
        for (bool direct : {true, false}) {
            direct_output = direct;
            auto start = std::chrono::steady_clock::now();
            save_model_file(model, path);
            saves[direct ? 0 : 1].push_back(seconds_since(start));
        }
    direct_output = true;
    for (auto& times : saves) std::sort(times.begin(), times.end());
    best_save = saves[0].front();
    for (int i = 0; i < repeats; ++i) {
        auto start = std::chrono::steady_clock::now();
        LinearModel back = load_linear_model_file(path);
        best_load = std::min(best_load, seconds_since(start));
        if (back.layers[0].inputs.size() != rows * cols) return 1;
    }
    struct stat st;
    stat(path.c_str(), &st);
    double mb = double(st.st_size) / 1e6;
    std::printf("numbers=%zu\nbytes=%lld\n", rows * cols, (long long)st.st_size);
    std::printf("text_seconds=%.4f\ntext_mb_s=%.1f\n", best_text, double(text_bytes) / 1e6 / best_text);
    std::printf("threads=%zu\nparallel_text_seconds=%.4f\nparallel_text_mb_s=%.1f\n", threads,
                best_parallel_text, double(text_bytes) / 1e6 / best_parallel_text);
    std::printf("save_seconds=%.4f\nsave_mb_s=%.1f\n", best_save, mb / best_save);
    std::printf("save_median_mb_s=%.1f\n", mb / saves[0][saves[0].size() / 2]);
    std::printf("cached_save_mb_s=%.1f\ncached_save_median_mb_s=%.1f\n", mb / saves[1].front(),
                mb / saves[1][saves[1].size() / 2]);
    std::printf("load_seconds=%.4f\nload_mb_s=%.1f\n", best_load, mb / best_load);
    return 0;
}
