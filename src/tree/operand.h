// operand.h - reading an operand text: a name, or a number.
#ifndef LIB_PARSE_OPERAND_H
#define LIB_PARSE_OPERAND_H

#include <cstddef>
#include <string_view>

namespace lp {

// True when the operand text is a name: any byte above 'A'. Inline: the
// program asks it of every leaf.
inline bool is_name(const char *text) {
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p)
        if (*p > 'A') return true;
    return false;
}

// The operand text read as a number: blanks, optional sign, the longest
// decimal prefix, rounded to float; 0 when there is none. Locale-independent.
float read_number(const char *text);

// How many bytes of TEXT read_number reads (blanks, sign and digits); 0 when
// it finds no number.
size_t number_length(std::string_view text);

} // namespace lp

#endif // LIB_PARSE_OPERAND_H
