// Checks every float, about eighteen minutes on one core:
//  - shortest_decimal gives the digits and exponent of std::to_chars' shortest
//    scientific form;
//  - the model file's form reads back bit for bit the way the reader takes
//    every form the writer makes (a point or an exponent): by way of the
//    nearest double;
//  - every list writer the CPU runs gives write_json_float's bytes, NaNs and
//    infinities included.
// Prints every value that fails and exits non-zero if any does.

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "format.hpp"

namespace {

bool same_as_to_chars(float value) {
    char text[32];
    const char* end = std::to_chars(text, text + sizeof text, value,
                                    std::chars_format::scientific).ptr;
    ShortestDecimal d = shortest_decimal(value);
    char mine[32];
    char* p = mine;
    if (d.negative) *p++ = '-';
    *p++ = d.digits[0];
    if (d.n_digits > 1) {
        *p++ = '.';
        std::memcpy(p, d.digits + 1, size_t(d.n_digits - 1));
        p += d.n_digits - 1;
    }
    int e = d.exponent + d.n_digits - 1;
    p += std::snprintf(p, 8, "e%c%02d", e < 0 ? '-' : '+', std::abs(e));
    return size_t(end - text) == size_t(p - mine) && std::memcmp(text, mine, size_t(p - mine)) == 0;
}

bool reads_back(float value, char* text, char*& end) {
    end = write_json_float(text, value);
    double wide = 0.0;
    auto result = std::from_chars(text, end, wide);
    float back = float(wide);
    return result.ec == std::errc() && result.ptr == end && std::memcmp(&back, &value, 4) == 0;
}

// Writes the 4096 floats from `base` on with every list writer and compares
// them with write_json_float one by one.
bool lists_agree(uint64_t base, const JsonFloatListWriters& writers) {
    constexpr size_t n = 4096;
    static float values[n];
    static char expected[n * json_float_list_chars + json_float_max_chars];
    static char text[n * json_float_list_chars + json_float_max_chars];
    for (size_t i = 0; i < n; ++i) {
        uint32_t bits = uint32_t(base + i);
        std::memcpy(&values[i], &bits, sizeof bits);
    }
    char* end = expected;
    for (size_t i = 0; i < n; ++i) {
        *end++ = ',';
        end = write_json_float(end, values[i]);
    }
    for (int w = 0; w < writers.count; ++w) {
        char* list_end = writers.writers[w](text, values, n);
        if (list_end - text != end - expected || std::memcmp(text, expected, size_t(end - expected)) != 0) {
            std::printf("list writer %d differs in the floats 0x%08llx..+%zu\n", w, (unsigned long long)base, n);
            return false;
        }
    }
    return true;
}

}  // namespace

int main() {
    const JsonFloatListWriters writers = supported_json_float_list_writers();
    uint64_t checked = 0, failed = 0;
    for (uint64_t pattern = 0; pattern <= UINT32_MAX; ++pattern) {
        uint32_t bits = uint32_t(pattern);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        if (pattern % 4096 == 0 && !lists_agree(pattern, writers)) ++failed;
        if (!std::isfinite(value)) continue;
        ++checked;
        if (!same_as_to_chars(value)) {
            std::printf("0x%08x: shortest digits differ from to_chars\n", bits);
            ++failed;
        }
        char text[json_float_max_chars];
        char* end = nullptr;
        if (!reads_back(value, text, end)) {
            std::printf("0x%08x written as %.*s reads back differently\n", bits, int(end - text),
                        text);
            ++failed;
        }
    }
    std::printf("%llu floats checked, %llu failures\n", (unsigned long long)checked,
                (unsigned long long)failed);
    return failed == 0 ? 0 : 1;
}
