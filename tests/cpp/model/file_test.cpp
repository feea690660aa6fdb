#include "model/file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <thread>

#include "model/file_json.hpp"
#include "model/file_output.hpp"
#include "panic.hpp"

namespace {

constexpr float nan_f = std::numeric_limits<float>::quiet_NaN();
constexpr float inf_f = std::numeric_limits<float>::infinity();

// ---- fixtures -------------------------------------------------------------------

// Floats from random bit patterns: every exponent, denormals, NaN and infinities.
struct BitSource {
    uint64_t state;
    float next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        uint32_t bits = uint32_t(state >> 32);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
};

Matrix random_matrix(BitSource& bits, size_t rows, size_t cols) {
    Matrix m(rows, cols);
    for (float& v : m.data) v = bits.next();
    return m;
}

Vector random_vector(BitSource& bits, size_t n) {
    Vector v(n);
    for (float& x : v) x = bits.next();
    return v;
}

// Every field different, every array a different shape, so a swapped key,
// axis or element cannot go unnoticed.
Layer full_layer(uint64_t seed) {
    BitSource bits{seed};
    Layer layer;
    layer.layer_type = "dense";
    layer.activation_type = "relu";
    layer.n_inputs = 3;
    layer.n_neurons = UINT64_MAX;
    layer.weights = random_matrix(bits, 3, 2);
    layer.biases = random_vector(bits, 2);
    layer.weight_regularizer_l1 = 7.038531e-26f;  // needs its ninth digit in the file
    layer.weight_regularizer_l2 = -0.0f;
    layer.bias_regularizer_l1 = 1.5e20f;
    layer.bias_regularizer_l2 = nan_f;
    layer.inputs = random_matrix(bits, 4, 3);
    layer.activation_inputs = random_matrix(bits, 4, 2);
    layer.dweights = random_matrix(bits, 3, 2);
    layer.dbiases = random_vector(bits, 2);
    layer.weight_momentums = random_matrix(bits, 2, 3);
    layer.weight_cache = random_matrix(bits, 1, 6);
    layer.bias_momentums = random_vector(bits, 1);
    layer.bias_cache = random_vector(bits, 3);
    layer.dropout_rate = 0.8f;
    layer.binary_mask = random_matrix(bits, 5, 1);
    return layer;
}

Layer dropout_layer() {
    Layer layer;
    layer.layer_type = "dropout";
    layer.dropout_rate = 0.8f;
    layer.binary_mask = Matrix(2, 2, 1.25f);
    layer.inputs = Matrix(0, 7);  // empty, but with a shape
    return layer;
}

LinearModel full_linear_model() {
    LinearModel model;
    model.layers = {full_layer(1), dropout_layer(), full_layer(2)};
    model.output_type = "lin\"ear\\";
    model.loss_type = "tab\there";
    model.acc_type = "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80";
    model.acc_precision = 1e-7f;
    model.save_best_params = "dir/m.json";
    return model;
}

CategoricalModel full_categorical_model() {
    CategoricalModel model;
    model.layers = {full_layer(3)};
    model.output_type = "softmax";
    model.save_best_params = std::string("a\0b", 3);
    return model;
}

// ---- comparison -----------------------------------------------------------------

// What a float becomes after writing and reading: NaN and infinities are
// written as null, which reads back as NaN.
bool same_after_round_trip(float written, float read) {
    if (!std::isfinite(written)) return std::isnan(read);
    return std::memcmp(&written, &read, sizeof written) == 0;  // keeps -0.0 apart from 0.0
}

void expect_floats(const float* written, size_t n_written, const float* read, size_t n_read,
                   const std::string& what) {
    ASSERT_EQ(n_written, n_read) << what;
    for (size_t i = 0; i < n_written; ++i)
        EXPECT_TRUE(same_after_round_trip(written[i], read[i]))
            << what << "[" << i << "]: " << written[i] << " read as " << read[i];
}

void expect_matrix(const Matrix& written, const Matrix& read, const std::string& what) {
    EXPECT_EQ(written.rows, read.rows) << what;
    EXPECT_EQ(written.cols, read.cols) << what;
    expect_floats(written.data.data(), written.data.size(), read.data.data(), read.data.size(),
                  what);
}

void expect_vector(const Vector& written, const Vector& read, const std::string& what) {
    expect_floats(written.data(), written.size(), read.data(), read.size(), what);
}

void expect_float(float written, float read, const std::string& what) {
    expect_floats(&written, 1, &read, 1, what);
}

void expect_layer(const Layer& w, const Layer& r) {
    EXPECT_EQ(w.layer_type, r.layer_type);
    EXPECT_EQ(w.activation_type, r.activation_type);
    EXPECT_EQ(w.n_inputs, r.n_inputs);
    EXPECT_EQ(w.n_neurons, r.n_neurons);
    expect_matrix(w.weights, r.weights, "weights");
    expect_vector(w.biases, r.biases, "biases");
    expect_float(w.weight_regularizer_l1, r.weight_regularizer_l1, "weight_regularizer_l1");
    expect_float(w.weight_regularizer_l2, r.weight_regularizer_l2, "weight_regularizer_l2");
    expect_float(w.bias_regularizer_l1, r.bias_regularizer_l1, "bias_regularizer_l1");
    expect_float(w.bias_regularizer_l2, r.bias_regularizer_l2, "bias_regularizer_l2");
    expect_matrix(w.inputs, r.inputs, "inputs");
    expect_matrix(w.activation_inputs, r.activation_inputs, "activation_inputs");
    expect_matrix(w.dweights, r.dweights, "dweights");
    expect_vector(w.dbiases, r.dbiases, "dbiases");
    expect_matrix(w.weight_momentums, r.weight_momentums, "weight_momentums");
    expect_matrix(w.weight_cache, r.weight_cache, "weight_cache");
    expect_vector(w.bias_momentums, r.bias_momentums, "bias_momentums");
    expect_vector(w.bias_cache, r.bias_cache, "bias_cache");
    expect_float(w.dropout_rate, r.dropout_rate, "dropout_rate");
    expect_matrix(w.binary_mask, r.binary_mask, "binary_mask");
}

template <class Model>
void expect_model_head(const Model& w, const Model& r) {
    ASSERT_EQ(w.layers.size(), r.layers.size());
    for (size_t i = 0; i < w.layers.size(); ++i) expect_layer(w.layers[i], r.layers[i]);
    EXPECT_EQ(w.output_type, r.output_type);
    EXPECT_EQ(w.loss_type, r.loss_type);
    EXPECT_EQ(w.acc_type, r.acc_type);
    EXPECT_EQ(w.save_best_params, r.save_best_params);
}

// The reader's message for `text`, or "" when it loads.
std::string linear_error(std::string_view text) {
    try {
        parse_linear_model(text);
        return "";
    } catch (const Panic& e) {
        return e.what();
    }
}

// ---- files and directories --------------------------------------------------------

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/brenik_file_test.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        DIR* dir = ::opendir(path.c_str());
        while (dirent* entry = ::readdir(dir))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                out.push_back(entry->d_name);
        ::closedir(dir);
        std::sort(out.begin(), out.end());
        return out;
    }
};

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string panic_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const Panic& e) {
        return e.what();
    }
    return "";
}

