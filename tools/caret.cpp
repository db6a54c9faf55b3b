// caret.cpp - a window of a text with a caret line under a place, never longer than a terminal line.
#include "caret.h"

#include <algorithm>

#include "quote.h"

namespace lparse {

namespace {
constexpr size_t kBefore = 30; // bytes shown before the place
constexpr size_t kAfter = 42;  // bytes shown from the place on, the place's own first
} // namespace

namespace {

// The columns the bytes of TEXT take on a terminal: one per character, a
// UTF-8 continuation byte taking none.
size_t columns(std::string_view text) {
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

std::string show_place(std::string_view text, size_t offset, size_t length) {
    offset = std::min(offset, text.size());
    const size_t from = offset > kBefore ? offset - kBefore : 0;
    const size_t to = std::min(text.size(), offset + kAfter);
    const size_t marked = std::max<size_t>(1, std::min(length, to - offset));
    // Each byte of no printable character shows as one blank, so the caret
    // still stands under its place and input never acts on the terminal.
    std::string window(text.substr(from, to - from));
    for (size_t at = 0; at < window.size();) {
        const size_t length = printable_at(window, at);
        if (length == 0) window[at] = ' ';
        at += length > 0 ? length : 1;
    }
    const std::string lead = from > 0 ? "..." : "";
    std::string out = "  " + lead + window + (to < text.size() ? "..." : "") + "\n  ";
    out.append(lead.size() + columns(text.substr(from, offset - from)), ' ');
    out += '^';
    out.append(std::max<size_t>(1, columns(text.substr(offset, marked))) - 1, '~');
    return out;
}

} // namespace lparse
