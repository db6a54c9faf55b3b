// quote.h - a piece of input inside a message: clipped, control bytes escaped.
#ifndef LPARSE_QUOTE_H
#define LPARSE_QUOTE_H

#include <string>
#include <string_view>

namespace lparse {

// TEXT in single quotes for a message line: at most 40 bytes of it (cut
// before a UTF-8 character it would split) and "..." when cut, each control
// byte written as \xNN so that input never acts on the terminal. The
// library's notes quote texts the same way.
std::string quoted(std::string_view text);

} // namespace lparse

#endif // LPARSE_QUOTE_H
