#pragma once
// Number texts shared by the model file and the printed lines.

#include <cstddef>
#include <string>

// The shortest digit string that reads back as the same float: value =
// (negative ? -1 : 1) * digits * 10^exponent, digits without trailing zeros.
// Only for finite values; zero gives digits "0", exponent 0.
struct ShortestDecimal {
    char digits[16];
    int n_digits;
    int exponent;
    bool negative;
};
ShortestDecimal shortest_decimal(float value);

// Appends the model file's form of a float: "1.0", "12.5", "0.001", "1e-7",
// "1.5e20", "-0.0"; NaN and infinities as null.
void append_json_float(std::string& out, float value);

// The same form written straight into a buffer with room for json_float_max_chars
// bytes; returns the end. The file writer uses it to avoid a string per number.
constexpr int json_float_max_chars = 32;
char* write_json_float(char* out, float value);

// The same for a run of values, each after a comma (",1.0,-2.5"), into room
// for count * json_float_list_chars + json_float_max_chars bytes; returns the
// end. Uses the widest instructions the CPU has; the bytes never depend on it.
constexpr int json_float_list_chars = 18;  // "-0.00000123456789" and its comma
char* write_json_float_list(char* out, const float* values, size_t count);

// Every list writer this CPU can run, the plain one first and the one
// write_json_float_list uses last, so tests can hold them to the same bytes.
using JsonFloatListWriter = char* (*)(char* out, const float* values, size_t count);
struct JsonFloatListWriters {
    JsonFloatListWriter writers[2];
    int count;
};
JsonFloatListWriters supported_json_float_list_writers();

// Exact binary value rounded to `decimals` places, ties to even: 0.0625 -> "0.062".
// NaN -> "NaN", infinities -> "inf", "-inf".
std::string format_fixed(float value, int decimals);

// Shortest round-trip digits in plain positional notation, no exponent, no point
// for whole numbers: 0.001 -> "0.001", 1 -> "1", 1e-7 -> "0.0000001".
std::string format_shortest(float value);