const char* const empty_linear_text =
    R"({"layers":[],"output_type":"linear","loss_type":"mean_squared_error",)"
    R"("acc_type":"linear","acc_precision":1.0,"save_best_params":"m.json"})";

const char* const empty_array = R"({"v":1,"dim":[0,0],"data":[]})";
const char* const empty_vector = R"({"v":1,"dim":[0],"data":[]})";

// A layer object with every key, the arrays given by name (others empty).
std::string layer_text(const std::string& weights = empty_array,
                       const std::string& extra_key = "") {
    std::string m = empty_array, v = empty_vector;
    return R"({"layer_type":"dense","activation_type":"","n_inputs":0,"n_neurons":0,"weights":)" +
           weights + R"(,"biases":)" + v +
           R"(,"weight_regularizer_l1":0.0,"weight_regularizer_l2":0.0,"bias_regularizer_l1":0.0,)"
           R"("bias_regularizer_l2":0.0,"inputs":)" +
           m + R"(,"activation_inputs":)" + m + R"(,"dweights":)" + m + R"(,"dbiases":)" + v +
           R"(,"weight_momentums":)" + m + R"(,"weight_cache":)" + m + R"(,"bias_momentums":)" + v +
           R"(,"bias_cache":)" + v + extra_key + R"(,"dropout_rate":0.0,"binary_mask":)" + m + "}";
}

std::string linear_text_with(const std::string& layers, const std::string& precision = "1.0") {
    return R"({"layers":[)" + layers +
           R"(],"output_type":"linear","loss_type":"mean_squared_error","acc_type":"linear",)"
           R"("acc_precision":)" +
           precision + R"(,"save_best_params":"m.json"})";
}

// ---- writing ----------------------------------------------------------------------

TEST(ModelFile, EmptyLinearModelText) {
    LinearModel model = create_linear_model("linear", "m.json");
    EXPECT_EQ(model_json(model), empty_linear_text);
}

