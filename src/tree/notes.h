// notes.h - what a check of a text finds: its errors and the traps of the language, each with its place.
#ifndef LIB_PARSE_NOTES_H
#define LIB_PARSE_NOTES_H

#include <string>
#include <string_view>
#include <vector>

#include "support/checked_memory.h"
#include "support/error_log.h"
#include "support/variables.h"

namespace lp {

class CheckPoint;

struct Note {
    int kind; // an error code, or a PARSER_NOTE_* kind
    Span span;
    String message;
};

// The notes of one check. The expansion adds the traps it meets; the errors
// come from the check's error log.
class NoteList {
public:
    explicit NoteList(const VarIndex *vars) : vars_(vars) {}

    const VarIndex *vars() const { return vars_; }
    void add(int kind, Span span, String message) { notes_.push_back(Note{kind, span, std::move(message)}); }
    // The notes in text order (by offset; those at one offset as they came),
    // sorted in runs and merged with a check point of CHECK between any two;
    // false, the order unfinished, when stopped.
    bool sort(CheckPoint &check);
    const Vector<Note> &notes() const { return notes_; }

private:
    const VarIndex *vars_;
    Vector<Note> notes_;
};

// TEXT quoted for a message, cut to a few dozen bytes, every byte of no
// printable UTF-8 character (controls, binary) written as \xNN: a note
// never echoes a long text, nor anything a terminal acts on or garbles.
String quoted(std::string_view text);
// The same without the quotes.
String quoted_inner(std::string_view text);

} // namespace lp

#endif // LIB_PARSE_NOTES_H
