// trap_notes.h - the traps of the defined grammar a check reports, each with its place in the text given.
#ifndef LIB_PARSE_TRAP_NOTES_H
#define LIB_PARSE_TRAP_NOTES_H

#include <cstdint>
#include <string_view>

#include "defined/location.h"
#include "defined/subtree.h"
#include "support/error_log.h"
#include "tree/operation_table.h"

namespace lp {

class NoteList;

// Adds to NOTES what the expansion meets; ORIGINS places the ranges of
// substituted texts (place_in_text). The loops over a whole text or split
// pass the expansion's CHECK points and stop, their notes unfinished.
class TrapNotes {
public:
    TrapNotes(NoteList *notes, const Vector<Span> &origins, CheckPoint *check)
        : notes_(notes), origins_(origins), check_(check) {}

    // The bracket without a partner: the first ")" that closes nothing, else
    // the first "(" never closed.
    void unmatched(const SourceText &source, Range range) const;
    // A leaf's operand: a name that reads no variable or a longer one, a
    // number that reads as a name, a comma, a number's dropped tail.
    void operand(const SourceText &source, Range range) const;
    // RANGE split at POSITIONS of operation ID into PIECES.
    void split(const SourceText &source, Range range, int32_t id, const Vector<Range> &pieces,
               const Vector<int32_t> &positions) const;
    // A call whose name only begins with the name of the function chosen.
    void call(std::string_view call, size_t name_length, Span place) const;

private:
    void number_tail(std::string_view text, Range range, Span place) const;
    void function(const SourceText &source, Range range, const OperationEntry &row,
                  const Vector<int32_t> &positions) const;
    Span place_of(Range range) const { return place_in_text(origins_, range); }

    NoteList *notes_;
    const Vector<Span> &origins_;
    CheckPoint *check_;
};

} // namespace lp

#endif // LIB_PARSE_TRAP_NOTES_H