TEST(ModelFile, LayerTextKeyOrderAndForms) {
    CategoricalModel model;
    model.save_best_params = "c.json";
    Layer layer;
    layer.layer_type = "dense";
    layer.n_inputs = 2;
    layer.n_neurons = 1;
    layer.weights = Matrix(2, 1);
    layer.weights.data = {0.1f, nan_f};
    layer.biases = {-0.0f};
    layer.dropout_rate = 0.8f;
    model.layers = {layer};
    EXPECT_EQ(model_json(model),
              R"({"layers":[{"layer_type":"dense","activation_type":"","n_inputs":2,"n_neurons":1,)"
              R"("weights":{"v":1,"dim":[2,1],"data":[0.1,null]},"biases":{"v":1,"dim":[1],"data":[-0.0]},)"
              R"("weight_regularizer_l1":0.0,"weight_regularizer_l2":0.0,"bias_regularizer_l1":0.0,)"
              R"("bias_regularizer_l2":0.0,"inputs":{"v":1,"dim":[0,0],"data":[]},)"
              R"("activation_inputs":{"v":1,"dim":[0,0],"data":[]},"dweights":{"v":1,"dim":[0,0],"data":[]},)"
              R"("dbiases":{"v":1,"dim":[0],"data":[]},"weight_momentums":{"v":1,"dim":[0,0],"data":[]},)"
              R"("weight_cache":{"v":1,"dim":[0,0],"data":[]},"bias_momentums":{"v":1,"dim":[0],"data":[]},)"
              R"("bias_cache":{"v":1,"dim":[0],"data":[]},"dropout_rate":0.8,)"
              R"("binary_mask":{"v":1,"dim":[0,0],"data":[]}}],"output_type":"softmax",)"
              R"("loss_type":"categorical_crossentropy","acc_type":"categorical","save_best_params":"c.json"})");
}

TEST(ModelFile, StringEscapes) {
    struct Case {
        std::string text;
        const char* json;
    } cases[] = {
        {"\"", R"("\"")"},
        {"\\", R"("\\")"},
        {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
        {std::string("\0", 1), R"("\u0000")"},
        {"\x01\x1a\x1f", R"("\u0001\u001a\u001f")"},
        {"/ \x7f", "\"/ \x7f\""},                                // not escaped
        {"\xc3\xa9\xf0\x9f\x98\x80", "\"\xc3\xa9\xf0\x9f\x98\x80\""},  // UTF-8 unchanged
    };
    for (const Case& c : cases) {
        CategoricalModel model;
        model.save_best_params = c.text;
        std::string text = model_json(model);
        std::string tail = text.substr(text.find("\"save_best_params\":") + 19);
        EXPECT_EQ(tail, std::string(c.json) + "}");
        EXPECT_EQ(parse_categorical_model(text).save_best_params, c.text);
    }
}

TEST(ModelFile, RoundTripOfEveryField) {
    LinearModel linear = full_linear_model();
    LinearModel linear_back = parse_linear_model(model_json(linear));
    expect_model_head(linear, linear_back);
    expect_float(linear.acc_precision, linear_back.acc_precision, "acc_precision");

    CategoricalModel categorical = full_categorical_model();
    expect_model_head(categorical, parse_categorical_model(model_json(categorical)));
}

TEST(ModelFile, SavedFileLoadsBack) {
    TempDir dir;
    LinearModel linear = full_linear_model();
    save_model_file(linear, dir.file("l.json"));
    EXPECT_EQ(read_text(dir.file("l.json")), model_json(linear));
    LinearModel back = load_linear_model_file(dir.file("l.json"));
    expect_model_head(linear, back);

    CategoricalModel categorical = full_categorical_model();
    save_model_file(categorical, dir.file("c.json"));
    expect_model_head(categorical, load_categorical_model_file(dir.file("c.json")));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"c.json", "l.json"}));
}

TEST(ModelFile, ModelKindsAcrossLoaders) {
    // The categorical reader skips acc_precision as an unknown key; the linear
    // reader misses it in a categorical file.
    LinearModel linear = full_linear_model();
    CategoricalModel as_categorical = parse_categorical_model(model_json(linear));
    EXPECT_EQ(as_categorical.layers.size(), 3u);
    EXPECT_EQ(as_categorical.save_best_params, "dir/m.json");
    std::string error = linear_error(model_json(CategoricalModel{}));
    EXPECT_NE(error.find("missing field `acc_precision` at line 1 column"), std::string::npos)
        << error;
}

// ---- reading rules ------------------------------------------------------------------

TEST(ModelFile, AcceptedForms) {
    // Keys in any order, unknown keys of any shape skipped, whitespace anywhere.
    std::string reordered =
        " \r\n\t{\"save_best_params\" : \"m.json\" ,\n \"comment\": {\"a\": [1, -2.5e3, true, false, "
        "null, \"x\\\"y\", {}, []]},\n \"acc_precision\": 2, \"acc_type\":\"linear\",\n"
        " \"loss_type\":\"mean_squared_error\", \"output_type\":\"linear\", \"layers\":\n[\n" +
        layer_text(R"({"dim":[1,2],"data":[1,2.5],"v":1})", R"(,"note":[[[["deep"]]]])") +
        "\n]\n}\n  ";
    LinearModel model = parse_linear_model(reordered);
    EXPECT_EQ(model.acc_precision, 2.0f);
    ASSERT_EQ(model.layers.size(), 1u);
    EXPECT_EQ(model.layers[0].weights.rows, 1u);
    EXPECT_EQ(model.layers[0].weights.cols, 2u);
    EXPECT_EQ(model.layers[0].weights.data, (std::vector<float>{1.0f, 2.5f}));

    // Positional forms of the model (6 values), a layer (20) and an array object (3).
    std::string positional =
        R"([[["dropout","relu",1,2,[1,[1,2],[3,4]],[1,[2],[5,6]],0,0,0,0,)"
        R"([1,[0,0],[]],[1,[0,0],[]],[1,[0,0],[]],[1,[0],[]],[1,[0,0],[]],[1,[0,0],[]],)"
        R"([1,[0],[]],[1,[0],[]],0.5,[1,[1,1],[2]]]],"linear","mse","lin",0.25,"p.json"])";
    model = parse_linear_model(positional);
    ASSERT_EQ(model.layers.size(), 1u);
    const Layer& layer = model.layers[0];
    EXPECT_EQ(layer.layer_type, "dropout");
    EXPECT_EQ(layer.n_neurons, 2u);
    EXPECT_EQ(layer.weights.data, (std::vector<float>{3.0f, 4.0f}));
    EXPECT_EQ(layer.biases, (Vector{5.0f, 6.0f}));
    EXPECT_EQ(layer.dropout_rate, 0.5f);
    EXPECT_EQ(layer.binary_mask.data, (std::vector<float>{2.0f}));
    EXPECT_EQ(model.acc_precision, 0.25f);
    EXPECT_EQ(model.save_best_params, "p.json");

    // An array object with a shape but no elements.
    model = parse_linear_model(linear_text_with(layer_text(R"({"v":1,"dim":[0,7],"data":[]})")));
    EXPECT_EQ(model.layers[0].weights.cols, 7u);
}

