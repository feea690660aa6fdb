#include "format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr float nan_f = std::numeric_limits<float>::quiet_NaN();
constexpr float inf_f = std::numeric_limits<float>::infinity();

struct FormCase {
    float value;
    const char* json;      // model file form
    const char* shortest;  // printed-line form, no exponent
};

const FormCase form_cases[] = {
    {0.0f, "0.0", "0"},
    {-0.0f, "-0.0", "-0"},
    {1.0f, "1.0", "1"},
    {100.0f, "100.0", "100"},
    {12.5f, "12.5", "12.5"},
    {-2.5f, "-2.5", "-2.5"},
    {0.001f, "0.001", "0.001"},
    {0.1f, "0.1", "0.1"},
    {0.33333334f, "0.33333334", "0.33333334"},
    {1e-7f, "1e-7", "0.0000001"},
    {1e-6f, "0.000001", "0.000001"},      // kk = -5: still positional
    {1.2e-6f, "0.0000012", "0.0000012"},
    {1.5e20f, "1.5e20", "150000000000000000000"},
    {123456789.0f, "123456790.0", "123456790"},
    {1e12f, "1000000000000.0", "1000000000000"},  // kk = 13: last positional form
    {1e13f, "1e13", "10000000000000"},            // kk = 14: exponent
    {1234567.9f, "1234567.9", "1234567.9"},
    {8388607.5f, "8388607.5", "8388607.5"},
    {0.12345678f, "0.12345678", "0.12345678"},
    {std::numeric_limits<float>::max(), "3.4028235e38",
     "340282350000000000000000000000000000000"},
    {std::numeric_limits<float>::denorm_min(), "1e-45",
     "0.000000000000000000000000000000000000000000001"},
    // Its shortest digits 7.038531e-26 would read back, by way of the nearest
    // double, as the neighbouring float; the file form has one digit more.
    {7.038531e-26f, "7.0385307e-26", "0.00000000000000000000000007038531"},
    {-1.1754944e-38f, "-1.1754944e-38", "-0.000000000000000000000000000000000000011754944"},
};

TEST(Format, JsonAndShortestForms) {
    for (const FormCase& c : form_cases) {
        std::string json;
        append_json_float(json, c.value);
        EXPECT_EQ(json, c.json) << c.shortest;
        EXPECT_EQ(format_shortest(c.value), c.shortest) << c.json;
    }
}

TEST(Format, NonFiniteValues) {
    for (float v : {nan_f, -nan_f, inf_f, -inf_f}) {
        std::string json;
        append_json_float(json, v);
        EXPECT_EQ(json, "null");
    }
    EXPECT_EQ(format_shortest(nan_f), "NaN");
    EXPECT_EQ(format_shortest(-nan_f), "NaN");
    EXPECT_EQ(format_shortest(inf_f), "inf");
    EXPECT_EQ(format_shortest(-inf_f), "-inf");
}

TEST(Format, ShortestDecimalDigitsAndExponent) {
    ShortestDecimal d = shortest_decimal(123456789.0f);
    EXPECT_EQ(std::string(d.digits, size_t(d.n_digits)), "12345679");
    EXPECT_EQ(d.exponent, 1);
    EXPECT_FALSE(d.negative);
    d = shortest_decimal(-0.025f);
    EXPECT_EQ(std::string(d.digits, size_t(d.n_digits)), "25");
    EXPECT_EQ(d.exponent, -3);
    EXPECT_TRUE(d.negative);
    d = shortest_decimal(100.0f);  // no trailing zeros in the digits
    EXPECT_EQ(std::string(d.digits, size_t(d.n_digits)), "1");
    EXPECT_EQ(d.exponent, 2);
}

TEST(Format, FixedRoundsTheExactBinaryValueTiesToEven) {
    struct Case {
        float value;
        int decimals;
        const char* text;
    } cases[] = {
        {0.0625f, 3, "0.062"},   // exact tie: to even
        {0.1875f, 3, "0.188"},   // exact tie: to even, upwards
        {0.0005f, 3, "0.001"},   // binary value lies above the tie
        {87.45f, 1, "87.4"},     // 87.4499969...
        {-0.0001f, 3, "-0.000"},
        {-0.0f, 3, "-0.000"},
        {2.0f, 1, "2.0"},
        {123456789.0f, 3, "123456792.000"},
        {1e-7f, 3, "0.000"},
        {nan_f, 3, "NaN"},
        {-nan_f, 1, "NaN"},
        {inf_f, 3, "inf"},
        {-inf_f, 1, "-inf"},
    };
    for (const Case& c : cases) EXPECT_EQ(format_fixed(c.value, c.decimals), c.text) << c.text;
    EXPECT_EQ(format_fixed(std::numeric_limits<float>::max(), 3),
              "340282346638528859811704183484516925440.000");
}

TEST(Format, WriteJsonFloatStaysWithinItsBound) {
    // Widest forms: negative with nine digits and a two-digit negative exponent,
    // and the longest positional forms.
    for (float v : {-1.1754942e-38f, -1.2345678e-7f, -1234567.9e6f, -0.0000012345678f}) {
        char text[json_float_max_chars];
        char* end = write_json_float(text, v);
        EXPECT_LE(end - text, 20) << std::string(text, end);
    }
}

}  // namespace

// Each list writer against write_json_float value by value: every exponent
// with random significands, the special values, both signs, and run lengths
// that end inside and outside a vector's width.
TEST(Format, EveryFloatListWriterGivesTheOneValueBytes) {
    std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, 100.0f, 8388607.0f, 16777216.0f, 1e9f, 7.038531e-26f,
                                 nan_f, -inf_f, inf_f, std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::min(), std::numeric_limits<float>::max(), 1e-7f, 0.001f};
    uint32_t state = 12345;
    for (uint32_t exponent = 0; exponent < 256; ++exponent)
        for (int i = 0; i < 40; ++i) {
            state = state * 1664525u + 1013904223u;
            uint32_t significand = i == 0 ? 0 : state >> 9;
            uint32_t bits = (state & 0x80000000u) | (exponent << 23) | significand;
            float value;
            std::memcpy(&value, &bits, sizeof value);
            values.push_back(value);
        }
    const JsonFloatListWriters supported = supported_json_float_list_writers();
    std::vector<char> text(values.size() * json_float_list_chars + json_float_max_chars);
    for (size_t count : {values.size(), size_t(7), size_t(9), size_t(0)}) {
        std::string expected;
        for (size_t i = 0; i < count; ++i) {
            expected += ',';
            append_json_float(expected, values[i]);
        }
        for (int w = 0; w < supported.count; ++w) {
            char* end = supported.writers[w](text.data(), values.data(), count);
            EXPECT_EQ(std::string(text.data(), end), expected) << "writer " << w << ", " << count << " values";
        }
    }
}
