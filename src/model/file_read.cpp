// Strict reader of model texts. It decodes straight into the records, never
// recurses on the input's nesting (unknown values are skipped with an explicit
// stack) and checks every pointer against the end before reading through it.

#include <array>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "model/file_json.hpp"
#include "panic.hpp"

namespace {

struct Reader {
    const char* begin;
    const char* p;
    const char* end;
    std::string scratch;  // a string holding escapes, decoded
};

// Only called on failure, so counting lines from the start costs nothing in
// the normal case. Columns count bytes from 1.
[[noreturn]] void fail_at(const Reader& r, const char* at, const std::string& what) {
    size_t line = 1;
    const char* line_start = r.begin;
    for (const char* q = r.begin; q < at;) {
        const void* nl = std::memchr(q, '\n', size_t(at - q));
        if (nl == nullptr) break;
        ++line;
        q = line_start = static_cast<const char*>(nl) + 1;
    }
    throw Panic(what + " at line " + std::to_string(line) + " column " +
                std::to_string(at - line_start + 1));
}

// A short, printable excerpt of input text for messages: at most 40 bytes,
// cut on a character boundary, control characters escaped.
std::string excerpt(std::string_view text) {
    size_t n = text.size();
    if (n > 40) {
        n = 40;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02x", c);
            out += esc;
        } else {
            out += char(c);
        }
    }
    if (n < text.size()) out += "...";
    return out;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_space(Reader& r) {
    while (r.p < r.end && is_space(*r.p)) ++r.p;
}

// The next byte after whitespace; the end of input is an error while inside `what`.
char peek(Reader& r, const char* what) {
    skip_space(r);
    if (r.p == r.end) fail_at(r, r.p, std::string("EOF while parsing ") + what);
    return *r.p;
}

void expect(Reader& r, char c, const char* what) {
    if (peek(r, what) != c) fail_at(r, r.p, std::string("expected `") + c + "`");
    ++r.p;
}

bool has_literal(const Reader& r, std::string_view word) {
    return size_t(r.end - r.p) >= word.size() && std::memcmp(r.p, word.data(), word.size()) == 0;
}

// "invalid type: null, expected a string", or "expected value" when no JSON
// value starts here at all.
[[noreturn]] void fail_type(const Reader& r, const char* expected) {
    const char* found = nullptr;
    char c = *r.p;
    if (c == '"') found = "string";
    else if (c == '{') found = "map";
    else if (c == '[') found = "sequence";
    else if (c == '-' || is_digit(c)) found = "number";
    else if (has_literal(r, "null")) found = "null";
    else if (has_literal(r, "true") || has_literal(r, "false")) found = "boolean";
    if (found == nullptr) fail_at(r, r.p, "expected value");
    fail_at(r, r.p, std::string("invalid type: ") + found + ", expected " + expected);
}

void read_literal(Reader& r, std::string_view word) {
    if (!has_literal(r, word)) fail_at(r, r.p, "expected value");
    r.p += word.size();
}

// ---- strings ----------------------------------------------------------------

// Length of the well-formed UTF-8 sequence at `p` (lead byte >= 0x80), or 0.
size_t utf8_length(const unsigned char* p, const unsigned char* end) {
    unsigned lead = p[0];
    size_t n = 0;
    unsigned low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) n = 2;
    else if (lead == 0xE0) n = 3, low = 0xA0;
    else if (lead >= 0xE1 && lead <= 0xEC) n = 3;
    else if (lead == 0xED) n = 3, high = 0x9F;  // no UTF-16 surrogates
    else if (lead >= 0xEE && lead <= 0xEF) n = 3;
    else if (lead == 0xF0) n = 4, low = 0x90;
    else if (lead >= 0xF1 && lead <= 0xF3) n = 4;
    else if (lead == 0xF4) n = 4, high = 0x8F;  // nothing above U+10FFFF
    else return 0;
    if (size_t(end - p) < n || p[1] < low || p[1] > high) return 0;
    for (size_t i = 2; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return n;
}

void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// Four hex digits after "\u".
uint32_t read_hex4(Reader& r) {
    if (r.end - r.p < 4) fail_at(r, r.end, "EOF while parsing a string");
    uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
        char c = r.p[i];
        uint32_t digit;
        if (is_digit(c)) digit = uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
        else fail_at(r, r.p + i, "invalid escape");
        code = code * 16 + digit;
    }
    r.p += 4;
    return code;
}