TEST(ModelFile, PrettyPrintedCopyLoads) {
    // Reindent the library's own text: a line break and indent after every
    // structural character outside strings.
    LinearModel model = full_linear_model();
    std::string compact = model_json(model), pretty;
    bool in_string = false;
    for (size_t i = 0; i < compact.size(); ++i) {
        char c = compact[i];
        pretty += c;
        if (in_string) {
            if (c == '\\') pretty += compact[++i];
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[' || c == ',' || c == ':') {
            pretty += "\n    ";
        }
    }
    expect_model_head(model, parse_linear_model(pretty + "\n"));
}

TEST(ModelFile, NullReadsAsNaNOnlyInFloatFields) {
    std::string layer = layer_text(R"({"v":1,"dim":[1,2],"data":[null,1]})");
    layer.replace(layer.find("\"dropout_rate\":0.0"), 18, "\"dropout_rate\":null");
    LinearModel model = parse_linear_model(linear_text_with(layer, "null"));
    EXPECT_TRUE(std::isnan(model.acc_precision));
    EXPECT_TRUE(std::isnan(model.layers[0].dropout_rate));
    EXPECT_TRUE(std::isnan(model.layers[0].weights.data[0]));
    EXPECT_EQ(model.layers[0].weights.data[1], 1.0f);

    // A model saved with a NaN weight loads back with the NaN.
    LinearModel saved;
    saved.layers = {full_layer(4)};
    saved.layers[0].weights.data[0] = nan_f;
    EXPECT_TRUE(std::isnan(parse_linear_model(model_json(saved)).layers[0].weights.data[0]));
}

TEST(ModelFile, RefusedTexts) {
    const std::string good_layer = layer_text();
    struct Case {
        std::string text;
        const char* message;  // the reader's description, before " at line"
    } cases[] = {
        {"", "EOF while parsing a value"},
        {"   \n", "EOF while parsing a value"},
        {linear_text_with(good_layer) + " {}", "trailing characters"},
        {linear_text_with(good_layer) + "x", "trailing characters"},
        {"\xef\xbb\xbf" + linear_text_with(""), "expected value"},  // byte-order mark
        {R"({"layers":[],"output_type":"linear"})", "missing field `loss_type`"},
        {linear_text_with("").replace(1, 0, R"("acc_type":"x",)"), "duplicate field `acc_type`"},
        {linear_text_with(layer_text(empty_array, R"(,"n_inputs":1)")), "duplicate field `n_inputs`"},
        {linear_text_with(good_layer.substr(0, good_layer.find(",\"binary_mask\"")) + "}"),
         "missing field `binary_mask`"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[0,0],"data":[],"note":1})")),
         "unknown field `note`, expected one of `v`, `dim`, `data`"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[0,0]})")), "missing field `data`"},
        {linear_text_with(layer_text(R"({"v":2,"dim":[0,0],"data":[]})")),
         "unsupported array version 2, expected 1"},
        {linear_text_with(layer_text(R"({"v":1.0,"dim":[0,0],"data":[]})")),
         "unsupported array version 1.0, expected 1"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[2,3],"data":[1,2,3,4,5]})")),
         "invalid length 5 of data, expected 6 elements"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[6],"data":[1,2,3,4,5,6]})")),
         "invalid length of dim, expected 2 axis lengths"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[1,1,1],"data":[1]})")),
         "invalid length of dim, expected 2 axis lengths"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[4294967296,4294967296],"data":[]})")),
         "dim [4294967296,4294967296] holds more elements than can exist"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[1,-1],"data":[]})")),
         "invalid value: -1, expected an unsigned integer"},
        {linear_text_with(layer_text(R"([1,[0,0]])")),
         "invalid length 2, expected an array object as an array of 3 values"},
        {linear_text_with(layer_text(R"([1,[0,0],[],1])")),
         "trailing elements, expected an array object as an array of 3 values"},
        {R"([[],"linear","mse","linear",1.0])",
         "invalid length 5, expected a LinearModel as an array of 6 values"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[1,1],"data":["1"]})")),
         "invalid type: string, expected a number"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[1,1],"data":[true]})")),
         "invalid type: boolean, expected a number"},
        {linear_text_with(layer_text("null")), "invalid type: null, expected an array object"},
        {linear_text_with("null"), "invalid type: null, expected a layer"},
        {R"({"layers":null})", "invalid type: null, expected a sequence of layers"},
        {linear_text_with("", "\"1\""), "invalid type: string, expected a number"},
        {linear_text_with("").replace(linear_text_with("").find("\"m.json\""), 8, "null"),
         "invalid type: null, expected a string"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[null,0],"data":[]})")),
         "invalid type: null, expected an unsigned integer"},
        {linear_text_with(layer_text(R"({"v":1,"dim":null,"data":[]})")),
         "invalid type: null, expected a sequence of axis lengths"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[1.5,0],"data":[]})")),
         "invalid value: 1.5, expected an unsigned integer"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[1e0,0],"data":[]})")),
         "invalid value: 1e0, expected an unsigned integer"},
        {linear_text_with(layer_text(R"({"v":1,"dim":[18446744073709551616,0],"data":[]})")),
         "number out of range"},
        {linear_text_with("", "1e400"), "number out of range"},
        {linear_text_with("", "-1" + std::string(400, '0')), "number out of range"},
        {linear_text_with("", "01"), "invalid number: leading zero"},
        {linear_text_with("", "1."), "invalid number"},
        {linear_text_with("", ".5"), "expected value"},  // not a JSON number
        {linear_text_with("", "+1"), "expected value"},
        {linear_text_with("", "-"), "invalid number"},
        {linear_text_with("", "1e+"), "invalid number"},
        {linear_text_with("", "NaN"), "expected value"},
        {linear_text_with("", "Infinity"), "expected value"},
        {linear_text_with("", "nul"), "expected value"},
        {linear_text_with("", "1,"), "key must be a string"},
        {linear_text_with(good_layer + ","), "expected value"},
        {R"({"layers":[] "output_type":"x"})", "expected `,` or `}`"},
        {R"({"layers" []})", "expected `:`"},
        {R"({"layers":[)", "EOF while parsing"},
        {R"({"output_type":"lin)", "EOF while parsing a string"},
        {"{\"output_type\":\"a\nb\"}", "control character (\\u000a) found while parsing a string"},
        {R"({"output_type":"\x"})", "invalid escape"},
        {R"({"output_type":"\u12g4"})", "invalid escape"},
        {R"({"output_type":"\ud800"})", "lone leading surrogate in hex escape"},
        {R"({"output_type":"\udc00"})", "lone trailing surrogate in hex escape"},
        {"{\"output_type\":\"\xc3\"}", "invalid UTF-8 in string"},
        {"{\"output_type\":\"\xed\xa0\x80\"}", "invalid UTF-8 in string"},  // encoded surrogate
        {"{\"x\":\"\xff\"}", "invalid UTF-8 in string"},  // also inside skipped values
        {R"({"x":[1,2})", "expected `,` or `]`"},
        {R"({"x":{"a":1]})", "expected `,` or `}`"},
        {R"({"x":{1:2}})", "key must be a string"},
        {R"({"x":tru})", "expected value"},
    };
    for (const Case& c : cases) {
        std::string error = linear_error(c.text);
        EXPECT_NE(error.find(c.message), std::string::npos)
            << "text: " << c.text.substr(0, 120) << "\nerror: " << error;
        EXPECT_NE(error.find(" at line "), std::string::npos) << error;
    }
}

