#pragma once
// The last step of the model file's float form, shared by the one-value
// writer and the vector list writers: the digits are already in registers.
// Internal linkage on purpose: each file compiles its own copy for its own
// instruction set, so no wider copy can stand in for the baseline one.

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

static_assert(std::endian::native == std::endian::little, "digit words are stored low byte first");

inline void store8(char* out, uint64_t word) { std::memcpy(out, &word, 8); }

// The digits of one float, left-aligned to nine places: `first` is the
// leading digit's character, `rest` the other eight as ASCII (first in the
// lowest byte, padded with '0'), `n` the count of significant digits and
// `kk` the place of the point counted from the first digit. Writes, at
// `out` (the sign already written), "100.0", "12.5", "0.001" or "1.5e20";
// returns the end. Stores may reach json_float_max_chars bytes past `out`.
[[gnu::always_inline]] inline char* write_json_float_layout(char* out, char first, uint64_t rest,
                                                            int n, int kk) {
    const int e = kk - n;
    if (e >= 0 && kk <= 13) {  // 100.0: the padding supplies the first zeros
        out[0] = first;
        store8(out + 1, rest);
        store8(out + 9, 0x3030303030303030ull);
        std::memcpy(out + kk, ".0", 2);
        return out + kk + 2;
    }
    if (0 < kk && kk <= 13) {  // 12.5; here kk < n <= 9
        const uint64_t head = uint64_t(uint8_t(first)) | (rest << 8);  // digits 0..7
        const uint64_t tail =
            (kk < 8 ? head >> (8 * kk) : 0) | ((rest >> 56) << (8 * (8 - kk)));
        store8(out, head);
        out[kk] = '.';
        store8(out + kk + 1, tail);
        return out + n + 1;
    }
    if (-6 < kk && kk <= 0) {  // 0.001
        store8(out, 0x3030303030302E30ull);  // "0.000000"
        out[2 - kk] = first;
        store8(out + 3 - kk, rest);
        return out + 2 - kk + n;
    }
    out[0] = first;  // 1.5e20
    int length = 1;
    if (n > 1) {
        out[1] = '.';
        store8(out + 2, rest);
        length = n + 1;
    }
    out += length;
    *out++ = 'e';
    int x = kk - 1;
    if (x < 0) {
        *out++ = '-';
        x = -x;
    }
    if (x >= 10) {  // at most 45
        out[0] = char('0' + x / 10);
        out[1] = char('0' + x % 10);
        return out + 2;
    }
    *out++ = char('0' + x);
    return out;
}

}  // namespace
