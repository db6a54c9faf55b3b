// location.h - a text's bracket pairs, the pairs enclosing a range of it, and the operation the range splits at.
#ifndef LIB_PARSE_LOCATE_H
#define LIB_PARSE_LOCATE_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "support/check_point.h"
#include "support/checked_memory.h"
#include "tree/operation_table.h"

namespace lp {

// Buffers of substituted texts kept for the next ones: so many, of at most
// so many bytes each.
constexpr size_t kSpareTexts = 8;
constexpr size_t kSpareTextBytes = 1024;

struct TopLevel;

// A text that nodes are cut from, with the closing partner of every "(".
// Positions are 32-bit: no text longer than kMaxTextBytes is ever made a
// source. Partners are kept for the opening brackets alone, not per byte: a
// source stays alive while any piece of it waits, so its size is what deep
// substitution pays per level.
class SourceText {
public:
    SourceText() = default;
    // Becomes the source of TEXT, read in place (it must outlive the
    // source), keeping its memory for brackets, and reads in the same pass
    // the top level of the whole text into *TOP, as survey_range finds it.
    // True when *TOP holds it: the text was read to its end, balanced, and
    // no pair encloses all of it. Stopped at a check point, the brackets are
    // read in part: the source is read no further.
    bool read_surveyed(const char *text, size_t length, TopLevel *top, CheckPoint &check);
    // Becomes the source of a text it keeps, its brackets read, with no
    // survey: *TEXT's bytes are taken, and *TEXT is left empty.
    void adopt(String *text, CheckPoint &check);
    // Lets go of the text now. A kept text's buffer, when small, goes to
    // SPARES (when given and not full) for a later text to be written into.
    void drop(Vector<String> *spares = nullptr);
    // Lets go of bracket memory beyond ENTRIES pairs.
    void trim(size_t entries) {
        if (opens_.capacity() <= entries) return;
        Vector<int32_t>().swap(opens_);
        Vector<int32_t>().swap(closes_);
        Vector<size_t>().swap(open_);
    }
    SourceText(const SourceText &) = delete;
    SourceText &operator=(const SourceText &) = delete;

    const char *data() const { return text_.data(); }
    std::string_view view(int32_t from, int32_t to) const {
        return text_.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
    }
    int32_t size() const { return static_cast<int32_t>(text_.size()); }
    // False when a bracket has no partner; only a whole text is ever cut
    // then, and it is left as it is.
    bool balanced() const { return balanced_; }
    // The closing partner of the "(" at POSITION.
    int32_t partner(int32_t position) const;

    long refs = 0; // pending ranges that still read this text

private:
    // Reads the brackets, and with TOP the top level as read_surveyed does.
    bool read_brackets(CheckPoint &check, TopLevel *top);

    std::string_view text_;
    String own_; // the text, when the source keeps it
    bool owns_ = false;
    Vector<int32_t> opens_;  // positions of every "(", ascending
    Vector<int32_t> closes_; // the partner of each
    Vector<size_t> open_;    // while reading: indexes in opens_ of the pairs not yet closed
    bool balanced_ = true;
};

// Each of these stops where CHECK says the call was stopped, its result
// then unfinished: the caller looks at CHECK before using it.

// The blanks a call's name and arguments are read without.
inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Whether the N bytes at A and B are the same: the rest of a function's
// name, a few bytes, which a loop compares sooner than a call to memcmp.
inline bool same_bytes(const char *a, const char *b, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

// The rows of the one-byte symbols, "+" to "%".
constexpr uint32_t kOneByteRows = 1u << OP_ADD | 1u << OP_SUB | 1u << OP_POW | 1u << OP_MUL | 1u << OP_DIV | 1u << OP_MOD;

// What one pass over the top level of a range finds.
struct TopLevel {
    Vector<int32_t> opens; // the opening positions of its top-level pairs
    Vector<int32_t> marks; // the positions of one-byte operation symbols outside them
    Vector<int32_t> word_marks; // those of the first bytes of the longer symbols (function names)
    uint32_t seen = 0;     // the rows whose symbol begins with a byte outside them, a bit per row id
};

// Narrows [*FROM, *TO) while one pair encloses all of it ("((x+1))" is
// "x+1"), then reads its top level into *TOP, all choose_operation needs.
void survey_range(const SourceText &source, int32_t *from, int32_t *to, TopLevel *top, CheckPoint &check);

// Calls VISIT(a, b, end) for the stretches of [FROM, TO) outside the pairs
// OPENS, a long stretch cut into pieces [a, b) of at most kCheckStride bytes
// with a check point after each; END is where the piece's stretch ends.
// False when stopped.
template <class Visit>
bool for_each_stretch(const SourceText &source, int32_t from, int32_t to, const Vector<int32_t> &opens,
                      CheckPoint &check, Visit visit) {
    auto pieces = [&](int32_t a, int32_t end) {
        for (;;) {
            const int32_t b = end - a > static_cast<int32_t>(kCheckStride) ? a + static_cast<int32_t>(kCheckStride) : end;
            visit(a, b, end);
            if (check.pass(static_cast<size_t>(b - a) + 1)) return false;
            if (b == end) return true;
            a = b;
        }
    };
    int32_t a = from;
    for (const int32_t open : opens) {
        if (!pieces(a, open)) return false;
        a = source.partner(open) + 1;
    }
    return pieces(a, to);
}

// The split of [FROM, TO), whose top level is *TOP (survey_range): the id
// of the first operation in table order with an occurrence outside every
// pair, its positions in *POSITIONS; -1 when none occurs outside. When
// the marks are all its positions, they are swapped into *POSITIONS. An
// operation symbol standing at the last byte ends the search and sets
// *TRAILING. TRACED: the search may be traced, and is when its level is
// emitted.
int32_t choose_operation(const SourceText &source, int32_t from, int32_t to, TopLevel *top,
                         Vector<int32_t> *positions, bool *trailing, bool traced, CheckPoint &check);

// Whether each piece of the split at ID that choose_operation chose over
// TOP is a plain operand, a number or a name: ID's symbol is one byte, so
// every occurrence is a cut, and the range has no pair and no first byte of
// another symbol outside one.
inline bool pieces_are_operands(const TopLevel &top, int32_t id) {
    return id >= 0 && top.opens.empty() && top.seen == 1u << id && ((1u << id) & kOneByteRows) != 0;
}

// Whether the LENGTH bytes at NAME are the symbol of a function of the
// table ("cos" … "log10"), a name no host function may have.
bool is_function_symbol(const char *name, size_t length);

// Whether [*FROM, *TO), a range of a balanced source, is a number or a name
// once the pairs enclosing all of it are taken away, as survey_range takes
// them: no bracket and no first byte of a symbol. The range is narrowed
// then. A range of more than a few dozen bytes is not looked at (false).
bool plain_operand(const SourceText &source, int32_t *from, int32_t *to);

} // namespace lp

#endif // LIB_PARSE_LOCATE_H
