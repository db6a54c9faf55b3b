// caret.h - showing a place in a text: the text around it, and a caret line under the place.
#ifndef LPARSE_CARET_H
#define LPARSE_CARET_H

#include <cstddef>
#include <string>
#include <string_view>

namespace lparse {

// Two lines, each indented by two blanks: TEXT around [OFFSET, OFFSET +
// LENGTH), cut to a window of a few dozen bytes with "..." where cut, and
// "^~~" under the place. Control bytes show as blanks, so the caret stays
// under its byte whatever the text holds.
std::string show_place(std::string_view text, size_t offset, size_t length);

} // namespace lparse

#endif // LPARSE_CARET_H
