#include "format.hpp"
#include "cpu_level.hpp"
#include "format/json_float_layout.hpp"
#include "format/pow10_upper.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// floor(q log10 2), floor(log10(3/4 2^q)) and floor(e log2 10), exact for the
// ranges used here.
int floor_log10_pow2(int q) { return int((int64_t(q) * 661971961083) >> 41); }
int floor_log10_three_quarters_pow2(int q) {
    return int((int64_t(q) * 661971961083 - 274743187321) >> 41);
}
int floor_log2_pow10(int e) { return int((int64_t(e) * 913124641741) >> 38); }

// The product's upper bits with a sticky bit for the rest: (g cp) / 2^95, rounded to odd.
uint32_t round_to_odd(uint64_t g, uint64_t cp) {
    uint64_t high = uint64_t((unsigned __int128)g * cp >> 64);
    return uint32_t((high >> 31) | (((high & 0xFFFFFFFFu) + 0xFFFFFFFFu) >> 32));
}

// The shortest decimal s 10^k in the rounding interval of c 2^q, the closest
// to it when several qualify (the Schubfach method; every float is checked
// against std::to_chars by fuzz/json_float_exhaustive.cpp).
[[gnu::always_inline]] inline void shortest_of_normal(uint32_t c, int q, uint64_t& digits,
                                                      int& exponent) {
    const uint32_t c_min = uint32_t(1) << 23;
    const bool out = c & 1;  // an odd significand excludes the interval's ends
    const uint64_t cb = uint64_t(c) << 2;
    const uint64_t cbr = cb + 2;
    uint64_t cbl;
    int k;
    if (c != c_min || q == -149) {
        cbl = cb - 2;
        k = floor_log10_pow2(q);
    } else {  // a power of two: the gap below is half the gap above
        cbl = cb - 1;
        k = floor_log10_three_quarters_pow2(q);
    }
    const int h = q + floor_log2_pow10(-k) + 33;
    const uint64_t g = pow10_upper[-k + 31];
    const uint32_t vb = round_to_odd(g, cb << h);
    const uint32_t vbl = round_to_odd(g, cbl << h);
    const uint32_t vbr = round_to_odd(g, cbr << h);
    const uint32_t s = vb >> 2;
    const uint32_t t = s + 1;
    // One digit fewer: s' 10^(k+1) or (s' + 1) 10^(k+1), when exactly one is inside.
    const uint32_t sp10 = 10 * uint32_t((uint64_t(s) * 1717986919) >> 34);
    const uint32_t tp10 = sp10 + 10;
    const bool upin = vbl + out <= sp10 << 2;
    const bool wpin = (tp10 << 2) + out <= vbr;
    // Otherwise s 10^k or t 10^k: the one inside, or the closer when both are.
    const bool uin = vbl + out <= s << 2;
    const bool win = (t << 2) + out <= vbr;
    const int32_t cmp = int32_t(vb - ((s + t) << 1));
    // Plain selects rather than branches: which case applies is data
    // dependent, and mispredicted branches would cost more than the work.
    const uint32_t closer = cmp < 0 || (cmp == 0 && (s & 1) == 0) ? s : t;
    const uint32_t inside = uin != win ? (uin ? s : t) : closer;
    digits = s >= 100 && upin != wpin ? (upin ? sp10 : tp10) : inside;
    exponent = k;
}

// Subnormals are rare; the library's own conversion handles them.
void shortest_of_subnormal(float magnitude, uint64_t& digits, int& exponent) {
    char text[32];
    const char* end = std::to_chars(text, text + sizeof text, magnitude,
                                    std::chars_format::scientific).ptr;
    // "d[.ddd]e-XX"
    const char* p = text;
    digits = uint64_t(*p++ - '0');
    int fraction_digits = 0;
    if (*p == '.')
        for (++p; *p != 'e'; ++p, ++fraction_digits) digits = digits * 10 + uint64_t(*p - '0');
    p += 2;  // "e-"
    int e = 0;
    for (; p < end; ++p) e = e * 10 + (*p - '0');
    exponent = -e - fraction_digits;
}