// The escape after a backslash (r.p just past it), decoded onto `out`.
void read_escape(Reader& r, std::string& out) {
    if (r.p == r.end) fail_at(r, r.p, "EOF while parsing a string");
    const char* at = r.p - 1;
    char c = *r.p++;
    switch (c) {
        case '"': out += '"'; return;
        case '\\': out += '\\'; return;
        case '/': out += '/'; return;
        case 'b': out += '\b'; return;
        case 'f': out += '\f'; return;
        case 'n': out += '\n'; return;
        case 'r': out += '\r'; return;
        case 't': out += '\t'; return;
        case 'u': break;
        default: fail_at(r, at, "invalid escape");
    }
    uint32_t code = read_hex4(r);
    if (code >= 0xDC00 && code <= 0xDFFF) fail_at(r, at, "lone trailing surrogate in hex escape");
    if (code >= 0xD800 && code <= 0xDBFF) {
        if (!has_literal(r, "\\u")) fail_at(r, at, "lone leading surrogate in hex escape");
        r.p += 2;
        uint32_t low = read_hex4(r);
        if (low < 0xDC00 || low > 0xDFFF) fail_at(r, at, "lone leading surrogate in hex escape");
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, code);
}

// Reads the string at r.p (a quotation mark). The result points into the
// input when the string has no escape, else into r.scratch; either way it is
// valid until the next string is read.
std::string_view read_string(Reader& r) {
    ++r.p;
    const char* run = r.p;  // start of bytes not yet copied to scratch
    bool escaped = false;
    for (;;) {
        while (r.p < r.end) {
            unsigned char c = static_cast<unsigned char>(*r.p);
            if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
            ++r.p;
        }
        if (r.p == r.end) fail_at(r, r.p, "EOF while parsing a string");
        unsigned char c = static_cast<unsigned char>(*r.p);
        if (c == '"') {
            std::string_view text;
            if (escaped) {
                r.scratch.append(run, r.p);
                text = r.scratch;
            } else {
                text = std::string_view(run, size_t(r.p - run));
            }
            ++r.p;
            return text;
        }
        if (c < 0x20) {
            char code[8];
            std::snprintf(code, sizeof code, "%04x", c);
            fail_at(r, r.p, std::string("control character (\\u") + code +
                                ") found while parsing a string");
        }
        if (c >= 0x80) {
            size_t n = utf8_length(reinterpret_cast<const unsigned char*>(r.p),
                                   reinterpret_cast<const unsigned char*>(r.end));
            if (n == 0) fail_at(r, r.p, "invalid UTF-8 in string");
            r.p += n;
            continue;
        }
        // A backslash: from here on the text is assembled in scratch.
        if (!escaped) r.scratch.clear();
        escaped = true;
        r.scratch.append(run, r.p);
        ++r.p;
        read_escape(r, r.scratch);
        run = r.p;
    }
}

std::string read_string_field(Reader& r) {
    if (peek(r, "a value") != '"') fail_type(r, "a string");
    return std::string(read_string(r));
}

// ---- numbers ------------------------------------------------------------------

struct NumberToken {
    const char* begin;
    const char* end;
    bool integer = true;     // no fraction, no exponent
    bool negative = false;
    uint64_t mantissa = 0;   // the first 19 significant digits
    int kept_digits = 0;     // how many significant digits `mantissa` holds
    bool truncated = false;  // more significant digits followed
    long exponent = 0;       // value = mantissa * 10^exponent, up to the truncated digits
};

