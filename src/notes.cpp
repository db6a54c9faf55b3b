// notes.cpp - checking a text without touching the handle: its errors and traps, in text order.
#include "notes.h"

#include <algorithm>

#include "arena.h"
#include "boundary.h"
#include "expand.h"
#include "handle.h"
#include "lib_parse.h"
#include "operation_table.h"

namespace lp {

std::vector<Note> &NoteList::sorted() {
    std::stable_sort(notes_.begin(), notes_.end(),
                     [](const Note &a, const Note &b) { return a.span.offset < b.span.offset; });
    return notes_;
}

std::string quoted(std::string_view text) {
    constexpr size_t kShown = 40;
    if (text.size() <= kShown) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kShown)) + "...'";
}

} // namespace lp

using namespace lp;

extern "C" int parser_check(Parser *parser, const char *text, parser_note_fn note, void *ctx) try {
    if (parser == nullptr || text == nullptr) return 0;
    ErrorLog log;
    NoteList notes(&parser->var_index);
    {
        // The tree is built aside and released; nothing reaches the handler,
        // the trace or the handle.
        ErrorScope scope(&log, true);
        size_t length = 0;
        if (text_length_within(parser->limits, text, &length)) {
            Arena arena;
            expand_text(&arena, nullptr, text, length, &parser->func_index, parser->hosts, parser->limits, &notes);
        } else {
            LP_REPORT(PARSER_ERR_TEXT_TOO_LONG, (Span{0, length}));
        }
    }
    for (const ErrorLog::Entry &e : log.entries()) notes.add(e.code, e.span, parser_error_text(e.code));
    const std::vector<Note> &all = notes.sorted();
    if (note != nullptr)
        for (const Note &n : all) note(ctx, n.kind, n.span.offset, n.span.length, n.message.c_str());
    return static_cast<int>(all.size());
} catch (...) {
    lp::abort_on_exception();
}