// "00" to "99", for writing digits two at a time.
constexpr auto two_digits = [] {
    std::array<char, 200> table{};
    for (int i = 0; i < 100; ++i) {
        table[size_t(2 * i)] = char('0' + i / 10);
        table[size_t(2 * i + 1)] = char('0' + i % 10);
    }
    return table;
}();

// Decimal digits of v, without a loop: the bit length gives the count or one
// less, a comparison decides.
int count_digits(uint32_t v) {
    static constexpr uint32_t powers_of_ten[] = {1,      10,      100,      1000,     10000,
                                                 100000, 1000000, 10000000, 100000000,
                                                 1000000000};
    const int guess = ((32 - std::countl_zero(v | 1)) * 1233) >> 12;  // bits * log10(2)
    return guess + (v >= powers_of_ten[guess]);
}

// The n digits of v, most significant first, at out[0..n).
void write_digits(char* out, uint32_t v, int n) {
    char* p = out + n;
    while (v >= 100) {
        p -= 2;
        std::memcpy(p, &two_digits[2 * (v % 100)], 2);
        v /= 100;
    }
    if (v >= 10) {
        p -= 2;
        std::memcpy(p, &two_digits[2 * v], 2);
    } else {
        *--p = char('0' + v);
    }
}

// Shortest digits and exponent of a finite, nonzero float given by its bits
// (the sign bit is ignored). The digits may end in zeros and number up to ten
// (10^9, a power of ten that the interval search reaches from below).
[[gnu::always_inline]] inline void untrimmed_shortest(uint32_t bits, uint64_t& digits,
                                                      int& exponent) {
    const uint32_t biased_exponent = (bits >> 23) & 0xFF;
    const uint32_t fraction = bits & 0x7FFFFF;
    exponent = 0;
    if (biased_exponent == 0) {
        uint32_t magnitude_bits = bits & 0x7FFFFFFF;
        float magnitude;
        std::memcpy(&magnitude, &magnitude_bits, sizeof magnitude);
        shortest_of_subnormal(magnitude, digits, exponent);
        return;
    }
    const uint32_t c = fraction | (uint32_t(1) << 23);
    const int q = int(biased_exponent) - 150;
    if (q < 0 && q > -24 && (c & ((uint32_t(1) << -q) - 1)) == 0)
        digits = c >> -q;  // a whole number below 2^23: its own digits are shortest
    else
        shortest_of_normal(c, q, digits, exponent);
}

// The same without trailing zeros: at most nine digits.
void shortest_digits(uint32_t bits, uint32_t& digits, int& exponent) {
    uint64_t wide;
    untrimmed_shortest(bits, wide, exponent);
    while (wide != 0 && wide % 10 == 0) {  // zero never comes here; never loop on it
        wide /= 10;
        ++exponent;
    }
    digits = uint32_t(wide);
}

}  // namespace

ShortestDecimal shortest_decimal(float value) {
    ShortestDecimal d{};
    d.negative = std::signbit(value);
    if (value == 0.0f) {
        d.digits[0] = '0';
        d.n_digits = 1;
        return d;
    }
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    uint32_t digits;
    shortest_digits(bits, digits, d.exponent);
    d.n_digits = count_digits(digits);
    write_digits(d.digits, digits, d.n_digits);
    return d;
}

namespace {

// Eight decimal digits of v < 10^8 as ASCII in one word, first digit in the
// lowest byte (the first in memory), computed without a loop.
uint64_t eight_ascii_digits(uint32_t v) {
    const uint64_t abcd_efgh = uint64_t(v / 10000) | (uint64_t(v % 10000) << 32);
    const uint64_t ab_ef = ((abcd_efgh * 10486) >> 20) & 0x0000007F0000007Full;  // / 100
    const uint64_t cd_gh = abcd_efgh - ab_ef * 100;
    const uint64_t ab_cd_ef_gh = ab_ef | (cd_gh << 16);
    const uint64_t a_c_e_g = ((ab_cd_ef_gh * 103) >> 10) & 0x000F000F000F000Full;  // / 10
    const uint64_t b_d_f_h = ab_cd_ef_gh - a_c_e_g * 10;
    return (a_c_e_g | (b_d_f_h << 8)) + 0x3030303030303030ull;
}

}  // namespace