// Matches the JSON number grammar at r.p,
// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, and gathers its digits on the way.
NumberToken scan_number(Reader& r) {
    NumberToken t{r.p, r.p};
    const char* p = r.p;
    auto need_digit = [&] {
        if (p == r.end || !is_digit(*p)) fail_at(r, p == r.end ? p : t.begin, "invalid number");
    };
    // A significant digit: kept while 19 fit in the mantissa, afterwards only
    // counted (an integer digit scales the value, a fraction digit does not).
    auto take = [&](char c, long scale_if_dropped) {
        if (t.kept_digits < 19) {
            t.mantissa = t.mantissa * 10 + unsigned(c - '0');
            ++t.kept_digits;
        } else {
            t.truncated = true;
            t.exponent += scale_if_dropped;
        }
    };
    if (p < r.end && *p == '-') {
        t.negative = true;
        ++p;
    }
    need_digit();
    if (*p == '0') {
        ++p;
        if (p < r.end && is_digit(*p)) fail_at(r, t.begin, "invalid number: leading zero");
    } else {
        for (; p < r.end && is_digit(*p); ++p) take(*p, 1);
    }
    if (p < r.end && *p == '.') {
        ++p;
        need_digit();
        if (t.kept_digits == 0)  // zeros right after "0." only move the point
            for (; p < r.end && *p == '0'; ++p) --t.exponent;
        const int kept_before = t.kept_digits;
        for (; p < r.end && is_digit(*p); ++p) take(*p, 0);
        t.exponent -= t.kept_digits - kept_before;
        t.integer = false;
    }
    if (p < r.end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool exponent_negative = false;
        if (p < r.end && (*p == '+' || *p == '-')) exponent_negative = *p++ == '-';
        need_digit();
        long exponent = 0;
        for (; p < r.end && is_digit(*p); ++p)
            exponent = std::min(exponent * 10 + (*p - '0'), 1000000000L);
        t.exponent += exponent_negative ? -exponent : exponent;
        t.integer = false;
    }
    t.end = r.p = p;
    return t;
}

// Nearest float to a double, with IEEE round-to-nearest at the top of the range
// (a plain conversion of a value beyond the float range is undefined).
float nearest_float(double d) {
    const double overflow = double(FLT_MAX) + 0x1p103;  // halfway to 2^128
    if (std::fabs(d) >= overflow) return d < 0 ? -INFINITY : INFINITY;
    if (std::fabs(d) > double(FLT_MAX)) return d < 0 ? -FLT_MAX : FLT_MAX;
    return float(d);
}

// Integers go straight to the nearest float; a fraction or an exponent goes by
// way of the nearest double. Only beyond the double range is a number refused.
// Short tokens take exact arithmetic (one correctly rounded conversion or
// operation, so the same result as from_chars); the rest go to from_chars.
float token_to_float(const Reader& r, const NumberToken& t) {
    static constexpr double powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    if (t.mantissa == 0) return t.negative ? -0.0f : 0.0f;
    if (!t.truncated) {
        if (t.integer && t.mantissa < (uint64_t(1) << 63)) {
            float f = float(int64_t(t.mantissa));
            return t.negative ? -f : f;
        }
        if (!t.integer && t.mantissa <= (uint64_t(1) << 53) && t.exponent >= -22 &&
            t.exponent <= 22) {
            double d = double(t.mantissa);
            d = t.exponent < 0 ? d / powers_of_ten[-t.exponent] : d * powers_of_ten[t.exponent];
            return nearest_float(t.negative ? -d : d);
        }
    }
    if (t.integer) {
        float f;
        if (std::from_chars(t.begin, t.end, f).ec == std::errc()) return f;
    }
    double d;
    if (std::from_chars(t.begin, t.end, d).ec == std::errc()) return nearest_float(d);
    // Out of the double range: tiny numbers become zero, huge ones are refused.
    if (t.exponent + t.kept_digits - 1 < 0) return t.negative ? -0.0f : 0.0f;
    fail_at(r, t.begin, "number out of range");
}

