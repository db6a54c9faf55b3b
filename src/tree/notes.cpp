// notes.cpp - the notes of a check in text order, and texts quoted for their messages.
#include "tree/notes.h"

#include <algorithm>

namespace lp {

Vector<Note> &NoteList::sorted() {
    std::stable_sort(notes_.begin(), notes_.end(),
                     [](const Note &a, const Note &b) { return a.span.offset < b.span.offset; });
    return notes_;
}

String quoted_inner(std::string_view text) {
    constexpr size_t kShown = 40;
    String out;
    for (const char c : text.substr(0, kShown)) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= ' ' && u != 0x7f) {
            out += c;
            continue;
        }
        // A control byte would act on the host's terminal: written as \xNN.
        static const char digits[] = "0123456789abcdef";
        out += "\\x";
        out += digits[u >> 4];
        out += digits[u & 15];
    }
    return text.size() > kShown ? out + "..." : out;
}

String quoted(std::string_view text) {
    // Appended piece by piece: GCC 12 warns, wrongly, about "'" + String.
    String out(1, '\'');
    out += quoted_inner(text);
    out += '\'';
    return out;
}

} // namespace lp
