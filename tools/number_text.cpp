// number_text.cpp - shortest round-trip float output and strict float input, both locale-independent.
#include "number_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace lparse {

std::string format_float(float value) {
    if (std::isnan(value)) return "nan"; // to_chars would print the sign of a NaN
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::optional<float> parse_float(std::string_view text) {
    text = trim(text);
    // from_chars takes no leading '+'; accept one, but not before a '-'.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    const char *end = text.data() + text.size();
    float value = 0.0f;
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ptr != end) return std::nullopt;
    if (result.ec == std::errc()) return value;
    if (result.ec != std::errc::result_out_of_range) return std::nullopt;
    // Beyond float's range ("1e39", "1e-50"): round through double to an
    // infinity or a zero, as a float conversion of the number would.
    double wide = 0.0;
    const auto again = std::from_chars(text.data(), end, wide);
    if (again.ec != std::errc() || again.ptr != end) return std::nullopt;
    return static_cast<float>(wide);
}

} // namespace lparse
