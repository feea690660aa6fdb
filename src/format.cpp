#include "format.hpp"

#include <charconv>
#include <cmath>
#include <cstring>

ShortestDecimal shortest_decimal(float value) {
    ShortestDecimal d{};
    d.negative = std::signbit(value);
    if (value == 0.0f) {
        d.digits[0] = '0';
        d.n_digits = 1;
        return d;
    }
    // Scientific form carries exactly the shortest digits: "1.2345679e+08", "1e-07".
    char text[32];
    const char* end = std::to_chars(text, text + sizeof text, std::fabs(value),
                                    std::chars_format::scientific).ptr;
    const char* p = text;
    d.digits[d.n_digits++] = *p++;
    if (*p == '.')
        for (++p; *p != 'e'; ++p) d.digits[d.n_digits++] = *p;
    ++p;  // 'e'
    bool exponent_negative = *p == '-';
    ++p;  // sign
    int exponent = 0;
    for (; p < end; ++p) exponent = exponent * 10 + (*p - '0');
    if (exponent_negative) exponent = -exponent;
    while (d.n_digits > 1 && d.digits[d.n_digits - 1] == '0') {
        --d.n_digits;
        ++exponent;
    }
    d.exponent = exponent - (d.n_digits - 1);
    return d;
}

static char* put_zeros(char* out, int count) {
    std::memset(out, '0', size_t(count));
    return out + count;
}

static char* put_digits(char* out, const char* digits, int count) {
    std::memcpy(out, digits, size_t(count));
    return out + count;
}

char* write_json_float(char* out, float value) {
    if (!std::isfinite(value)) return put_digits(out, "null", 4);
    ShortestDecimal d = shortest_decimal(value);
    if (d.negative) *out++ = '-';
    if (value == 0.0f) return put_digits(out, "0.0", 3);
    const int n = d.n_digits;
    const int e = d.exponent;
    const int kk = n + e;
    if (e >= 0 && kk <= 13) {
        out = put_digits(out, d.digits, n);
        out = put_zeros(out, e);
        return put_digits(out, ".0", 2);
    }
    if (0 < kk && kk <= 13) {
        out = put_digits(out, d.digits, kk);
        *out++ = '.';
        return put_digits(out, d.digits + kk, n - kk);
    }
    if (-6 < kk && kk <= 0) {
        out = put_digits(out, "0.", 2);
        out = put_zeros(out, -kk);
        return put_digits(out, d.digits, n);
    }
    *out++ = d.digits[0];
    if (n > 1) {
        *out++ = '.';
        out = put_digits(out, d.digits + 1, n - 1);
    }
    *out++ = 'e';
    return std::to_chars(out, out + 8, kk - 1).ptr;
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
