// block_arithmetic.cpp - the blocks' arithmetic for the processor's baseline, and the choice of AVX2 where it is used.
#include "run/block_operation.h"
#include "run/lane_math.h"

#define BLOCK_SET blocks_baseline
#include "run/block_arithmetic.h"

namespace lp {

#if LIB_PARSE_LANES_X86
namespace blocks_avx2 {
bool arithmetic(BlockOperation op, float *out, const float *a, bool a_rows, const float *b, bool b_rows, size_t n);
} // namespace blocks_avx2
#endif

bool block_arithmetic(BlockOperation op, float *out, const float *a, bool a_rows, const float *b, bool b_rows,
                      size_t n) {
#if LIB_PARSE_LANES_X86
    if (lane_math_avx2) return blocks_avx2::arithmetic(op, out, a, a_rows, b, b_rows, n);
#endif
    return blocks_baseline::arithmetic(op, out, a, a_rows, b, b_rows, n);
}

} // namespace lp