// The digits are built in registers and stored in whole words, then the end
// pointer moves by the real length: no call and no byte loop per number.
// Every store stays inside the json_float_max_chars bytes the caller provides.
char* write_json_float(char* out, float value) {
    static constexpr uint32_t powers_of_ten[] = {1,      10,      100,      1000,     10000,
                                                 100000, 1000000, 10000000, 100000000};
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if ((bits & 0x7F800000u) == 0x7F800000u) {  // NaN or an infinity
        std::memcpy(out, "null", 4);
        return out + 4;
    }
    *out = '-';
    out += bits >> 31;
    if ((bits & 0x7FFFFFFFu) == 0) {
        std::memcpy(out, "0.0", 3);
        return out + 3;
    }
    uint64_t digits;
    int k;
    untrimmed_shortest(bits, digits, k);
    // The reader takes a fraction or an exponent by way of the nearest double.
    // For one magnitude alone among all floats (fuzz/json_float_exhaustive.cpp
    // checks every one) the shortest digits, 7.038531e-26, become a double
    // that rounds to the neighbouring float; one more digit reads back exactly.
    if ((bits & 0x7FFFFFFFu) == 0x15AE43FDu) {
        digits = 70385307;
        k = -33;
    }
    if (digits >= 1000000000) {  // 10^9 alone has ten digits
        digits /= 10;
        ++k;
    }
    const int untrimmed = count_digits(uint32_t(digits));
    const int kk = untrimmed + k;  // where the point goes, counted from the first digit
    // The digits left-aligned to nine places (padded with zeros): the first
    // one alone, the other eight in one word. The last nonzero byte of that
    // word ends the significant digits, so no loop strips trailing zeros.
    const uint32_t nine = uint32_t(digits) * powers_of_ten[9 - untrimmed];
    const char first = char('0' + nine / 100000000);
    const uint64_t rest = eight_ascii_digits(nine % 100000000);
    const int n = 9 - std::countl_zero(rest - 0x3030303030303030ull) / 8;
    return write_json_float_layout(out, first, rest, n, kk);
}

namespace {

char* plain_json_float_list(char* out, const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        *out++ = ',';
        out = write_json_float(out, values[i]);
    }
    return out;
}

}  // namespace

#if defined(__x86_64__)
namespace format_x86_64_v4 {
char* write_json_float_list(char* out, const float* values, size_t count);
}
#endif

JsonFloatListWriters supported_json_float_list_writers() {
    JsonFloatListWriters supported{{plain_json_float_list, nullptr}, 1};
#if defined(__x86_64__)
    if (runs_x86_64_v4()) supported.writers[supported.count++] = format_x86_64_v4::write_json_float_list;
#endif
    return supported;
}

char* write_json_float_list(char* out, const float* values, size_t count) {
    static const JsonFloatListWriter widest = [] {
        const JsonFloatListWriters supported = supported_json_float_list_writers();
        return supported.writers[supported.count - 1];
    }();
    return widest(out, values, count);
}

void append_json_float(std::string& out, float value) {
    char text[json_float_max_chars];
    out.append(text, write_json_float(text, value));
}

static const char* non_finite_text(float value) {
    if (std::isnan(value)) return "NaN";
    return value < 0.0f ? "-inf" : "inf";
}

std::string format_fixed(float value, int decimals) {
    if (!std::isfinite(value)) return non_finite_text(value);
    // Up to 39 integer digits for the largest float, then the decimals.
    std::string text(size_t(48 + decimals), '\0');
    char* end = std::to_chars(text.data(), text.data() + text.size(), double(value),
                              std::chars_format::fixed, decimals).ptr;
    text.resize(size_t(end - text.data()));
    return text;
}

std::string format_shortest(float value) {
    if (!std::isfinite(value)) return non_finite_text(value);
    ShortestDecimal d = shortest_decimal(value);
    const int n = d.n_digits;
    const int e = d.exponent;
    const int kk = n + e;
    std::string text;
    if (d.negative) text += '-';
    if (e >= 0) {
        text.append(d.digits, size_t(n));
        text.append(size_t(e), '0');
    } else if (kk > 0) {
        text.append(d.digits, size_t(kk));
        text += '.';
        text.append(d.digits + kk, size_t(n - kk));
    } else {
        text += "0.";
        text.append(size_t(-kk), '0');
        text.append(d.digits, size_t(n));
    }
    return text;
}