TEST(ModelFile, ErrorPositionCountsLinesAndColumns) {
    std::string text = linear_text_with("");
    text.insert(text.find("\"acc_type\""), "\n\n  \"acc_type\":\"y\",\n");
    std::string error = linear_error(text);
    EXPECT_NE(error.find("duplicate field `acc_type` at line 4 column 1"), std::string::npos)
        << error;
    EXPECT_EQ(linear_error("{\n  \"layers\": [1]}"),
              "invalid type: number, expected a layer at line 2 column 14");
}

TEST(ModelFile, IntegersRoundOnceFractionsByWayOfDouble) {
    // 2^60 + 2^36 + 1 lies just above the midpoint of two floats. As an integer
    // it rounds up; with a fraction it first becomes the double 2^60 + 2^36,
    // exactly the midpoint, which then rounds to even (down).
    struct Case {
        const char* number;
        float value;
    } cases[] = {
        {"1152921573326323713", 1152921642045800448.0f},
        {"1152921573326323713.0", 1152921504606846976.0f},
        {"1152921573326323713e0", 1152921504606846976.0f},
        {"16777217", 16777216.0f},
        {"-0", -0.0f},
        {"-0.0", -0.0f},
        {"1E2", 100.0f},
        {"1e-400", 0.0f},  // below the double range: zero
        {"-1e-400", -0.0f},
        {"0.00000000000000000000000000000000000000000000000001e-300", 0.0f},
        {"1e39", inf_f},  // within double, beyond float: infinity
        {"-1e39", -inf_f},
        {"1000000000000000000000000000000000000000", inf_f},
        {"340282356779733661637539395458142568447", std::numeric_limits<float>::max()},
        {"3.4028235677973366e38", inf_f},  // just past the halfway point
        {"0.1000000000000000055511151231257827021181583404541015625", 0.1f},
    };
    for (const Case& c : cases) {
        LinearModel model = parse_linear_model(linear_text_with("", c.number));
        float got = model.acc_precision;
        EXPECT_EQ(std::memcmp(&got, &c.value, sizeof got), 0)
            << c.number << " read as " << got << " instead of " << c.value;
    }
}

