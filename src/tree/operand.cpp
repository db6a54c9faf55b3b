// operand.cpp - telling names from numbers, and reading a number text the way the C library does.
#include "tree/operand.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace lp {

namespace {

// The number at the start of [P, END), read as the C library reads one but
// whatever the process locale: blanks, an optional sign, the longest decimal
// prefix. Returns where it stops, or null when there is no number.
const char *scan_number(const char *p, const char *end, double *value) {
    while (p < end && (*p == ' ' || (*p >= '\t' && *p <= '\r'))) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // One sign at most; from_chars would read a second '-' as the number's own.
    if (p < end && (*p == '+' || *p == '-')) return nullptr;
    // Most numbers are a few digits, whole: read at once, exactly (15 digits
    // fit a double), as from_chars would read them.
    const char *digit = p;
    uint64_t whole = 0;
    while (digit < end && digit - p < 15 && *digit >= '0' && *digit <= '9') whole = whole * 10 + uint64_t(*digit++ - '0');
    if (digit > p && (digit == end || (*digit != '.' && (*digit < '0' || *digit > '9')))) {
        const double magnitude = static_cast<double>(static_cast<int64_t>(whole)); // signed, as read_number says
        *value = negative ? -magnitude : magnitude;
        return digit;
    }
    const auto [stop, error] = std::from_chars(p, end, *value, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range) {
        // Too large for a double overflows to infinity; too small underflows to 0.
        const char *digit = p;
        while (digit < stop && *digit == '0') ++digit;
        *value = (digit < stop && *digit >= '1' && *digit <= '9') ? HUGE_VAL : 0.0;
    } else if (error != std::errc()) {
        return nullptr;
    }
    if (negative) *value = -*value;
    return stop;
}

} // namespace

float read_number(const char *text) {
    // A whole number of up to nine digits, the most common text, fits 32
    // bits: converted once, it rounds to the float scan_number's exact
    // double rounds to.
    uint32_t whole = 0;
    const char *digit = text;
    while (digit - text < 9 && *digit >= '0' && *digit <= '9') whole = whole * 10 + uint32_t(*digit++ - '0');
    if (digit > text && *digit == '\0') return static_cast<float>(whole);
    // A decimal of up to fifteen digits such as 0.5: an integer a double
    // holds exactly, divided by a power of ten it holds exactly, is the
    // double scan_number reads, rounded once.
    if (digit > text && *digit == '.' && digit[1] >= '0' && digit[1] <= '9') {
        static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        uint64_t mantissa = whole;
        const char *fraction = digit + 1;
        const char *p = fraction;
        while (p - text < 16 && *p >= '0' && *p <= '9') mantissa = mantissa * 10 + uint64_t(*p++ - '0');
        // Converted as a signed integer: some compilers convert an unsigned
        // one by a subtraction, which gives -0 for 0 when rounding down.
        if (*p == '\0')
            return static_cast<float>(static_cast<double>(static_cast<int64_t>(mantissa)) / kPowersOfTen[p - fraction]);
    }
    double value = 0.0;
    // No number at all reads as +0 whatever the sign.
    return scan_number(text, text + std::strlen(text), &value) != nullptr ? static_cast<float>(value) : 0.0f;
}

size_t number_length(std::string_view text) {
    double value = 0.0;
    const char *stop = scan_number(text.data(), text.data() + text.size(), &value);
    return stop != nullptr ? static_cast<size_t>(stop - text.data()) : 0;
}

} // namespace lp
