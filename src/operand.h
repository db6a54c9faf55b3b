// operand.h - reading an operand text: a name, or a number.
#ifndef LIB_PARSE_OPERAND_H
#define LIB_PARSE_OPERAND_H

namespace lp {

// True when the operand text is a name: any byte above 'A'.
bool is_name(const char *text);

// The operand text read as a number: blanks, optional sign, the longest
// decimal prefix, rounded to float; 0 when there is none. Locale-independent.
float read_number(const char *text);

} // namespace lp

#endif // LIB_PARSE_OPERAND_H
