// number_text.h - the calculator's number texts: plain round-trip output, strict locale-free input.
#ifndef LPARSE_NUMBER_TEXT_H
#define LPARSE_NUMBER_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace lparse {

// The value as a plain decimal with the fewest significant digits that the
// language reads back to the same float: "0.1", "3", "0.0001", "10000000",
// never an exponent (the language reads "1e7" as a name). "inf", "-inf" and
// "nan" (for every NaN) name the special values.
std::string format_float(float value);

// The value rounded to DIGITS significant digits, as a plain decimal without
// trailing zeros: format_rounded(7.91734, 3) is "7.92". For labels.
std::string format_rounded(double value, int digits);

// Reads a whole text as a float ("2", "-0.5", "+1e3", "inf", "nan"), ignoring
// blanks and tabs around it: as a double first, then rounded to a float, as
// the language reads a number. Nothing is returned when any other character
// is left over or the text is empty.
std::optional<float> parse_float(std::string_view text);

// The same for a double, for texts that must not be rounded to a float first.
std::optional<double> parse_double(std::string_view text);

// The text with blanks, tabs, CR and LF removed at both ends.
std::string_view trim(std::string_view text);

// Where the '=' of NAME=VALUE or NAME = EXPR stands: the first '=' that is no
// part of the standard grammar's == != <= >=; npos when there is none.
size_t assignment_at(std::string_view text);

} // namespace lparse

#endif // LPARSE_NUMBER_TEXT_H
