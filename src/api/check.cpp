// check.cpp - checking a text without touching the handle: its errors and traps, in text order.
#include <cstdint>

#include "api/build_tree.h"
#include "api/call_scope.h"
#include "lib_parse.h"
#include "support/arena.h"
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
    {
        // The tree is built aside and released; nothing reaches the handler,
        // the trace or the handle.
        ErrorScope scope(&log, true);
        size_t length = 0;
        if (text_length_within(parser->limits, text, &length)) {
            Arena arena;
            BuildWatch watch;
            watch.notes = &notes;
            watch.call = &parser->call;
            build_tree(parser, BuildFor::ASIDE, &arena, text, length, watch);
        } else {
            LP_REPORT(PARSER_ERR_TEXT_TOO_LONG, (Span{0, length}));
        }
    }
    for (const ErrorLog::Entry &e : log.entries()) notes.add(e.code, e.span, parser_error_text(e.code));
    const Vector<Note> &all = notes.sorted();
    // A million notes take a while to tell: an interrupt stops the telling too.
    if (note != nullptr)
        for (size_t k = 0; k < all.size() && !parser->call.interrupted(); ++k)
            note(ctx, all[k].kind, all[k].span.offset, all[k].span.length, all[k].message.c_str());
    return static_cast<int>(std::min<size_t>(all.size(), INT32_MAX));
}
