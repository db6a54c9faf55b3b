// number_text.h - the calculator's number texts: shortest round-trip output, strict locale-free input.
#ifndef LPARSE_NUMBER_TEXT_H
#define LPARSE_NUMBER_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace lparse {

// The shortest text that reads back to the same float: "0.1", "3", "1e+20",
// "inf", "-inf"; every NaN prints as "nan".
std::string format_float(float value);

// Reads a whole text as a float ("2", "-0.5", "+1e3", "inf", "nan"), ignoring
// blanks and tabs around it. Nothing is returned when any other character is
// left over or the text is empty.
std::optional<float> parse_float(std::string_view text);

// The text with blanks, tabs, CR and LF removed at both ends.
std::string_view trim(std::string_view text);

} // namespace lparse

#endif // LPARSE_NUMBER_TEXT_H
