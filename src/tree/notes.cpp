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