TEST(ModelFile, NumberShortcutsAgreeWithFromChars) {
    // Short tokens are converted with exact arithmetic, long ones by
    // from_chars; both must give from_chars' result for every token.
    uint64_t state = 12345;
    auto next = [&](uint64_t bound) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return (state >> 33) % bound;
    };
    std::vector<std::string> tokens;
    for (int i = 0; i < 20000; ++i) {
        std::string digits = std::to_string(1 + next(9));
        size_t length = 1 + next(22);
        while (digits.size() < length) digits += char('0' + next(10));
        std::string token = next(2) ? "-" : "";
        size_t point = next(digits.size() + 1);  // == size: no fraction
        if (point == 0) token.append("0.").append(next(5), '0').append(digits);
        else if (point < digits.size())
            token.append(digits, 0, point).append(".").append(digits, point);
        else token += digits;
        if (next(3) == 0) token.append("e").append(std::to_string(int(next(40)) - 25));
        tokens.push_back(token);
    }
    std::string data;
    for (const std::string& t : tokens) data += (data.empty() ? "" : ",") + t;
    std::string weights = R"({"v":1,"dim":[1,)" + std::to_string(tokens.size()) + R"(],"data":[)" +
                          data + "]}";
    std::vector<float> read = parse_linear_model(linear_text_with(layer_text(weights)))
                                  .layers[0].weights.data;
    ASSERT_EQ(read.size(), tokens.size());
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        float expected;
        if (t.find_first_of(".e") == std::string::npos) {
            std::from_chars(t.data(), t.data() + t.size(), expected);
        } else {
            double d;
            std::from_chars(t.data(), t.data() + t.size(), d);
            expected = float(d);
        }
        EXPECT_EQ(std::memcmp(&expected, &read[i], sizeof expected), 0)
            << t << " read as " << read[i] << " instead of " << expected;
    }
}

TEST(ModelFile, DeepNestingInAnUnknownKeyIsSkipped) {
    const size_t depth = 1000000;
    std::string deep = std::string(depth, '[') + std::string(depth, ']');
    std::string text = linear_text_with(layer_text(empty_array, ",\"deep\":" + deep));
    EXPECT_EQ(parse_linear_model(text).layers.size(), 1u);

    std::string objects;
    for (size_t i = 0; i < depth; ++i) objects += "{\"a\":";
    objects += "1" + std::string(depth, '}');
    EXPECT_EQ(parse_linear_model("{\"x\":" + objects + "," + linear_text_with("").substr(1)).layers.size(),
              0u);

    std::string unclosed = "{\"x\":" + std::string(depth, '[');
    EXPECT_NE(linear_error(unclosed).find("EOF while parsing"), std::string::npos);
}

// ---- saving ---------------------------------------------------------------------------

// A model whose text is a few hundred kilobytes.
LinearModel large_model() {
    LinearModel model;
    model.save_best_params = "big.json";
    model.layers = {full_layer(9)};
    model.layers[0].inputs = Matrix(200, 100, 0.123456f);
    return model;
}

// Writes with a direct block size of GetParam() bytes (the default is far
// above the texts here; 4096 sends them through the writer thread).
class DirectBlocks : public testing::TestWithParam<size_t> {
protected:
    void SetUp() override { direct_output_block_bytes = GetParam(); }
    void TearDown() override { direct_output_block_bytes = default_block_bytes; }
    const size_t default_block_bytes = direct_output_block_bytes;
};
INSTANTIATE_TEST_SUITE_P(ModelFile, DirectBlocks, testing::Values(size_t(1) << 20, size_t(4096), size_t(3 * 4096)));

