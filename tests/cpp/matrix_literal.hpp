#pragma once
// Small literals for the numerical tests.

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "array.hpp"

inline Matrix matrix_of(std::initializer_list<std::initializer_list<float>> rows) {
    Matrix m;
    m.rows = rows.size();
    m.cols = rows.size() == 0 ? 0 : rows.begin()->size();
    for (const auto& row : rows)
        for (float x : row) m.data.push_back(x);
    return m;
}

inline float float_from_bits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline uint32_t bits_of(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}
