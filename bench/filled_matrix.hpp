#pragma once
// Deterministic operands for the C++ benchmarks: values in [-1, 1] in steps
// of 0.001 from a linear congruential sequence, the same on every machine.

#include "array.hpp"

inline Matrix filled(size_t rows, size_t cols, unsigned seed) {
    Matrix x(rows, cols);
    unsigned state = seed;
    for (float& v : x.data) {
        state = state * 1664525u + 1013904223u;
        v = float(int(state >> 9) % 2001 - 1000) / 1000.0f;
    }
    return x;
}