TEST_P(DirectBlocks, FailedWriteKeepsThePreviousFile) {
    TempDir dir;
    std::string path = dir.file("m.json");
    LinearModel good = full_linear_model();
    save_model_file(good, path);
    std::string previous = read_text(path);
    std::string err_path = dir.file("stderr.txt");

    // The child writes with a file size limit far below the model's size, as a
    // full disk would stop it; it must return normally and warn once.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(err, 2);
        try {
            save_model_file(large_model(), path);
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(read_text(path), previous);
    expect_model_head(good, load_linear_model_file(path));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json", "stderr.txt"}));  // no temp left
    std::string warning = read_text(err_path);
    EXPECT_EQ(warning,
              "brenik: warning: could not write model file " + path +
                  ": File too large (os error 27); the previous file is unchanged\n");
}

TEST(ModelFile, SaveReplacesTheWholeFileAndKeepsItsMode) {
    TempDir dir;
    std::string path = dir.file("m.json");
    write_text(path, std::string(1000000, 'x'));
    ::chmod(path.c_str(), 0640);
    LinearModel model = create_linear_model("linear", "m.json");
    save_model_file(model, path);
    EXPECT_EQ(read_text(path), empty_linear_text);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json"}));
}

TEST(ModelFile, SaveThroughSymbolicLinks) {
    TempDir dir;
    LinearModel model = create_linear_model("linear", "m.json");
    // A link to an existing file: the file is replaced, the link stays.
    write_text(dir.file("real.json"), "old");
    ASSERT_EQ(::symlink("real.json", dir.file("link.json").c_str()), 0);
    save_model_file(model, dir.file("link.json"));
    EXPECT_EQ(read_text(dir.file("real.json")), empty_linear_text);
    struct stat st;
    ASSERT_EQ(::lstat(dir.file("link.json").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // A dangling link: the file it names is created.
    ASSERT_EQ(::symlink("new.json", dir.file("dangling.json").c_str()), 0);
    save_model_file(model, dir.file("dangling.json"));
    EXPECT_EQ(read_text(dir.file("new.json")), empty_linear_text);
}

TEST(ModelFile, SaveIntoAPipeWritesInPlace) {
    TempDir dir;
    std::string path = dir.file("pipe");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_text(path); });
    save_model_file(create_linear_model("linear", "m.json"), path);
    reader.join();
    EXPECT_EQ(received, empty_linear_text);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(ModelFile, UncreatableTargetsPanicWithTheOsError) {
    // The check a training run makes at its first improvement fails as the
    // save would; neither leaves anything behind.
    TempDir dir;
    write_text(dir.file("plain"), "x");
    ::mkdir(dir.file("sub").c_str(), 0755);
    LinearModel model;
    struct Case {
        std::string path;
        const char* os_error;
    } cases[] = {
        {dir.file("missing/m.json"), "No such file or directory (os error 2)"},
        {dir.file("plain/m.json"), "Not a directory (os error 20)"},
        {dir.file("sub"), "Is a directory (os error 21)"},
    };
    std::function<void(const std::string&)> attempts[] = {
        [&](const std::string& path) { save_model_file(model, path); },
        [](const std::string& path) { check_model_file_creatable(path); },
    };
    for (auto& attempt : attempts) {
        for (const Case& c : cases) {
            std::string error = panic_of([&] { attempt(c.path); });
            EXPECT_NE(error.find(c.os_error), std::string::npos) << c.path << ": " << error;
        }
        if (::geteuid() != 0) {  // root writes anywhere
            ::chmod(dir.file("sub").c_str(), 0555);
            std::string error = panic_of([&] { attempt(dir.file("sub/m.json")); });
            EXPECT_NE(error.find("Permission denied (os error 13)"), std::string::npos) << error;
            ::chmod(dir.file("sub").c_str(), 0755);
        }
    }
    EXPECT_NE(panic_of([&] { save_model_file(model, ""); }).find("No such file or directory (os error 2)"),
              std::string::npos);
    check_model_file_creatable(dir.file("new.json"));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"plain", "sub"}));
}

// Saves both ways a file system may offer: an unnamed temporary file, or a
// named one beside the target.
class TempFileWays : public testing::TestWithParam<bool> {
protected:
    void SetUp() override { named_temp_files_only = GetParam(); }
    void TearDown() override { named_temp_files_only = false; }
};

INSTANTIATE_TEST_SUITE_P(ModelFile, TempFileWays, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "named" : "unnamed"; });

TEST_P(TempFileWays, SaveTakesOverAKilledSavesLeftover) {
    TempDir dir;
    write_text(dir.file("m.json.brenik-tmp"), std::string(100000, 'x'));
    LinearModel model = full_linear_model();
    save_model_file(model, dir.file("m.json"));
    EXPECT_EQ(read_text(dir.file("m.json")), model_json(model));
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json"}));
}

