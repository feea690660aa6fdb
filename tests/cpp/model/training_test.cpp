// The training loops against a plain loop written with the per-layer operations
// (forward, backward, losses, optimiser) exactly in the documented order. The
// loops reuse storage across epochs, leave the first layer's input gradient
// uncomputed and park forward copies between passes; none of that may change a
// printed line or a byte of the model file.

#include "model/training.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "accuracy/categorical.hpp"
#include "accuracy/linear.hpp"
#include "activation/linear.hpp"
#include "activation/softmax.hpp"
#include "loss/categorical_crossentropy.hpp"
#include "loss/mean_squared_error.hpp"
#include "model/categorical.hpp"
#include "model/linear.hpp"
#include "random.hpp"
#include "thread_pool.hpp"

namespace {

// ---- the reference loop -----------------------------------------------------------

Matrix reference_layers_forward(std::vector<Layer>& layers, const Matrix& x, bool training) {
    Matrix out = x;
    for (Layer& layer : layers) out = forward(layer, out, training);
    return out;
}

struct LinearReference {
    using Model = LinearModel;
    using Targets = Vector;
    static Matrix forward_model(LinearModel& m, const Matrix& x, bool training) {
        Matrix out = reference_layers_forward(m.layers, x, training);
        return m.output_type == "linear" ? linear_forward(out) : out;
    }
    static Vector predictions(const LinearModel& m, const Matrix& out) {
        Vector p;
        if (m.output_type == "linear")
            for (size_t i = 0; i < out.rows; ++i) p.push_back(out.at(i, 0));
        return p;
    }
    static float loss(const LinearModel& m, const Matrix&, const Vector& p, const Vector& y) {
        return mean_squared_error_loss(m.loss_type, p, y);
    }
    static float accuracy(const LinearModel& m, const Vector& p, const Vector& y) {
        return m.acc_type == "linear" ? linear_accuracy(p, y, m.acc_precision) : 0.0f;
    }
    static Matrix gradient(const Matrix& out, const Vector& y) { return mean_squared_error_gradient(out, y); }
};

struct CategoricalReference {
    using Model = CategoricalModel;
    using Targets = LabelVector;
    static Matrix forward_model(CategoricalModel& m, const Matrix& x, bool training) {
        Matrix out = reference_layers_forward(m.layers, x, training);
        return m.output_type == "softmax" ? softmax_forward(out) : out;
    }
    static LabelVector predictions(const CategoricalModel& m, const Matrix& out) {
        return predicted_classes(m.output_type, out);
    }
    static float loss(const CategoricalModel& m, const Matrix& out, const LabelVector&, const LabelVector& y) {
        return m.loss_type == "categorical_crossentropy" ? categorical_crossentropy_loss(out, y) : 0.0f;
    }
    static float accuracy(const CategoricalModel& m, const LabelVector& p, const LabelVector& y) {
        return m.acc_type == "categorical" ? categorical_accuracy(p, y) : 0.0f;
    }
    static Matrix gradient(const Matrix& out, const LabelVector& y) {
        return categorical_crossentropy_gradient(out, y);
    }
};

template <class R>
void reference_train(typename R::Model model, DynamicOptimizer opt, uint16_t num_epochs, const Matrix& x,
                     const typename R::Targets& y, const Matrix& val_x, const typename R::Targets& val_y,
                     const std::function<void()>& at_epoch_start = [] {}) {
    for (Layer& layer : model.layers) initialize(layer);
    opt.current_learning_rate = opt.learning_rate;
    bool validation = val_x.rows != 0 || val_x.cols != 0;
    float best_loss = 0.0f;
    for (uint32_t epoch = 1; epoch <= num_epochs; ++epoch) {
        at_epoch_start();
        Matrix out = R::forward_model(model, x, true);
        auto p = R::predictions(model, out);
        float data_loss = R::loss(model, out, p, y);
        if (epoch == 1) best_loss = data_loss;
        float reg = regularization_loss(model.layers);
        float acc = R::accuracy(model, p, y);
        print_line(training_line(epoch, acc, data_loss, reg, model.loss_type, opt.current_learning_rate), {});
        Matrix gradient = R::gradient(out, y);
        for (size_t i = model.layers.size(); i-- > 0;) gradient = backward(model.layers[i], gradient);
        decay_learning_rate(opt);
        for (Layer& layer : model.layers) update_layer(opt, layer);
        count_iteration(opt);
        if (validation) {
            Matrix val_out = R::forward_model(model, val_x, false);
            auto val_p = R::predictions(model, val_out);
            float val_loss = R::loss(model, val_out, val_p, val_y);
            float val_reg = regularization_loss(model.layers);
            float val_acc = R::accuracy(model, val_p, val_y);
            print_line(validation_line(val_acc, val_loss, val_reg, model.loss_type), {});
        }
        if (!model.save_best_params.empty() && best_loss > data_loss) {
            save_model_file(model, model.save_best_params);
            best_loss = data_loss;
        }
    }
}

// ---- running both -------------------------------------------------------------------

template <class T>
StridedView<T> strided_view_of(const std::vector<T>& v) {
    return {v.data(), v.size(), 1, 1, 1};
}
StridedView<float> strided_view_of(const Matrix& m) {
    return {m.data.data(), m.rows, m.cols, ptrdiff_t(m.cols), 1};
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// "" when equal, else where the texts part, with a little context.
std::string difference(const std::string& a, const std::string& b) {
    if (a == b) return "";
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    size_t from = at < 60 ? 0 : at - 60;
    return "differ at byte " + std::to_string(at) + ":\n  " + a.substr(from, 120) + "\n  " + b.substr(from, 120);
}

// What one run leaves behind: its printed lines, its model file (empty when
// none was written) and the failure message, if it failed.
struct Outcome {
    std::string lines;
    std::string file;
    std::string failure;
};

// Runs `train` with the thread's generator at a fixed state and standard output
// sent to a file; the model file is the model's save_best_params.
Outcome run_captured(const std::string& model_path, const std::function<void()>& train) {
    std::string lines_path = testing::TempDir() + "training_test_lines.txt";
    std::remove(model_path.c_str());
    thread_generator() = ThreadGenerator{{0x9E3779B97F4A7C15ull, 42, 7, 1}};  // the same weights every run
    std::fflush(stdout);
    int saved = dup(1);
    int fd = open(lines_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 1);
    close(fd);
    Outcome outcome;
    try {
        train();
    } catch (const Panic& e) {
        outcome.failure = e.what();
    }
    dup2(saved, 1);
    close(saved);
    outcome.lines = read_file(lines_path);
    outcome.file = read_file(model_path);
    return outcome;
}

// Data that makes the loss fall over the first epochs, so files get written.
Matrix samples(size_t rows, size_t cols, unsigned seed) {
    Matrix x(rows, cols);
    unsigned state = seed;
    for (float& v : x.data) {
        state = state * 1664525u + 1013904223u;
        v = float(int(state >> 9) % 2001 - 1000) / 500.0f;
    }
    return x;
}

Vector regression_targets(const Matrix& x) {
    Vector y(x.rows);
    for (size_t i = 0; i < x.rows; ++i) y[i] = x.at(i, 0) * 0.5f - x.at(i, x.cols - 1) + 3.0f;
    return y;
}

LabelVector class_targets(const Matrix& x, int32_t classes) {
    LabelVector y(x.rows);
    for (size_t i = 0; i < x.rows; ++i) y[i] = int32_t(unsigned(x.at(i, 0) * 100.0f + 1000.0f) % unsigned(classes));
    return y;
}

Layer layer_of(uint64_t n_inputs, uint64_t n_neurons, const char* type, const char* activation,
               float dropout_rate = 0.0f) {
    return build_layer({n_inputs, n_neurons, type, activation, dropout_rate});
}

struct Case {
    const char* name;
    std::vector<Layer> layers;
    const char* opt_type;
    size_t val_rows;  // 0: no validation set
};

// Layers as a loaded model file may bring them: regulariser factors, stale
// forward copies in fields a pass writes and in fields it never writes.
std::vector<Layer> from_a_file() {
    std::vector<Layer> layers = {layer_of(3, 6, "dense", "relu"), layer_of(6, 1, "dense", "")};
    layers[0].weight_regularizer_l1 = 0.01f;
    layers[0].weight_regularizer_l2 = 0.02f;
    layers[0].bias_regularizer_l1 = 0.03f;
    layers[0].bias_regularizer_l2 = 0.04f;
    layers[0].inputs = Matrix(2, 2, 5.0f);
    layers[0].activation_inputs = Matrix(7, 1, -1.0f);
    layers[1].activation_inputs = Matrix(3, 3, 9.0f);  // no ReLU: never written, stays in the file
    layers[1].binary_mask = Matrix(1, 2, 0.5f);
    return layers;
}

std::vector<Case> linear_cases() {
    return {
        {"dense_relu_stack", {layer_of(3, 8, "dense", "relu"), layer_of(8, 5, "dense", "relu"), layer_of(5, 1, "dense", "")}, "adam", 9},
        {"no_validation", {layer_of(3, 8, "dense", "relu"), layer_of(8, 1, "dense", "")}, "adam", 0},
        {"dropout_inside", {layer_of(3, 8, "dense", "relu"), layer_of(0, 0, "dropout", "", 0.25f), layer_of(8, 1, "dense", "")}, "tf_adam", 9},
        {"dropout_first", {layer_of(0, 0, "dropout", "relu", 0.5f), layer_of(3, 4, "dense", "relu"), layer_of(4, 1, "dense", "")}, "sgd", 9},
        {"from_a_file", from_a_file(), "adam", 9},
        {"one_layer_two_outputs", {layer_of(3, 2, "dense", "relu")}, "adam", 9},
        {"no_layers", {}, "adam", 9},
        {"inert_last_layer", {layer_of(3, 4, "dense", "relu"), layer_of(4, 1, "conv", "relu")}, "adam", 9},
        {"mismatched_widths", {layer_of(3, 4, "dense", "relu"), layer_of(5, 1, "dense", "")}, "adam", 9},
    };
}

std::vector<Case> categorical_cases() {
    return {
        {"dense_relu_softmax", {layer_of(3, 8, "dense", "relu"), layer_of(8, 4, "dense", "")}, "adam", 9},
        {"no_validation", {layer_of(3, 8, "dense", "relu"), layer_of(8, 4, "dense", "")}, "sgd", 0},
        {"dropout_and_relu_on_output", {layer_of(3, 8, "dense", "relu"), layer_of(0, 0, "dropout", "", 0.3f), layer_of(8, 4, "dense", "relu")}, "tf_adam", 9},
        {"inert_middle_layer", {layer_of(3, 4, "dense", "relu"), layer_of(0, 0, "", "relu"), layer_of(0, 4, "dense", "")}, "adam", 9},
    };
}

// The file written at every improvement, and coalesced: the first is what a
// save at every improvement does, the second what a training call does.
const CheckpointTiming every_improvement{0.0, 0.0};
const CheckpointTiming coalesced{};

RunHooks hooks_with(const CheckpointTiming& timing, std::function<void()> at_epoch_start = [] {}) {
    RunHooks hooks;
    hooks.check_interrupt = std::move(at_epoch_start);
    hooks.checkpoint_timing = timing;
    return hooks;
}

}  // namespace

// Sample counts of one block, and of twenty blocks in eight groups (the last
// block short) with four blocks of validation samples: dense stacks train in
// row blocks, and their products and sums must come out as the per-layer
// operations' do.
// Six epochs of the reference loop, then of the loop (through `train`, given
// the run's hooks) with and without lag: the same failure, lines and file.
// Returns the reference's outcome.
template <class Reference, class Model, class Targets, class Train>
Outcome expect_loop_matches_reference(const char* name, const std::string& path, Model& model,
                                      DynamicOptimizer& opt, const Matrix& x, const Targets& y, const Matrix& vx,
                                      const Targets& vy, Train train) {
    Outcome reference = run_captured(path, [&] { reference_train<Reference>(model, opt, 6, x, y, vx, vy); });
    for (const CheckpointTiming& timing : {every_improvement, coalesced}) {
        Outcome loop = run_captured(path, [&] { train(hooks_with(timing)); });
        EXPECT_EQ(loop.failure, reference.failure) << name;
        EXPECT_EQ(difference(loop.lines, reference.lines), "") << name;
        EXPECT_EQ(difference(loop.file, reference.file), "") << name << " lag " << timing.min_lag_seconds;
    }
    return reference;
}

struct SampleCounts {
    size_t rows, val_rows;
};
const SampleCounts sample_counts[] = {{40, 9}, {3290, 500}};

TEST(TrainingLoop, LinearMatchesThePerLayerOperations) {
    for (SampleCounts counts : sample_counts) {
        Matrix x = samples(counts.rows, 3, 1), val_x = samples(counts.val_rows, 3, 2);
        Vector y = regression_targets(x), val_y = regression_targets(val_x);
        Matrix no_rows;
        for (const Case& c : linear_cases()) {
            std::string path = testing::TempDir() + "training_test_model.json";
            LinearModel model = create_linear_model("linear", path);
            model.layers = c.layers;
            DynamicOptimizer opt = create_optimizer(c.opt_type, 0.05f, 0.01f);
            const Matrix& vx = c.val_rows ? val_x : no_rows;
            Vector vy = c.val_rows ? val_y : Vector();
            Outcome reference = expect_loop_matches_reference<LinearReference>(
                c.name, path, model, opt, x, y, vx, vy, [&](const RunHooks& hooks) {
                    train_linear_model(model, opt, 6, 6, strided_view_of(x), strided_view_of(y), strided_view_of(vx),
                                       strided_view_of(vy), hooks);
                });
            bool trains = std::string(c.name) != "no_layers" && reference.failure.empty();
            EXPECT_EQ(reference.file.empty(), !trains) << c.name << ": the case should write a file";
        }
    }
}

TEST(TrainingLoop, CategoricalMatchesThePerLayerOperations) {
    for (SampleCounts counts : sample_counts) {
        Matrix x = samples(counts.rows, 3, 3), val_x = samples(counts.val_rows, 3, 4);
        LabelVector y = class_targets(x, 4), val_y = class_targets(val_x, 4);
        Matrix no_rows;
        for (const Case& c : categorical_cases()) {
            std::string path = testing::TempDir() + "training_test_model.json";
            CategoricalModel model = create_categorical_model("softmax", path);
            model.layers = c.layers;
            DynamicOptimizer opt = create_optimizer(c.opt_type, 0.05f, 0.0f);
            const Matrix& vx = c.val_rows ? val_x : no_rows;
            LabelVector vy = c.val_rows ? val_y : LabelVector();
            expect_loop_matches_reference<CategoricalReference>(
                c.name, path, model, opt, x, y, vx, vy, [&](const RunHooks& hooks) {
                    train_categorical_model(model, opt, 6, 6, strided_view_of(x), strided_view_of(y),
                                            strided_view_of(vx), strided_view_of(vy), hooks);
                });
        }
    }
}

TEST(TrainingLoop, WithoutLagTheFileFollowsEveryImprovement) {
    // What is on disk at the start of every epoch, written at every improvement
    // by the reference and by the loop's checkpoint without lag.
    Matrix x = samples(40, 3, 7), val_x = samples(9, 3, 8);
    Vector y = regression_targets(x), val_y = regression_targets(val_x);
    for (const Case& c : linear_cases()) {
        std::string path = testing::TempDir() + "training_test_model.json";
        LinearModel model = create_linear_model("linear", path);
        model.layers = c.layers;
        DynamicOptimizer opt = create_optimizer(c.opt_type, 0.05f, 0.0f);
        std::vector<std::string> reference_files, loop_files;
        run_captured(path, [&] {
            reference_train<LinearReference>(model, opt, 6, x, y, val_x, val_y,
                                             [&] { reference_files.push_back(read_file(path)); });
        });
        run_captured(path, [&] {
            train_linear_model(model, opt, 6, 6, strided_view_of(x), strided_view_of(y), strided_view_of(val_x),
                               strided_view_of(val_y),
                               hooks_with(every_improvement, [&] { loop_files.push_back(read_file(path)); }));
        });
        EXPECT_EQ(loop_files, reference_files) << c.name;
    }
}

TEST(TrainingLoop, EndingEarlyLeavesTheFileOfTheLastImprovement) {
    // Ctrl-C or a failure at the start of epoch `stop`: the file is the one a
    // run of stop - 1 epochs that saves at every improvement leaves.
    Matrix x = samples(40, 3, 9), val_x = samples(9, 3, 10);
    LabelVector y = class_targets(x, 4), val_y = class_targets(val_x, 4);
    std::vector<Case> cases = categorical_cases();
    for (const Case& c : {cases[1], cases[2]}) {  // with and without a validation set, dropout
        std::string path = testing::TempDir() + "training_test_model.json";
        CategoricalModel model = create_categorical_model("softmax", path);
        model.layers = c.layers;
        DynamicOptimizer opt = create_optimizer(c.opt_type, 0.05f, 0.0f);
        const Matrix& vx = c.val_rows ? val_x : Matrix();
        LabelVector vy = c.val_rows ? val_y : LabelVector();
        for (uint16_t stop = 2; stop <= 6; ++stop) {
            Outcome reference = run_captured(
                path, [&] { reference_train<CategoricalReference>(model, opt, uint16_t(stop - 1), x, y, vx, vy); });
            for (bool interrupt : {true, false}) {
                uint16_t epoch = 0;
                auto stop_at_epoch = [&] {
                    if (++epoch < stop) return;
                    if (interrupt) throw Interrupted{};
                    throw Panic("failed at the start of an epoch");
                };
                bool interrupted = false;
                Outcome loop = run_captured(path, [&] {
                    try {
                        train_categorical_model(model, opt, 6, 6, strided_view_of(x), strided_view_of(y),
                                                strided_view_of(vx), strided_view_of(vy),
                                                hooks_with(coalesced, stop_at_epoch));
                    } catch (const Interrupted&) {
                        interrupted = true;
                    }
                });
                EXPECT_EQ(interrupted, interrupt);
                EXPECT_EQ(loop.failure.empty(), interrupt);
                EXPECT_EQ(difference(loop.lines, reference.lines), "") << c.name << " stop " << stop;
                EXPECT_EQ(difference(loop.file, reference.file), "") << c.name << " stop " << stop;
            }
        }
    }
}

TEST(TrainingLoop, AFailedWriteLeavesTheBestPendingForTheNextOne) {
    // Only epoch 2 improves (a large first step, then a learning rate decayed
    // to nothing), and its write fails (a file-size limit, as a full disk);
    // epoch 3 lifts the limit, and the write at the end brings the file up
    // to date.
    Matrix x = samples(40, 3, 11);
    Vector y = regression_targets(x);
    std::string path = testing::TempDir() + "training_test_model.json";
    LinearModel model = create_linear_model("linear", path);
    model.layers = {layer_of(3, 8, "dense", "relu"), layer_of(8, 1, "dense", "")};
    DynamicOptimizer opt = create_optimizer("sgd", 0.5f, 1e20f);
    Matrix no_rows;
    Outcome reference =
        run_captured(path, [&] { reference_train<LinearReference>(model, opt, 6, x, y, no_rows, Vector()); });
    for (const CheckpointTiming& timing : {every_improvement, coalesced}) {
        std::remove(path.c_str());
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{100, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            thread_generator() = ThreadGenerator{{0x9E3779B97F4A7C15ull, 42, 7, 1}};  // as run_captured
            int epoch = 0;
            auto lift_at_epoch_3 = [&] {
                if (++epoch != 3) return;
                rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &unlimited);
            };
            train_linear_model(model, opt, 6, 6, strided_view_of(x), strided_view_of(y), strided_view_of(no_rows),
                               strided_view_of(Vector()), hooks_with(timing, lift_at_epoch_3));
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(difference(read_file(path), reference.file), "") << "lag " << timing.min_lag_seconds;
    }
}

TEST(TrainingLoop, SampleLayoutsGiveTheSameRun) {
    // The samples are read in place when their rows are contiguous (also with
    // gaps between rows), else copied: the lines and the file are the same.
    Matrix x = samples(40, 3, 5), val_x = samples(9, 3, 6);
    Vector y = regression_targets(x), val_y = regression_targets(val_x);
    auto layouts = [](const Matrix& m, std::vector<float>& storage) {
        // every other row of a twice-as-tall buffer, and column-major storage
        storage.assign(m.rows * m.cols * 3, -7.0f);
        float* gapped = storage.data();
        float* column_major = storage.data() + 2 * m.rows * m.cols;
        for (size_t i = 0; i < m.rows; ++i)
            for (size_t j = 0; j < m.cols; ++j) {
                gapped[2 * i * m.cols + j] = m.at(i, j);
                column_major[j * m.rows + i] = m.at(i, j);
            }
        return std::vector<StridedView<float>>{
            strided_view_of(m),
            {gapped, m.rows, m.cols, ptrdiff_t(2 * m.cols), 1},
            {column_major, m.rows, m.cols, 1, ptrdiff_t(m.rows)},
        };
    };
    std::vector<float> x_storage, val_storage;
    std::vector<StridedView<float>> x_views = layouts(x, x_storage), val_views = layouts(val_x, val_storage);
    Matrix no_rows;
    for (bool validation : {true, false}) {
        std::string path = testing::TempDir() + "training_test_model.json";
        LinearModel model = create_linear_model("linear", path);
        model.layers = {layer_of(3, 8, "dense", "relu"), layer_of(8, 1, "dense", "")};
        DynamicOptimizer opt = create_optimizer("adam", 0.05f, 0.0f);
        Outcome reference = run_captured(path, [&] {
            reference_train<LinearReference>(model, opt, 5, x, y, validation ? val_x : no_rows,
                                             validation ? val_y : Vector());
        });
        ASSERT_FALSE(reference.file.empty());
        for (size_t k = 0; k < x_views.size(); ++k) {
            Outcome loop = run_captured(path, [&] {
                train_linear_model(model, opt, 5, 5, x_views[k], strided_view_of(y),
                                   validation ? val_views[k] : strided_view_of(no_rows),
                                   strided_view_of(validation ? val_y : Vector()), {});
            });
            EXPECT_EQ(difference(loop.lines, reference.lines), "") << "layout " << k << " " << validation;
            EXPECT_EQ(difference(loop.file, reference.file), "") << "layout " << k << " " << validation;
        }
    }
}


TEST(TrainingLoop, TheThreadCountChangesNoBit) {
    // Each run in a forked child, whose pool is sized afresh from
    // OMP_NUM_THREADS: one thread, then two (on a machine with two cores or
    // more). Row blocks for the dense stack, the per-layer way (with its
    // products in blocks) for the model with dropout.
    Matrix x = samples(3290, 3, 12), val_x = samples(500, 3, 13);
    LabelVector y = class_targets(x, 4), val_y = class_targets(val_x, 4);
    std::string path = testing::TempDir() + "training_test_model.json";
    std::vector<std::vector<Layer>> models = {
        {layer_of(3, 64, "dense", "relu"), layer_of(64, 32, "dense", "relu"), layer_of(32, 4, "dense", "")},
        {layer_of(3, 64, "dense", "relu"), layer_of(0, 0, "dropout", "", 0.25f), layer_of(64, 4, "dense", "")},
    };
    for (const std::vector<Layer>& layers : models) {
        CategoricalModel model = create_categorical_model("softmax", path);
        model.layers = layers;
        DynamicOptimizer opt = create_optimizer("adam", 0.01f, 0.0f);
        std::vector<Outcome> outcomes;
        for (const char* threads : {"1", "2"}) {
            std::string lines_copy = path + ".lines", file_copy = path + ".copy";
            pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::setenv("OMP_NUM_THREADS", threads, 1);
                Outcome outcome = run_captured(path, [&] {
                    train_categorical_model(model, opt, 4, 4, strided_view_of(x), strided_view_of(y),
                                            strided_view_of(val_x), strided_view_of(val_y), {});
                });
                std::ofstream(lines_copy, std::ios::binary) << outcome.lines;
                std::ofstream(file_copy, std::ios::binary) << outcome.file;
                ::_exit(threads[0] == '1' && pool_thread_count() != 1 ? 1 : 0);
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            outcomes.push_back({read_file(lines_copy), read_file(file_copy), ""});
        }
        ASSERT_FALSE(outcomes[0].file.empty());
        EXPECT_EQ(difference(outcomes[1].lines, outcomes[0].lines), "");
        EXPECT_EQ(difference(outcomes[1].file, outcomes[0].file), "");
    }
}
