// bulk_loops.h - the loops a C programmer writes for bulk_functions' texts, compiled at -O2 and at -O3.
#ifndef LIB_PARSE_BENCH_BULK_LOOPS_H
#define LIB_PARSE_BENCH_BULK_LOOPS_H

#include <cstddef>

namespace bench {

// OUT[i] from X[i] and Y[i] for N rows.
using Loop = void (*)(const float *x, const float *y, float *out, size_t n);

// One text's loops: in float with cosf and its kin, and in double rounded
// once to float (the values lib_parse gives).
struct Loops {
    Loop in_float, in_double;
};

// The loops of the five texts, in the order of bulk_functions.cpp's table.
namespace o2 {
extern const Loops kLoops[5];
}
namespace o3 {
extern const Loops kLoops[5];
}

} // namespace bench

#endif // LIB_PARSE_BENCH_BULK_LOOPS_H
