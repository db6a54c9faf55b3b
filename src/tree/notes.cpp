// notes.cpp - the notes of a check in text order, and texts quoted for their messages.
#include "tree/notes.h"

#include <algorithm>

#include "support/check_point.h"

namespace lp {

bool NoteList::sort(CheckPoint &check) {
    const auto by_offset = [](const Note &a, const Note &b) { return a.span.offset < b.span.offset; };
    constexpr size_t kRun = kCheckStride / 16; // notes a run sorts, or a merge moves, between check points
    const size_t n = notes_.size();
    for (size_t from = 0; from < n; from += kRun) {
        if (check.pass(kRun * kNodeUnits)) return false;
        const auto first = notes_.begin() + static_cast<std::ptrdiff_t>(from);
        std::stable_sort(first, first + static_cast<std::ptrdiff_t>(std::min(kRun, n - from)), by_offset);
    }
    // Runs of WIDTH merged pairwise: at most kRun notes a merge step, so a
    // merge of two long runs passes its check points too.
    Vector<Note> merged;
    for (size_t width = kRun; width < n; width *= 2) {
        merged.clear();
        merged.reserve(n);
        for (size_t from = 0; from < n; from += 2 * width) {
            size_t a = from, b = std::min(from + width, n);
            const size_t a_end = b, b_end = std::min(from + 2 * width, n);
            while (a < a_end || b < b_end) {
                if (check.pass(kNodeUnits)) return false;
                // Equal offsets keep their order: the left run's note first.
                const bool left = b == b_end || (a < a_end && !by_offset(notes_[b], notes_[a]));
                merged.push_back(std::move(notes_[left ? a++ : b++]));
            }
        }
        notes_.swap(merged);
    }
    return true;
}

namespace {

// The bytes of the printable UTF-8 character at TEXT[AT], or 0 for a control
// character (C0 or C1) or a byte that begins no well-formed character.
size_t printable_at(std::string_view text, size_t at) {
    const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned lead = byte(at);
    if (lead < 0x80) return lead >= ' ' && lead != 0x7f ? 1 : 0;
    size_t length = 0;
    unsigned low = 0x80, high = 0xBF; // the second byte's range: no overlong, surrogate or beyond-Unicode form
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = lead == 0xC2 ? 0xA0 : 0x80; // U+0080..U+009F are controls
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t k = 2; k < length; ++k)
        if ((byte(at + k) & 0xC0) != 0x80) return 0;
    return length;
}

} // namespace

String quoted_inner(std::string_view text) {
    constexpr size_t kShown = 40;
    String out;
    const std::string_view shown = text.substr(0, kShown);
    for (size_t at = 0; at < shown.size();) {
        if (const size_t length = printable_at(shown, at); length > 0 && at + length <= shown.size()) {
            out.append(shown.data() + at, length);
            at += length;
            continue;
        }
        // Anything else would act on the host's terminal, or garble it: \xNN.
        static const char digits[] = "0123456789abcdef";
        const auto u = static_cast<unsigned char>(shown[at++]);
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
