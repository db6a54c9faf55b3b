// trap_notes.cpp - the traps of the defined grammar a check reports: what a text drops, or reads otherwise than it looks.
#include "defined/trap_notes.h"

#include <algorithm>

#include "lib_parse.h"
#include "support/variables.h"
#include "tree/notes.h"
#include "tree/operand.h"
#include "tree/operation_kinds.h"

namespace lp {

namespace {

// True for the one-byte operator symbols.
bool is_operator_byte(char c) {
    for (const OperationEntry &row : operation)
        if (is_binary(row.id) && row.length == 1 && row.name[0] == c) return true;
    return false;
}

// True for the bytes that continue a name or a number.
bool is_word_byte(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 'A' || (c >= '0' && c <= '9') || c == '.';
}

// A note names at most this much of a word, so a check stays linear.
constexpr int32_t kWordShown = 64;

} // namespace

// The bracket without a partner: the first ")" that closes nothing, else
// the first "(" never closed.
void TrapNotes::unmatched(const SourceText &source, Range range) const {
    Span place = place_of(range);
    if (range.source == 0) {
        Vector<int32_t> open;
        int32_t at = -1;
        for (int32_t p = range.from; p < range.to && at < 0; ++p) {
            if ((p - range.from + 1) % static_cast<int32_t>(kCheckStride) == 0 && check_->pass(kCheckStride)) return;
            const char c = source.data()[p];
            if (c == '(') open.push_back(p);
            if (c == ')' && open.empty()) at = p;
            if (c == ')' && !open.empty()) open.pop_back();
        }
        if (at < 0 && !open.empty()) at = open.front();
        if (at >= 0) place = Span{static_cast<size_t>(at), 1};
    }
    notes_->add(PARSER_NOTE_UNMATCHED_BRACKET, place, "bracket without a partner: the text is read as one operand");
}

// An operand: a name that reads no variable, or a longer one; a number
// written so that it reads as a name; a comma, where the number stops.
void TrapNotes::operand(const SourceText &source, Range range) const {
    const std::string_view text = source.view(range.from, range.to);
    const String owned(text);
    const Span place = place_of(range);
    if (is_name(owned.c_str())) {
        if (is_blank(text.front()) || is_blank(text.back()))
            notes_->add(PARSER_NOTE_BLANK_IN_NAME, place,
                        "the blank in " + quoted(text) + " is part of the name: blanks belong to names");
        if (!text.empty() && ((text[0] >= '0' && text[0] <= '9') || text[0] == '.'))
            notes_->add(PARSER_NOTE_NUMBER_AS_NAME, place,
                        quoted(text) + " is read as a name, not a number (numbers have no exponent or letters)");
        const Variable *v = variable_by_prefix(notes_->vars(), owned.c_str());
        if (v == nullptr)
            notes_->add(PARSER_NOTE_UNKNOWN_NAME, place, "no variable matches " + quoted(text) + "; it counts as 0");
        else if (owned != v->name)
            notes_->add(PARSER_NOTE_PREFIX_NAME, place,
                        quoted(text) + " reads variable " + quoted(v->name) + ", the newest whose name begins with it");
    }
    const size_t comma = text.find(',');
    if (comma != std::string_view::npos) {
        const Span at = range.source == 0 ? Span{place.offset + comma, 1} : place;
        notes_->add(PARSER_NOTE_COMMA, at, "a comma outside a call's brackets: the operand ends before it");
    }
    if (!is_name(owned.c_str())) number_tail(text, range, place);
}

// A number text is read up to the first byte that cannot continue the
// number; the rest is dropped without a word: '7 8' is 7, '3!' is 3.
void TrapNotes::number_tail(std::string_view text, Range range, Span place) const {
    const size_t read = number_length(text);
    size_t tail = read;
    while (tail < text.size() && (text[tail] == ' ' || (text[tail] >= '\t' && text[tail] <= '\r'))) ++tail;
    if (tail == text.size() || text[tail] == ',') return; // blanks only, or the comma's own note
    const Span at = range.source == 0 ? Span{place.offset + tail, text.size() - tail} : place;
    if (read == 0)
        notes_->add(PARSER_NOTE_DROPPED_TEXT, at, quoted(text) + " holds no number: it reads as 0");
    else
        notes_->add(PARSER_NOTE_DROPPED_TEXT, at,
                    quoted(text.substr(tail)) + " after the number " + quoted(text.substr(0, read)) +
                        " is dropped: a number ends at the first byte that cannot continue it");
}

// A function takes the text from its name to the next occurrence of its
// name as its argument and drops the rest: the text before the name, and
// everything from the next occurrence on ('coscos1' is cos() and '1' is
// lost with the second 'cos'). Only the first occurrence is read, so
// these notes look at bounded stretches: a check stays linear.
void TrapNotes::function(const SourceText &source, Range range, const OperationEntry &row,
                     const Vector<int32_t> &positions) const {
    const char *text = source.data();
    const int32_t first = positions.front(), after = first + static_cast<int32_t>(row.length);
    const int32_t argument_end = positions.size() > 1 ? positions[1] : range.to;
    const String call = String(row.name) + "(" + quoted_inner(source.view(after, argument_end)) + ")";
    if (first > range.from)
        notes_->add(PARSER_NOTE_DROPPED_TEXT, place_of(Range{range.source, range.from, first}),
                    quoted(source.view(range.from, first)) + " before '" + row.name +
                        "' is dropped: a function takes only the text after its name");
    if (after < range.to && is_word_byte(text[after]) && text[after] != '.') {
        int32_t end = after;
        while (end < range.to && end - first < kWordShown && is_word_byte(text[end])) ++end;
        notes_->add(PARSER_NOTE_NAME_WITH_FUNCTION, place_of(Range{range.source, first, end}),
                    quoted(source.view(first, end)) + " holds '" + row.name + "': it is read as " + call);
    }
    if (argument_end < range.to)
        notes_->add(PARSER_NOTE_DROPPED_TEXT, place_of(Range{range.source, argument_end, range.to}),
                    quoted(source.view(argument_end, range.to)) + " after " + call +
                        " is dropped: the argument ends where '" + row.name + "' stands again");
}

// What a split leaves out or reads oddly: text a function drops, a
// function symbol inside a longer word, an operator right after another.
void TrapNotes::split(const SourceText &source, Range range, int32_t id, const Vector<Range> &pieces,
                  const Vector<int32_t> &positions) const {
    const OperationEntry &row = operation[id];
    const char *text = source.data();
    if (!is_binary(id)) {
        function(source, range, row, positions);
        return;
    }
    // Between two occurrences nothing, or only an operator: the operand
    // there is empty (0) or ends in an operator.
    for (size_t k = 1; k < pieces.size() && k <= positions.size(); ++k) {
        if (check_->pass(1)) return;
        const int32_t at = positions[k - 1];
        int32_t last = pieces[k - 1].to;
        while (last > pieces[k - 1].from && text[last - 1] == ' ') --last;
        const bool empty_before = k >= 2 && pieces[k - 1].from == pieces[k - 1].to;
        const bool operator_before = last > pieces[k - 1].from && is_operator_byte(text[last - 1]);
        if (!empty_before && !operator_before) continue;
        const int32_t from = empty_before ? positions[k - 2] : last - 1;
        notes_->add(PARSER_NOTE_DOUBLE_OPERATOR, place_of(Range{range.source, from, at + static_cast<int32_t>(row.length)}),
                    empty_before ? "an operator right after another: the empty operand between them counts as 0"
                                 : "an operator right after another: no operand stands between them");
    }
}

// A call whose name only begins with the name of the function chosen.
void TrapNotes::call(std::string_view call, size_t name_length, Span place) const {
    const size_t call_name = std::min(call.find('('), call.size());
    if (call_name == name_length) return;
    notes_->add(PARSER_NOTE_PREFIX_CALL, place,
                "the call " + quoted(call.substr(0, call_name)) + " is taken by the function " +
                    quoted(call.substr(0, name_length)) + ", the newest whose name begins it");
}

} // namespace lp