// Any JSON number; null stands for NaN or an infinity, which the writer
// cannot spell otherwise.
float read_float(Reader& r) {
    char c = peek(r, "a value");
    if (c == 'n' && has_literal(r, "null")) {
        r.p += 4;
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (c != '-' && !is_digit(c)) fail_type(r, "a number");
    return token_to_float(r, scan_number(r));
}

uint64_t read_unsigned(Reader& r, const char* expected) {
    char c = peek(r, "a value");
    if (c != '-' && !is_digit(c)) fail_type(r, expected);
    NumberToken t = scan_number(r);
    std::string_view text(t.begin, size_t(t.end - t.begin));
    if (!t.integer || t.negative)
        fail_at(r, t.begin, "invalid value: " + excerpt(text) + ", expected " + expected);
    uint64_t value = 0;
    if (std::from_chars(t.begin, t.end, value).ec != std::errc())
        fail_at(r, t.begin, "number out of range");
    return value;
}

// ---- skipping unknown values -------------------------------------------------

void read_member_key(Reader& r) {
    if (peek(r, "an object") != '"') fail_at(r, r.p, "key must be a string");
    read_string(r);
    expect(r, ':', "an object");
}

// Skips one value of any nesting. The open containers live on a heap stack,
// not on the call stack, so deep nesting cannot overflow anything.
void skip_value(Reader& r) {
    std::vector<char> closers;
    for (;;) {
        char c = peek(r, "a value");
        switch (c) {
            case '{':
                ++r.p;
                if (peek(r, "an object") == '}') {
                    ++r.p;
                    break;
                }
                closers.push_back('}');
                read_member_key(r);
                continue;
            case '[':
                ++r.p;
                if (peek(r, "an array") == ']') {
                    ++r.p;
                    break;
                }
                closers.push_back(']');
                continue;
            case '"': read_string(r); break;
            case 't': read_literal(r, "true"); break;
            case 'f': read_literal(r, "false"); break;
            case 'n': read_literal(r, "null"); break;
            default:
                if (c != '-' && !is_digit(c)) fail_at(r, r.p, "expected value");
                scan_number(r);
        }
        // A value ended: close finished containers, or start the next element.
        for (;;) {
            if (closers.empty()) return;
            bool in_object = closers.back() == '}';
            char next = peek(r, in_object ? "an object" : "an array");
            if (next == ',') {
                ++r.p;
                if (in_object) read_member_key(r);
                break;
            }
            if (next != closers.back())
                fail_at(r, r.p, in_object ? "expected `,` or `}`" : "expected `,` or `]`");
            ++r.p;
            closers.pop_back();
        }
    }
}

// ---- records ----------------------------------------------------------------

template <size_t N>
using FieldNames = std::array<std::string_view, N>;

// One record, as an object keyed by `names` (any order, each exactly once) or
// as an array of exactly N values in that order. read_field(i) reads the
// value of field i at r.p.
template <size_t N, class ReadField>
void read_record(Reader& r, const FieldNames<N>& names, const char* record, bool skip_unknown,
                 ReadField&& read_field) {
    static_assert(N <= 32);
    char c = peek(r, "a value");
    if (c == '[') {
        ++r.p;
        for (size_t i = 0; i < N; ++i) {
            if (i > 0) {
                char next = peek(r, "an array");
                if (next == ']')
                    fail_at(r, r.p, "invalid length " + std::to_string(i) + ", expected " + record +
                                        " as an array of " + std::to_string(N) + " values");
                if (next != ',') fail_at(r, r.p, "expected `,` or `]`");
                ++r.p;
            } else if (peek(r, "an array") == ']') {
                fail_at(r, r.p, std::string("invalid length 0, expected ") + record +
                                    " as an array of " + std::to_string(N) + " values");
            }
            read_field(i);
        }
        if (peek(r, "an array") != ']')
            fail_at(r, r.p, std::string("trailing elements, expected ") + record +
                                " as an array of " + std::to_string(N) + " values");
        ++r.p;
        return;
    }
    if (c != '{') fail_type(r, record);
    ++r.p;
    uint32_t seen = 0;
    if (peek(r, "an object") != '}') {
        for (;;) {
            if (peek(r, "an object") != '"') fail_at(r, r.p, "key must be a string");
            const char* key_at = r.p;
            std::string_view key = read_string(r);
            size_t index = 0;
            while (index < N && names[index] != key) ++index;
            if (index == N && !skip_unknown) {
                std::string allowed;
                for (size_t i = 0; i < N; ++i)
                    allowed += std::string(i > 0 ? ", `" : "`") + std::string(names[i]) + "`";
                fail_at(r, key_at, "unknown field `" + excerpt(key) + "`, expected one of " + allowed);
            }
            if (index < N && (seen >> index & 1u))
                fail_at(r, key_at, "duplicate field `" + excerpt(key) + "`");
            expect(r, ':', "an object");
            if (index == N) {
                skip_value(r);
            } else {
                seen |= 1u << index;
                read_field(index);
            }
            char next = peek(r, "an object");
            if (next == '}') break;
            if (next != ',') fail_at(r, r.p, "expected `,` or `}`");
            ++r.p;
        }
    }
    ++r.p;  // '}'
    for (size_t i = 0; i < N; ++i)
        if (!(seen >> i & 1u)) fail_at(r, r.p - 1, "missing field `" + std::string(names[i]) + "`");
}

// ---- array objects ------------------------------------------------------------

constexpr FieldNames<3> array_fields = {"v", "dim", "data"};

void read_version(Reader& r) {
    char c = peek(r, "a value");
    if (c != '-' && !is_digit(c)) fail_type(r, "the array version 1");
    NumberToken t = scan_number(r);
    std::string_view text(t.begin, size_t(t.end - t.begin));
    if (text != "1") fail_at(r, t.begin, "unsupported array version " + excerpt(text) + ", expected 1");
}

// `axes` lengths, no more and no fewer.
void read_dim(Reader& r, size_t axes, uint64_t dim[2]) {
    if (peek(r, "a value") != '[') fail_type(r, "a sequence of axis lengths");
    const char* at = r.p++;
    size_t count = 0;
    if (peek(r, "an array") != ']') {
        for (;;) {
            uint64_t length = read_unsigned(r, "an unsigned integer");
            if (count == axes)
                fail_at(r, at, "invalid length of dim, expected " + std::to_string(axes) +
                                   (axes == 1 ? " axis length" : " axis lengths"));
            dim[count++] = length;
            char next = peek(r, "an array");
            if (next == ']') break;
            if (next != ',') fail_at(r, r.p, "expected `,` or `]`");
            ++r.p;
        }
    }
    ++r.p;
    if (count != axes)
        fail_at(r, at, "invalid length of dim, expected " + std::to_string(axes) +
                           (axes == 1 ? " axis length" : " axis lengths"));
}

// The hot loop of loading: inputs and masks hold one number per sample and column.
void read_data(Reader& r, std::vector<float>& data, size_t expected) {
    if (peek(r, "a value") != '[') fail_type(r, "a sequence of numbers");
    ++r.p;
    // Each element takes at least two bytes ("0,"), which bounds what a
    // hostile "dim" can make us reserve.
    data.reserve(std::min(expected, size_t(r.end - r.p) / 2 + 1));
    if (peek(r, "an array") == ']') {
        ++r.p;
        return;
    }
    for (;;) {
        // Zeros fill much of a model file (ReLU outputs, dropout masks,
        // sparse inputs), so the writer's "0.0" gets a shortcut.
        const char* p = r.p;
        if (r.end - p >= 4 && p[0] == '0' && p[1] == '.' && p[2] == '0' &&
            (p[3] == ',' || p[3] == ']')) {
            data.push_back(0.0f);
            r.p = p + 3;
        } else {
            data.push_back(read_float(r));
        }
        char next = peek(r, "an array");
        if (next == ',') {
            ++r.p;
            continue;
        }
        if (next == ']') break;
        fail_at(r, r.p, "expected `,` or `]`");
    }
    ++r.p;
}

// Reads {"v":1,"dim":[...],"data":[...]} (or [1,[...],[...]]) for an array of
// `axes` axes; `dim` receives the lengths and `data` the elements.
void read_array_object(Reader& r, size_t axes, uint64_t dim[2], std::vector<float>& data) {
    bool have_dim = false;
    const char* data_at = nullptr;
    read_record(r, array_fields, "an array object", false, [&](size_t field) {
        switch (field) {
            case 0: read_version(r); break;
            case 1:
                read_dim(r, axes, dim);
                have_dim = true;
                break;
            case 2: {
                uint64_t expected = 0;
                if (!have_dim) expected = 0;
                else if (axes == 1) expected = dim[0];
                else if (__builtin_mul_overflow(dim[0], dim[1], &expected)) expected = SIZE_MAX;
                data_at = peek(r, "a value") == '[' ? r.p : nullptr;
                read_data(r, data, expected);
                break;
            }
        }
    });
    uint64_t count = dim[0];
    if (axes == 2 && __builtin_mul_overflow(dim[0], dim[1], &count))
        fail_at(r, data_at, "dim [" + std::to_string(dim[0]) + "," + std::to_string(dim[1]) +
                                "] holds more elements than can exist");
    if (count != data.size())
        fail_at(r, data_at, "invalid length " + std::to_string(data.size()) +
                                " of data, expected " + std::to_string(count) + " elements");
}

Matrix read_matrix(Reader& r) {
    uint64_t dim[2] = {0, 0};
    Matrix m;
    read_array_object(r, 2, dim, m.data);
    m.rows = dim[0];
    m.cols = dim[1];
    return m;
}

Vector read_vector(Reader& r) {
    uint64_t dim[2] = {0, 0};
    Vector v;
    read_array_object(r, 1, dim, v);
    return v;
}

// ---- layers and models --------------------------------------------------------

constexpr FieldNames<20> layer_fields = {
    "layer_type",       "activation_type",       "n_inputs",
    "n_neurons",        "weights",               "biases",
    "weight_regularizer_l1", "weight_regularizer_l2", "bias_regularizer_l1",
    "bias_regularizer_l2",   "inputs",           "activation_inputs",
    "dweights",         "dbiases",               "weight_momentums",
    "weight_cache",     "bias_momentums",        "bias_cache",
    "dropout_rate",     "binary_mask"};

Layer read_layer(Reader& r) {
    Layer layer;
    read_record(r, layer_fields, "a layer", true, [&](size_t field) {
        switch (field) {
            case 0: layer.layer_type = read_string_field(r); break;
            case 1: layer.activation_type = read_string_field(r); break;
            case 2: layer.n_inputs = read_unsigned(r, "an unsigned integer"); break;
            case 3: layer.n_neurons = read_unsigned(r, "an unsigned integer"); break;
            case 4: layer.weights = read_matrix(r); break;
            case 5: layer.biases = read_vector(r); break;
            case 6: layer.weight_regularizer_l1 = read_float(r); break;
            case 7: layer.weight_regularizer_l2 = read_float(r); break;
            case 8: layer.bias_regularizer_l1 = read_float(r); break;
            case 9: layer.bias_regularizer_l2 = read_float(r); break;
            case 10: layer.inputs = read_matrix(r); break;
            case 11: layer.activation_inputs = read_matrix(r); break;
            case 12: layer.dweights = read_matrix(r); break;
            case 13: layer.dbiases = read_vector(r); break;
            case 14: layer.weight_momentums = read_matrix(r); break;
            case 15: layer.weight_cache = read_matrix(r); break;
            case 16: layer.bias_momentums = read_vector(r); break;
            case 17: layer.bias_cache = read_vector(r); break;
            case 18: layer.dropout_rate = read_float(r); break;
            case 19: layer.binary_mask = read_matrix(r); break;
        }
    });
    return layer;
}

std::vector<Layer> read_layers(Reader& r) {
    if (peek(r, "a value") != '[') fail_type(r, "a sequence of layers");
    ++r.p;
    std::vector<Layer> layers;
    if (peek(r, "an array") != ']') {
        for (;;) {
            layers.push_back(read_layer(r));
            char next = peek(r, "an array");
            if (next == ']') break;
            if (next != ',') fail_at(r, r.p, "expected `,` or `]`");
            ++r.p;
        }
    }
    ++r.p;
    return layers;
}

void expect_end(Reader& r) {
    skip_space(r);
    if (r.p != r.end) fail_at(r, r.p, "trailing characters");
}

constexpr FieldNames<6> linear_fields = {"layers",   "output_type",   "loss_type",
                                         "acc_type", "acc_precision", "save_best_params"};
constexpr FieldNames<5> categorical_fields = {"layers", "output_type", "loss_type", "acc_type",
                                              "save_best_params"};

Reader reader_of(std::string_view text) {
    return Reader{text.data(), text.data(), text.data() + text.size(), {}};
}

}  // namespace

LinearModel parse_linear_model(std::string_view text) {
    Reader r = reader_of(text);
    LinearModel model;
    read_record(r, linear_fields, "a LinearModel", true, [&](size_t field) {
        switch (field) {
            case 0: model.layers = read_layers(r); break;
            case 1: model.output_type = read_string_field(r); break;
            case 2: model.loss_type = read_string_field(r); break;
            case 3: model.acc_type = read_string_field(r); break;
            case 4: model.acc_precision = read_float(r); break;
            case 5: model.save_best_params = read_string_field(r); break;
        }
    });
    expect_end(r);
    return model;
}

CategoricalModel parse_categorical_model(std::string_view text) {
    Reader r = reader_of(text);
    CategoricalModel model;
    read_record(r, categorical_fields, "a CategoricalModel", true, [&](size_t field) {
        switch (field) {
            case 0: model.layers = read_layers(r); break;
            case 1: model.output_type = read_string_field(r); break;
            case 2: model.loss_type = read_string_field(r); break;
            case 3: model.acc_type = read_string_field(r); break;
            case 4: model.save_best_params = read_string_field(r); break;
        }
    });
    expect_end(r);
    return model;
}
