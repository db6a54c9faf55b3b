// block_operation.h - the arithmetic of bulk rows' blocks, with the instruction set the processor offers.
#ifndef LIB_PARSE_BLOCK_OPERATION_H
#define LIB_PARSE_BLOCK_OPERATION_H

#include <cstddef>
#include <cstdint>

namespace lp {

enum class BlockOperation : uint8_t { ADD, SUB, MUL, DIV };

// OUT[i] = A[i] op B[i] over N rows with the bare instruction (A or B one
// value where A_ROWS or B_ROWS is false; OUT apart from both): true when
// some result is a NaN, which the caller computes again with the
// evaluators' NaN rule. With AVX2 where the calling thread's lane kernels
// use it (lane_math_avx2), else with the baseline's vectors: the same bits.
bool block_arithmetic(BlockOperation op, float *out, const float *a, bool a_rows, const float *b, bool b_rows,
                      size_t n);

} // namespace lp

#endif // LIB_PARSE_BLOCK_OPERATION_H
