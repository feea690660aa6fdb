#include "elementwise.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Floats of every kind: random bit patterns (NaNs with any payload and sign,
// subnormals, both zeros, infinities) mixed with ordinary values.
std::vector<float> awkward_floats(size_t n, std::mt19937& random) {
    static const uint32_t specials[] = {0x00000000, 0x80000000, 0x7f800000, 0xff800000, 0x7fc00000,
                                        0xffc00001, 0x7f800001, 0x00000001, 0x807fffff, 0x3f800000};
    std::vector<float> values(n);
    for (float& v : values) {
        uint32_t bits = 0;
        switch (random() % 4) {
            case 0: bits = specials[random() % std::size(specials)]; break;
            case 1: bits = uint32_t(random()); break;
            default: {
                std::normal_distribution<float> normal(0.0f, 2.0f);
                float x = normal(random);
                std::memcpy(&bits, &x, sizeof bits);
            }
        }
        std::memcpy(&v, &bits, sizeof v);
    }
    return values;
}

// The same bits, except that any NaN matches any NaN: a NaN's sign and
// payload depend on which operand the compiler puts first in a + b or a * b
// of two NaNs, which the language leaves open and no result shows.
bool same_value(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y || (std::isnan(a) && std::isnan(b));
}

// "" when both hold the same values, else "element 5: 0x00000000, baseline
// 0x80000000" for the first difference.
std::string difference(const std::vector<float>& got, const std::vector<float>& expected) {
    if (got.size() != expected.size()) return "sizes differ";
    for (size_t i = 0; i < got.size(); ++i) {
        if (same_value(got[i], expected[i])) continue;
        uint32_t g, e;
        std::memcpy(&g, &got[i], sizeof g);
        std::memcpy(&e, &expected[i], sizeof e);
        char text[80];
        std::snprintf(text, sizeof text, "element %zu: 0x%08x, baseline 0x%08x", i, unsigned(g), unsigned(e));
        return text;
    }
    return "";
}

// Inputs for one call of every kernel; each kernel writes into copies.
struct Operands {
    size_t rows, cols, stride;
    std::vector<float> a, b, c, d, row, column, wide;  // rows x cols (a-d), cols, rows, rows x stride
    float scalar;
};

Operands operands(size_t rows, size_t cols, std::mt19937& random) {
    size_t n = rows * cols, stride = cols + 3;
    return {rows,
            cols,
            stride,
            awkward_floats(n, random),
            awkward_floats(n, random),
            awkward_floats(n, random),
            awkward_floats(n, random),
            awkward_floats(cols, random),
            awkward_floats(rows, random),
            awkward_floats(rows * stride, random),
            awkward_floats(1, random)[0]};
}

struct Result {
    std::string kernel;
    std::vector<std::vector<float>> arrays;  // every array a kernel may write
};

// One run of every kernel, each on its own copy of the operands.
std::vector<Result> results(const ElementwiseKernels& k, const Operands& o) {
    std::vector<Result> out;
    size_t r = o.rows, c = o.cols, n = r * c;
    auto run = [&](const char* kernel, auto body) {
        Operands copy = o;
        body(copy);
        out.push_back({kernel, {copy.a, copy.b, copy.c, copy.d, copy.row}});
    };
    run("add_bias", [&](Operands& x) { k.add_bias(x.a.data(), r, c, x.row.data()); });
    run("add_bias_relu", [&](Operands& x) { k.add_bias_relu(x.a.data(), r, c, x.row.data()); });
    run("add_bias_relu_copy", [&](Operands& x) { k.add_bias_relu_copy(x.a.data(), x.b.data(), r, c, x.row.data()); });
    run("relu", [&](Operands& x) { k.relu(x.a.data(), x.b.data(), n); });
    run("relu_gradient", [&](Operands& x) { k.relu_gradient(x.wide.data(), x.stride, x.a.data(), r, c); });
    run("add_column_sums", [&](Operands& x) { k.add_column_sums(x.wide.data(), x.stride, r, c, x.row.data()); });
    run("relu_gradient_column_sums", [&](Operands& x) { k.relu_gradient_column_sums(x.wide.data(), x.stride, x.a.data(), r, c, x.row.data()); });
    if (c > 0) run("softmax", [&](Operands& x) { k.softmax(x.a.data(), x.b.data(), r, c); });
    run("divide", [&](Operands& x) { k.divide(x.a.data(), x.scalar, x.b.data(), n); });
    run("divide in place", [&](Operands& x) { k.divide(x.a.data(), x.scalar, x.a.data(), n); });
    run("mean_squared_error_gradient", [&](Operands& x) {
        k.mean_squared_error_gradient(x.a.data(), x.column.data(), r, c, float(c), float(r), x.b.data());
    });
    run("add", [&](Operands& x) { k.add(x.a.data(), x.b.data(), n); });
    run("multiply", [&](Operands& x) { k.multiply(x.a.data(), x.b.data(), x.c.data(), n); });
    run("multiply_rows", [&](Operands& x) { k.multiply_rows(x.a.data(), r, c, x.wide.data(), x.stride); });
    AdamStep adam{0.9f, 0.1f, 0.271f, 0.999f, 0.001f, 0.002997f, -0.001f, 1e-7f};
    run("adam", [&](Operands& x) { k.adam(adam, n, x.a.data(), x.b.data(), x.c.data(), x.d.data()); });
    AdamStep odd_adam{o.scalar, 0.5f, o.row[0], 2.0f, -1.0f, 0.0f, 3.0f, 0.0f};
    run("adam, odd step", [&](Operands& x) { k.adam(odd_adam, n, x.a.data(), x.b.data(), x.c.data(), x.d.data()); });
    TfAdamStep tf_adam{0.9f, 0.1f, 0.999f, 0.001f, 0.0316f, 1e-7f};
    run("tf_adam", [&](Operands& x) { k.tf_adam(tf_adam, n, x.a.data(), x.b.data(), x.c.data(), x.d.data()); });
    run("sgd", [&](Operands& x) { k.sgd(-0.01f, n, x.a.data(), x.b.data()); });
    run("sgd, odd rate", [&](Operands& x) { k.sgd(x.scalar, n, x.a.data(), x.b.data()); });
    return out;
}

TEST(Elementwise, EveryVariantGivesTheBaselinesBits) {
    ElementwiseVariants supported = supported_elementwise_variants();
    ASSERT_STREQ(supported.variants[0]->name, "x86-64");
    EXPECT_STREQ(elementwise().name, supported.variants[supported.count - 1]->name);
    std::mt19937 random(20240611);
    for (size_t rows : {0, 1, 3, 17, 40})
        for (size_t cols : {1, 2, 3, 7, 8, 15, 16, 17, 33, 64, 100}) {
            Operands o = operands(rows, cols, random);
            std::vector<Result> expected = results(*supported.variants[0], o);
            for (size_t v = 1; v < supported.count; ++v) {
                std::vector<Result> got = results(*supported.variants[v], o);
                ASSERT_EQ(got.size(), expected.size());
                for (size_t i = 0; i < got.size(); ++i)
                    for (size_t a = 0; a < got[i].arrays.size(); ++a)
                        EXPECT_EQ(difference(got[i].arrays[a], expected[i].arrays[a]), "")
                            << supported.variants[v]->name << " " << got[i].kernel << ", " << rows << " x " << cols
                            << ", array " << a;
            }
        }
}

}  // namespace
