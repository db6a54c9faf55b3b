// quote.h - a piece of input inside a message: clipped, control bytes escaped.
#ifndef LPARSE_QUOTE_H
#define LPARSE_QUOTE_H

#include <string>
#include <string_view>

namespace lparse {

// The bytes of the printable UTF-8 character at TEXT[AT] (1 for printable
// ASCII), or 0 for a control character, a C1 control, or a byte that begins
// no well-formed character (binary input, a cut sequence, an overlong or
// surrogate form).
size_t printable_at(std::string_view text, size_t at);

// TEXT in single quotes for a message line: at most 40 bytes of it (cut
// before a UTF-8 character it would split) and "..." when cut, every byte
// that is not part of a printable UTF-8 character written as \xNN, so that
// input never acts on the terminal nor garbles it.
std::string quoted(std::string_view text);

} // namespace lparse

#endif // LPARSE_QUOTE_H
