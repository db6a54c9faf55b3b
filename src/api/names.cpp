// names.cpp - listing the names and calls a text reads, each with its place, without touching the handle.
#include <algorithm>
#include <cstdint>

#include "api/build_tree.h"
#include "api/call_scope.h"
#include "lib_parse.h"
#include "support/arena.h"
#include "support/check_point.h"
#include "tree/handle.h"
#include "tree/name_list.h"

using namespace lp;

extern "C" int parser_names(Parser *parser, const char *text, parser_name_fn fn, void *ctx) noexcept {
    if (parser == nullptr || text == nullptr || parser->busy) return -1;
    BusyScope busy(parser, true); // the callback must not change the handle under the listing
    NameList names(&parser->var_index);
    CheckPoint check(&parser->call);
    {
        // Built aside like a check: nothing reaches the handler, the trace or the handle.
        ErrorLog log;
        ErrorScope scope(&log, true);
        size_t length = 0;
        if (!text_length_within(parser->limits, text, &length)) return 0;
        Arena arena;
        BuildWatch watch;
        watch.names = &names;
        watch.check = &check;
        if (build_tree(parser, BuildFor::ASIDE, &arena, text, length, watch) == nullptr)
            return -1; // stopped by parser_interrupt
    }
    // An interrupt stops the telling too.
    if (fn != nullptr)
        for (const NameList::Use &use : names.uses()) {
            if (check.pass(kNodeUnits)) return -1;
            fn(ctx, use.kind, use.span.offset, use.span.length, use.name.c_str());
        }
    return static_cast<int>(std::min<size_t>(names.uses().size(), INT32_MAX));
}
