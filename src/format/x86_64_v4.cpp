// The model file's float list with AVX-512 (compiled with -march=x86-64-v4):
// the shortest digits of eight floats at once, in 64-bit lanes, by the same
// steps as the scalar search in format.cpp, then the scalar layout per value.
// The bytes are those of write_json_float, value by value.

#if defined(__x86_64__)

// GCC 12 warns about the undefined first operand that its own AVX-512
// headers pass to masked builtins (a known false positive).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "format.hpp"
#include "format/json_float_layout.hpp"
#include "format/pow10_upper.hpp"

namespace {

using V = __m512i;

V set(uint64_t x) { return _mm512_set1_epi64(int64_t(x)); }
V add(V a, V b) { return _mm512_add_epi64(a, b); }
V sub(V a, V b) { return _mm512_sub_epi64(a, b); }
V band(V a, V b) { return _mm512_and_si512(a, b); }
V bor(V a, V b) { return _mm512_or_si512(a, b); }
V low32(V a) { return band(a, set(0xFFFFFFFFu)); }
V pick(__mmask8 take_b, V a, V b) { return _mm512_mask_blend_epi64(take_b, a, b); }

// The upper 64 bits of the 128-bit products g cp, from 32-bit halves.
V mul_high(V g, V cp) {
    const V g_high = _mm512_srli_epi64(g, 32);
    const V cp_high = _mm512_srli_epi64(cp, 32);
    const V ll = _mm512_mul_epu32(g, cp);
    const V lh = _mm512_mul_epu32(g, cp_high);
    const V hl = _mm512_mul_epu32(g_high, cp);
    const V hh = _mm512_mul_epu32(g_high, cp_high);
    const V mid = add(add(_mm512_srli_epi64(ll, 32), low32(lh)), low32(hl));
    return add(add(hh, _mm512_srli_epi64(lh, 32)), add(_mm512_srli_epi64(hl, 32), _mm512_srli_epi64(mid, 32)));
}

// (g cp) / 2^95 rounded to odd, as round_to_odd in format.cpp.
V round_to_odd(V g, V cp) {
    const V high = mul_high(g, cp);
    const __mmask8 sticky = _mm512_test_epi64_mask(high, set(0xFFFFFFFFu));
    return low32(_mm512_mask_or_epi64(_mm512_srli_epi64(high, 31), sticky, _mm512_srli_epi64(high, 31), set(1)));
}

// floor(a * m / 2^s) for lanes whose product fits 64 bits (both below 2^32).
V mul_shift(V a, uint64_t m, int s) { return _mm512_srli_epi64(_mm512_mul_epu32(a, set(m)), unsigned(s)); }

// Signed (q * m + b) >> s with 32-bit factors: the floor logarithms of
// format.cpp in the form whose constants fit one multiply (both forms agree
// for |q| <= 300, far beyond the exponents here).
V floor_log(V q, int32_t m, int32_t b, int s) {
    return _mm512_srai_epi64(add(_mm512_mul_epi32(q, set(uint64_t(int64_t(m)))), set(uint64_t(int64_t(b)))),
                             unsigned(s));
}

// Eight decimal digits of v < 10^8 as ASCII, first digit in the lowest byte:
// eight_ascii_digits of format.cpp, its divisions done within 32-bit and
// 16-bit fields, where no product reaches the next field.
V eight_ascii_digits(V v) {
    const V abcd = mul_shift(v, 109951163, 40);  // v / 10000
    const V efgh = sub(v, _mm512_mul_epu32(abcd, set(10000)));
    const V ab_ef = bor(mul_shift(abcd, 10486, 20), _mm512_slli_epi64(mul_shift(efgh, 10486, 20), 32));  // / 100
    const V abcd_efgh = bor(abcd, _mm512_slli_epi64(efgh, 32));
    const V cd_gh = _mm512_sub_epi32(abcd_efgh, _mm512_mullo_epi32(ab_ef, _mm512_set1_epi32(100)));
    const V ab_cd_ef_gh = bor(ab_ef, _mm512_slli_epi64(cd_gh, 16));
    const V a_c_e_g = _mm512_srli_epi16(_mm512_mullo_epi16(ab_cd_ef_gh, _mm512_set1_epi16(103)), 10);  // / 10
    const V b_d_f_h = _mm512_sub_epi16(ab_cd_ef_gh, _mm512_mullo_epi16(a_c_e_g, _mm512_set1_epi16(10)));
    return add(bor(a_c_e_g, _mm512_slli_epi64(b_d_f_h, 8)), set(0x3030303030303030ull));
}

// What write_json_float_layout takes, for eight values; `scalar` marks the
// lanes left to write_json_float: NaN, infinities, subnormals and the one
// magnitude that needs a ninth digit.
struct EightParts {
    alignas(64) uint64_t first[8];
    alignas(64) uint64_t rest[8];
    alignas(64) int64_t n[8];
    alignas(64) int64_t kk[8];
    __mmask8 scalar;
};

void shortest_parts(const float* values, EightParts& parts) {
    const V bits = _mm512_cvtepu32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(values)));
    const V magnitude = band(bits, set(0x7FFFFFFFu));
    const V biased = band(_mm512_srli_epi64(bits, 23), set(0xFF));
    const V c = bor(band(bits, set(0x7FFFFF)), set(uint64_t(1) << 23));
    const V q = sub(biased, set(150));
    const __mmask8 zero = _mm512_cmpeq_epi64_mask(magnitude, _mm512_setzero_si512());
    parts.scalar = _mm512_cmpeq_epi64_mask(biased, set(0xFF)) | _mm512_cmpeq_epi64_mask(biased, _mm512_setzero_si512()) |
                   _mm512_cmpeq_epi64_mask(magnitude, set(0x15AE43FDu));
    parts.scalar &= ~zero;

    // A whole number below 2^23: its own digits are shortest.
    const V minus_q = sub(set(150), biased);
    const __mmask8 whole = _mm512_cmplt_epi64_mask(q, _mm512_setzero_si512()) &
                           _mm512_cmpgt_epi64_mask(q, set(uint64_t(-24))) &
                           _mm512_testn_epi64_mask(c, sub(_mm512_sllv_epi64(set(1), minus_q), set(1)));
    const V whole_digits = _mm512_srlv_epi64(c, minus_q);

    // The interval search (shortest_of_normal in format.cpp), lane by lane.
    const V out = band(c, set(1));
    const V cb = _mm512_slli_epi64(c, 2);
    const V cbr = add(cb, set(2));
    const __mmask8 power_of_two = _mm512_cmpeq_epi64_mask(c, set(uint64_t(1) << 23)) &
                                  _mm512_cmpneq_epi64_mask(q, set(uint64_t(-149)));
    const V cbl = pick(power_of_two, sub(cb, set(2)), sub(cb, set(1)));
    const V k = pick(power_of_two, floor_log(q, 315653, 0, 20), floor_log(q, 631305, -261663, 21));
    const V minus_k = sub(_mm512_setzero_si512(), k);
    const V h = add(add(q, floor_log(minus_k, 1741647, 0, 19)), set(33));
    const V g = _mm512_i64gather_epi64(add(minus_k, set(31)), reinterpret_cast<const long long*>(pow10_upper), 8);
    const V vb = round_to_odd(g, _mm512_sllv_epi64(cb, h));
    const V vbl = round_to_odd(g, _mm512_sllv_epi64(cbl, h));
    const V vbr = round_to_odd(g, _mm512_sllv_epi64(cbr, h));
    const V s = _mm512_srli_epi64(vb, 2);
    const V t = add(s, set(1));
    const V sp10 = _mm512_mul_epu32(mul_shift(s, 1717986919, 34), set(10));
    const V tp10 = add(sp10, set(10));
    const V vbl_out = low32(add(vbl, out));
    const __mmask8 upin = _mm512_cmple_epu64_mask(vbl_out, low32(_mm512_slli_epi64(sp10, 2)));
    const __mmask8 wpin = _mm512_cmple_epu64_mask(low32(add(_mm512_slli_epi64(tp10, 2), out)), vbr);
    const __mmask8 uin = _mm512_cmple_epu64_mask(vbl_out, low32(_mm512_slli_epi64(s, 2)));
    const __mmask8 win = _mm512_cmple_epu64_mask(low32(add(_mm512_slli_epi64(t, 2), out)), vbr);
    const V cmp = low32(sub(vb, _mm512_slli_epi64(add(s, t), 1)));  // int32: bit 31 is the sign
    const __mmask8 below = _mm512_test_epi64_mask(cmp, set(0x80000000u));
    const __mmask8 tie_even = _mm512_testn_epi64_mask(cmp, set(0xFFFFFFFFu)) & _mm512_testn_epi64_mask(s, set(1));
    const V closer = pick(below | tie_even, t, s);
    const V inside = pick(uin ^ win, closer, pick(uin, t, s));
    const __mmask8 shorter = _mm512_cmpge_epu64_mask(s, set(100)) & (upin ^ wpin);
    V digits = pick(shorter, inside, pick(upin, tp10, sp10));
    V exponent = pick(whole, k, _mm512_setzero_si512());
    digits = pick(whole, digits, whole_digits);

    // The tail of write_json_float: ten digits become nine, then left-aligned.
    const __mmask8 ten = _mm512_cmpge_epu64_mask(digits, set(1000000000));
    digits = pick(ten, digits, mul_shift(digits, 3435973837u, 35));
    exponent = _mm512_mask_add_epi64(exponent, ten, exponent, set(1));
    V untrimmed = set(1);
    uint64_t power = 10;
    for (int i = 1; i <= 8; ++i, power *= 10)
        untrimmed = _mm512_mask_add_epi64(untrimmed, _mm512_cmpge_epu64_mask(digits, set(power)), untrimmed, set(1));
    const V pad_low = _mm512_setr_epi64(1, 10, 100, 1000, 10000, 100000, 1000000, 10000000);
    const V pad_high = _mm512_setr_epi64(100000000, 0, 0, 0, 0, 0, 0, 0);
    const V pad = _mm512_permutex2var_epi64(pad_low, sub(set(9), untrimmed), pad_high);
    const V nine = _mm512_mul_epu32(digits, pad);
    const V first = mul_shift(nine, 1441151881, 57);  // nine / 10^8
    const V rest = eight_ascii_digits(sub(nine, _mm512_mul_epu32(first, set(100000000))));
    const V significant = sub(set(9), _mm512_srli_epi64(_mm512_lzcnt_epi64(sub(rest, set(0x3030303030303030ull))), 3));

    // Zero writes "0.0" by the same layout: one digit, the point after it.
    _mm512_store_si512(parts.first, pick(zero, add(first, set('0')), set('0')));
    _mm512_store_si512(parts.rest, pick(zero, rest, set(0x3030303030303030ull)));
    _mm512_store_si512(parts.n, pick(zero, significant, set(1)));
    _mm512_store_si512(parts.kk, pick(zero, add(untrimmed, exponent), set(1)));
}

}  // namespace

namespace format_x86_64_v4 {

char* write_json_float_list(char* out, const float* values, size_t count) {
    EightParts parts;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        shortest_parts(values + i, parts);
        for (int lane = 0; lane < 8; ++lane) {
            *out++ = ',';
            if (parts.scalar >> lane & 1) {
                out = write_json_float(out, values[i + size_t(lane)]);
                continue;
            }
            uint32_t bits;
            std::memcpy(&bits, values + i + size_t(lane), sizeof bits);
            *out = '-';
            out += bits >> 31;
            out = write_json_float_layout(out, char(parts.first[lane]), parts.rest[lane], int(parts.n[lane]),
                                          int(parts.kk[lane]));
        }
    }
    for (; i < count; ++i) {
        *out++ = ',';
        out = write_json_float(out, values[i]);
    }
    return out;
}

}  // namespace format_x86_64_v4

#endif