TEST_P(TempFileWays, SaveBesideAnotherSaveUnderWayLeavesItsFileAlone) {
    // Another process's save holds a lock on its temporary file while it writes.
    TempDir dir;
    std::string busy = dir.file("m.json.brenik-tmp");
    write_text(busy, "half a model");
    int fd = ::open(busy.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    LinearModel model = full_linear_model();
    save_model_file(model, dir.file("m.json"));
    ::close(fd);
    EXPECT_EQ(read_text(dir.file("m.json")), model_json(model));
    EXPECT_EQ(read_text(busy), "half a model");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json", "m.json.brenik-tmp"}));
}

TEST_P(TempFileWays, KilledSavesLeaveALoadableFile) {
    // A child saves two models by turns until it is killed, at moments spread
    // over its writes; the target is always one of them, whole.
    TempDir dir;
    std::string path = dir.file("m.json");
    LinearModel first = large_model(), second = large_model();
    first.layers[0].inputs = Matrix(4000, 100, 0.25f);
    second.layers[0].inputs = Matrix(3000, 100, -1.5f);
    std::string texts[] = {model_json(first), model_json(second)};
    unsigned state = 12345;
    for (int round = 0; round < 12; ++round) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                save_model_file(first, path);
                save_model_file(second, path);
            }
        }
        state = state * 1664525u + 1013904223u;
        ::usleep(2000 + (state >> 8) % 40000);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::vector<std::string> names = dir.names();
        // The fixed temporary name, taken over by the next save: the named
        // file's whole life, or the unnamed file's between its link and the
        // rename (no call replaces a file with an unnamed one at once).
        std::vector<std::string> allowed = {"m.json", "m.json.brenik-tmp"};
        for (const std::string& name : names)
            EXPECT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end()) << name;
        if (std::find(names.begin(), names.end(), "m.json") != names.end()) {
            std::string text = read_text(path);
            EXPECT_TRUE(text == texts[0] || text == texts[1]) << "round " << round << ": " << text.size();
        }
    }
    save_model_file(first, path);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json"}));
}

TEST(ModelFile, InconsistentMatrixIsRefusedBeforeTheFileChanges) {
    TempDir dir;
    std::string path = dir.file("m.json");
    write_text(path, "previous");
    LinearModel model;
    model.layers = {Layer{}};
    model.layers[0].weights.rows = 2;  // shape says 2 x 2, data holds nothing
    model.layers[0].weights.cols = 2;
    EXPECT_NE(panic_of([&] { save_model_file(model, path); }).find("2 x 2 matrix holding 0"),
              std::string::npos);
    EXPECT_EQ(read_text(path), "previous");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json"}));
}

TEST(ModelFile, ThreadsFormatLargeMatricesIntoTheSameBytes) {
    BitSource bits{77};
    LinearModel model = full_linear_model();
    model.layers[0].activation_inputs = random_matrix(bits, 1031, 517);  // chunks of whole rows
    model.layers[2].binary_mask = random_matrix(bits, 3, 200000);        // a row wider than a chunk
    Matrix storage = random_matrix(bits, 900, 601);
    MatrixView gapped{storage.data.data(), 900, 600, 601};  // rows apart, as in a caller's array
    auto text_with = [&](size_t threads, size_t fail_after) {
        std::string text;
        JsonSink sink;
        sink.format_threads = threads;
        sink.flush = [&](const char* bytes, size_t n) {
            if (text.size() + n > fail_after) throw std::runtime_error("disk full");
            text.append(bytes, n);
        };
        write_model_json(sink, model, &gapped);
        return text;
    };
    std::string one_thread = text_with(1, SIZE_MAX);
    for (size_t threads : {2, 3, 8}) {
        EXPECT_TRUE(text_with(threads, SIZE_MAX) == one_thread) << threads << " threads";
        // A failing write ends the text with the error, the threads stopped.
        EXPECT_THROW(text_with(threads, one_thread.size() / 2), std::runtime_error);
    }
}

// Around the page cache or through it, whole blocks or a partial last one:
// the file holds the text.
TEST_P(DirectBlocks, SavedFileHoldsTheTextWhicheverWayItIsWritten) {
    TempDir dir;
    BitSource bits{5};
    LinearModel model = full_linear_model();
    for (size_t rows : {0, 1, 40, 333}) {
        model.layers[0].activation_inputs = random_matrix(bits, rows, 61);
        const std::string text = model_json(model);
        for (bool direct : {true, false}) {
            direct_output = direct;
            save_model_file(model, dir.file("m.json"));
            direct_output = true;
            EXPECT_TRUE(read_text(dir.file("m.json")) == text) << rows << " rows, direct " << direct;
        }
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"m.json"}));
}

// ---- loading ----------------------------------------------------------------------------

TEST(ModelFile, LoadFailuresCarryTheOsErrorOrThePosition) {
    TempDir dir;
    EXPECT_NE(panic_of([&] { load_linear_model_file(dir.file("none.json")); })
                  .find("No such file or directory (os error 2)"),
              std::string::npos);
    EXPECT_NE(panic_of([&] { load_categorical_model_file(dir.path); })
                  .find("Is a directory (os error 21)"),
              std::string::npos);
    EXPECT_NE(panic_of([&] { load_linear_model_file(""); })
                  .find("No such file or directory (os error 2)"),
              std::string::npos);
    EXPECT_NE(panic_of([&] { load_linear_model_file(std::string("a\0b", 3)); }).find("NUL byte"),
              std::string::npos);
    write_text(dir.file("bad.json"), linear_text_with("") + "\n{}");
    EXPECT_EQ(panic_of([&] { load_linear_model_file(dir.file("bad.json")); }),
              "cannot load model file " + dir.file("bad.json") +
                  ": trailing characters at line 2 column 1");
}

}  // namespace
