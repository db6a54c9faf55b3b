// bulk_rows.h - a program's value over many rows of columns: vector machine code where it pays, else blocks of rows.
#ifndef LIB_PARSE_BULK_ROWS_H
#define LIB_PARSE_BULK_ROWS_H

#include <cstddef>

#include "run/program.h"

namespace lp {

class CheckPoint;
class CallState;

// True when the program calls a host function not marked pure: such a
// program is called once per row, rows in order, never in blocks.
bool calls_impure(const Program &p);

// Rows FIRST .. END-1 of P's value into OUT, each leaf fed from its column
// as FEEDS says; in vector machine code when NATIVE_CODE allows and there
// are rows enough, else in blocks. Stops at a check point of CHECK;
// returns the first row not done.
size_t run_rows(Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                float *out, CheckPoint &check, bool native_code);

// True when every host function the program calls may be called from
// several threads at once.
bool calls_only_thread_safe(const Program &p);
// The threads to spread ROWS of P over when THREADS are allowed (0: the
// cores the process may run on): as many as have half a millisecond of work
// each, by an estimate from the program's steps; 1 for less.
size_t threads_for_rows(const Program &p, size_t threads, size_t rows);
// run_rows over THREADS threads, the calling one among them, each given a
// part of the rows and a check point of CALL's; the same bits as one.
// Returns the first row not done: the rows before it are all done, and
// rows after it may be too.
size_t run_rows_spread(Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                       float *out, CallState *call, bool native_code, size_t threads);

} // namespace lp

#endif // LIB_PARSE_BULK_ROWS_H
