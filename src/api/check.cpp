// check.cpp - checking a text without touching the handle: its errors and traps, in text order.
#include <algorithm>
#include <cstdint>

#include "api/build_tree.h"
#include "api/call_scope.h"
#include "lib_parse.h"
#include "support/arena.h"
#include "support/check_point.h"
#include "tree/handle.h"
#include "tree/notes.h"
#include "tree/operation_table.h"

using namespace lp;

extern "C" int parser_check(Parser *parser, const char *text, parser_note_fn note, void *ctx) noexcept {
    if (parser == nullptr || text == nullptr) return 0;
    if (parser->busy) return -1;
    BusyScope busy(parser, true); // the note callback must not change the handle under the check
    ErrorLog log;
    NoteList notes(&parser->var_index);
    CheckPoint check(&parser->call);
    Span reached{}; // where a stop came
    {
        // The tree is built aside and released; nothing reaches the handler,
        // the trace or the handle.
        ErrorScope scope(&log, true);
        size_t length = 0;
        if (text_length_within(parser->limits, text, &length)) {
            Arena arena;
            BuildWatch watch;
            watch.notes = &notes;
            watch.check = &check;
            if (build_tree(parser, BuildFor::ASIDE, &arena, text, length, watch) == nullptr)
                reached = log.entries().back().span;
            else
                reached = Span{0, length};
        } else {
            LP_REPORT(PARSER_ERR_TEXT_TOO_LONG, (Span{0, length}));
        }
    }
    if (!check.stopped()) {
        for (const ErrorLog::Entry &e : log.entries()) notes.add(e.code, e.span, parser_error_text(e.code));
        notes.sort(check);
    }
    // A stopped check ends with the note of the stop, at the place reached:
    // the notes before it are not all there are. Stopped before the telling,
    // it is the only one; a million notes take a while to tell, and an
    // interrupt stops the telling too.
    auto tell_stop = [&](size_t told) {
        if (note != nullptr)
            note(ctx, PARSER_ERR_INTERRUPTED, reached.offset, reached.length, parser_error_text(PARSER_ERR_INTERRUPTED));
        return static_cast<int>(std::min<size_t>(told + 1, INT32_MAX));
    };
    if (check.stopped()) return tell_stop(0);
    const Vector<Note> &all = notes.notes();
    if (note == nullptr) return static_cast<int>(std::min<size_t>(all.size(), INT32_MAX));
    for (size_t told = 0; told < all.size(); ++told) {
        if (check.pass(kNodeUnits)) return tell_stop(told);
        note(ctx, all[told].kind, all[told].span.offset, all[told].span.length, all[told].message.c_str());
    }
    return static_cast<int>(std::min<size_t>(all.size(), INT32_MAX));
}
