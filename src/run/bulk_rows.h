// bulk_rows.h - a program's value over many rows of columns: vector machine code where it pays, else blocks of rows.
#ifndef LIB_PARSE_BULK_ROWS_H
#define LIB_PARSE_BULK_ROWS_H

#include <cstddef>

#include "run/program.h"

namespace lp {

class CheckPoint;

// True when the program calls a host function not marked pure: such a
// program is called once per row, rows in order, never in blocks.
bool calls_impure(const Program &p);

// Rows FIRST .. END-1 of P's value into OUT, each leaf fed from its column
// as FEEDS says; in vector machine code when NATIVE_CODE allows and there
// are rows enough, else in blocks. Stops at a check point of CHECK;
// returns the first row not done.
size_t run_rows(Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                float *out, CheckPoint &check, bool native_code);

} // namespace lp

#endif // LIB_PARSE_BULK_ROWS_H
