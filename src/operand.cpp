// operand.cpp - telling names from numbers, and reading a number text the way the C library does.
#include "operand.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace lp {

bool is_name(const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p)
        if (*p > 'A') return true;
    return false;
}

float read_number(const char *text) {
    // The C library's reading of a decimal number, without its dependence on
    // the process locale: blanks, an optional sign, the longest decimal prefix.
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // One sign at most; from_chars would read a second '-' as the number's own.
    if (*p == '+' || *p == '-') return 0.0f;
    const char *end = p + std::strlen(p);
    double value = 0.0;
    const auto [stop, error] = std::from_chars(p, end, value, std::chars_format::fixed);
    if (error == std::errc::result_out_of_range) {
        // Too large for a double overflows to infinity; too small underflows to 0.
        const char *digit = p;
        while (digit < stop && *digit == '0') ++digit;
        value = (digit < stop && *digit >= '1' && *digit <= '9') ? HUGE_VAL : 0.0;
    } else if (error != std::errc()) {
        return 0.0f; // no number at all reads as +0 whatever the sign
    }
    return static_cast<float>(negative ? -value : value);
}

} // namespace lp
