// number_text.cpp - plain round-trip float output and strict float input, both locale-independent.
#include "number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace lparse {

namespace {

// Rewrites a scientific text from to_chars ("-1.25e-05", "1e+20") as a plain
// decimal ("-0.0000125", "100000000000000000000").
std::string plain(const char *begin, const char *end) {
    std::string out;
    if (*begin == '-') out += *begin++;
    const char *e = std::find(begin, end, 'e');
    std::string digits;
    for (const char *p = begin; p < e; ++p)
        if (*p != '.') digits += *p;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    int exponent = 0;
    if (e < end) std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    // Digits before the decimal point.
    const long point = static_cast<long>(exponent) + 1;
    const auto count = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-point), '0');
        out += digits;
    } else if (point >= count) {
        out += digits;
        out.append(static_cast<size_t>(point - count), '0');
    } else {
        out.append(digits, 0, static_cast<size_t>(point));
        out += '.';
        out.append(digits, static_cast<size_t>(point), std::string::npos);
    }
    return out;
}

// The float the language makes of a number text: the decimal read as a
// double, then rounded to a float (src/operand.cpp does the same). A leading
// '-' stands for the language's "0-...", which negates exactly.
float read_back(const std::string &text) {
    const char *p = text.c_str();
    const bool negative = *p == '-';
    if (negative) ++p;
    double value = 0.0;
    std::from_chars(p, text.c_str() + text.size(), value, std::chars_format::fixed);
    const auto rounded = static_cast<float>(value);
    return negative ? -rounded : rounded;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The power of ten of the leading digit of the decimal TEXT (digits, an
// optional point and more digits, an optional exponent): 3 for "1234.5" and
// "1.2e3", -2 for "0.012"; saturated far beyond any float's range.
long decimal_magnitude(std::string_view text) {
    constexpr long kFar = 100000;
    const size_t e = std::min(text.find_first_of("eE"), text.size());
    const std::string_view mantissa = text.substr(0, e);
    const size_t point = std::min(mantissa.find('.'), mantissa.size());
    const size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return -kFar; // zero
    long magnitude = first < point ? static_cast<long>(point - first) - 1 : -static_cast<long>(first - point);
    if (e < text.size()) {
        std::string_view exponent = text.substr(e + 1);
        const bool down = !exponent.empty() && exponent.front() == '-';
        if (!exponent.empty() && (exponent.front() == '-' || exponent.front() == '+')) exponent.remove_prefix(1);
        long value = 0;
        for (const char c : exponent) value = std::min(kFar, value * 10 + (c - '0'));
        magnitude += down ? -value : value;
    }
    return std::clamp(magnitude, -kFar, kFar);
}

template <typename Number>
std::optional<Number> parse_number(std::string_view text) {
    text = trim(text);
    // from_chars takes no leading '+'; accept one, but not before a '-'.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    const char *end = text.data() + text.size();
    Number value = 0;
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ptr != end) return std::nullopt;
    if (result.ec == std::errc()) return value;
    if (result.ec != std::errc::result_out_of_range) return std::nullopt;
    // Beyond the type's range ("1e39", "1e-50", five thousand digits): an
    // infinity or a zero, as a conversion of the number would give, and as
    // the language reads the same digits. Its decimal magnitude decides which.
    const bool negative = text.front() == '-';
    const Number huge = std::numeric_limits<Number>::infinity();
    return decimal_magnitude(text.substr(negative ? 1 : 0)) >= 0 ? (negative ? -huge : huge)
                                                                 : (negative ? -Number(0) : Number(0));
}

} // namespace

std::string format_float(float value) {
    if (std::isnan(value)) return "nan"; // to_chars would print the sign of a NaN
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    std::string text = plain(buffer, result.ptr);
    // The shortest digits read back exactly through float, but the language
    // rounds through double first; where that double rounding lands on a
    // neighbour, more digits settle it (nine always do).
    for (int precision = 0; precision <= 8 && !same_bits(read_back(text), value); ++precision) {
        result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, precision);
        text = plain(buffer, result.ptr);
    }
    return text;
}

std::string format_rounded(double value, int digits) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                                      std::clamp(digits, 1, 17) - 1);
    const std::string text = plain(buffer, result.ptr);
    return text == "-0" ? "0" : text;
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

size_t assignment_at(std::string_view text) {
    for (size_t at = text.find('='); at != std::string_view::npos; at = text.find('=', at + 1)) {
        if (at + 1 < text.size() && text[at + 1] == '=') {
            ++at; // '==' as a whole
            continue;
        }
        if (at == 0 || (text[at - 1] != '!' && text[at - 1] != '<' && text[at - 1] != '>')) return at;
    }
    return std::string_view::npos;
}

std::optional<float> parse_float(std::string_view text) {
    // Through a double, as the language reads a number in a text: reading
    // straight to float would round once, and differ where the double lands
    // on a midpoint between floats (16777217.000000000001 is 16777216). The
    // conversion rounds to nearest, past the largest float to an infinity.
    const std::optional<double> value = parse_number<double>(text);
    if (!value) return std::nullopt;
    return static_cast<float>(*value);
}

std::optional<double> parse_double(std::string_view text) { return parse_number<double>(text); }

} // namespace lparse
