// bulk.cpp - parser_calc_bulk: one text over many rows of variable values.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "api/call_scope.h"
#include "containers/memory.h"
#include "run/bulk_rows.h"
#include "run/program.h"
#include "support/check_point.h"
#include "tree/handle.h"

using namespace lp;

extern "C" int parser_calc_bulk(Parser *parser, const char *text, const char *const *names,
                                const float *const *columns, size_t n_vars, size_t n_rows, float *out) noexcept {
    if (parser == nullptr || text == nullptr || parser->busy) return 1;
    if (n_vars > 0 && (names == nullptr || (n_rows > 0 && columns == nullptr))) return 1;
    for (size_t j = 0; j < n_vars; ++j)
        if (names[j] == nullptr || (n_rows > 0 && columns[j] == nullptr)) return 1;
    if (n_rows > 0 && out == nullptr) return 1;
    if (n_rows == 0) return 0;

    BusyScope busy(parser, true);
    auto set_row = [&](size_t i) {
        for (size_t j = 0; j < n_vars; ++j) set_variable(parser, names[j], columns[j][i]);
    };
    // Stopped by parser_interrupt: the rows not done are NaN, and the
    // variables hold the last row done (the first row's when none was).
    auto stop = [&](size_t done) {
        std::fill(out + done, out + n_rows, NAN);
        if (done > 0) set_row(done - 1);
        return 1;
    };
    auto one_row = [&](size_t i) {
        set_row(i);
        out[i] = calc_text(parser, text);
    };
    // The first row defines every variable and builds the tree; from then on
    // a row changes values only, so the rows in between depend on the columns
    // alone. The last row runs as a single evaluation, leaving the tree's
    // records as the row-by-row loop would.
    one_row(0);
    // The rows' own check points, after the build's: one count at a time.
    CheckPoint check(&parser->call);
    if (check.stopped()) return stop(0);
    Program *p = parser->program;
    // An impure host function is called once per row, rows in order, and
    // only where a conditional takes its branch: such a tree goes row by row.
    if (n_rows > 2 && p != nullptr && p->root == parser->tree && !calls_impure(*p)) {
        auto *feeds = static_cast<ColumnFeed *>(lp_malloc(std::max<size_t>(1, p->leaf_count) * sizeof(ColumnFeed)));
        for (size_t i = 0; i < p->leaf_count; ++i) feeds[i] = ColumnFeed{p->leaves[i].source, -1};
        // A later name of the same variable wins, as its parser_var comes later.
        for (size_t j = 0; j < n_vars && !check.stopped(); ++j) {
            const Variable *v = var_index_find(&parser->var_index, names[j]);
            for (size_t i = 0; i < p->leaf_count && v != nullptr; ++i) {
                if (i % kCheckStride == kCheckStride - 1 && check.pass(kCheckStride)) break; // seen by run_rows
                if (p->leaves[i].source == &v->value) feeds[i].column = static_cast<long>(j);
            }
        }
        // Other threads only for host functions that allow them.
        const size_t threads = calls_only_thread_safe(*p) ? threads_for_rows(*p, parser->limits.threads(), n_rows - 2) : 1;
        const size_t row = threads > 1 ? run_rows_spread(p, feeds, columns, 1, n_rows - 1, out, &parser->call,
                                                         parser->limits.native_code(), threads)
                                       : run_rows(p, feeds, columns, 1, n_rows - 1, out, check, parser->limits.native_code());
        std::free(feeds);
        if (row < n_rows - 1) return stop(row);
        one_row(n_rows - 1);
        return 0;
    }
    for (size_t i = 1; i < n_rows; ++i) {
        if (check.pass(kNodeUnits)) return stop(i);
        one_row(i);
    }
    return 0;
}
