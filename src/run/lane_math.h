// lane_math.h - the language's functions over many lanes at once, each lane exactly what the scalar routine gives.
//
// A kernel computes its function in double precision with an error far
// below a double's 2^-39 (a polynomial after argument reduction), then
// rounds to float. Where every value within that error of its result rounds
// to the same float, that float is the one the C library's function rounds
// to as well (its own error is a few double ulps at most), so the lane keeps
// it; any other lane, and every input outside the kernel's range (NaN,
// infinities, zeros, subnormals, huge arguments), is computed again by the
// operation's own scalar routine. The sweep over every float input
// (bench/lane_math_sweep.cpp) found no lane that differs.
#ifndef LIB_PARSE_LANE_MATH_H
#define LIB_PARSE_LANE_MATH_H

#include <cstddef>
#include <cstdint>

#include "tree/lane_form.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

namespace lp {

// IN's N floats through the function into OUT (which may be IN); FALLBACK is
// the operation's scalar routine, for the lanes the kernel does not keep.
using LaneKernel = void (*)(const float *in, float *out, size_t n, UnaryRoutine fallback);

// The kernel of operation OP, or null: an operation without one, or a
// processor other than x86-64. Bulk rows that call a kernel run in blocks,
// which call it once for 256 rows.
LaneKernel lane_kernel(int32_t op);
// Whether the calling thread's kernels are the AVX2 ones (where the
// processor has it) or the SSE2 ones: the sweep and the tests set it to
// check both, each thread for itself.
extern thread_local bool lane_math_avx2;

// The math set's functions with a lane form of a kernel: the kernels of one
// operand and of two (or null, as above), and the scalar routines they fall
// back to, (float)f((double)x) as the set's own functions compute.
using LaneKernel2 = void (*)(const float *a, const float *b, float *out, size_t n, BinaryRoutine fallback);
struct FormKernels {
    LaneKernel one;
    LaneKernel2 two;
    UnaryRoutine unary;
    BinaryRoutine binary;
};
FormKernels form_kernels(LaneForm form);

// One value at a time through a kernel (compiled for SSE2, which every
// x86-64 processor has), where that is faster than the C library's routine
// called on its own: sin, cos, tan and log10, and the math set's sinh and
// tanh. A stricter form of the same rounding test keeps the kernel's float
// only where it is the routine's, so the value is the routine's float. The
// first gives OP's routine otherwise (the operation's own), the second null.
UnaryRoutine lane_routine(int32_t op);
UnaryRoutine lane_routine(LaneForm form);

// Lanes the calling thread's kernels sent to the scalar routine since it
// began, for the sweep and the tests: all of them, and those of inputs
// inside a kernel's range that its rounding test sent.
uint64_t lane_fallbacks();
uint64_t lane_rounding_fallbacks();
// Adds a kernel call's fallbacks to those counts (once per chunk).
void count_fallbacks(uint64_t sent, uint64_t rounding);

} // namespace lp

#endif // LIB_PARSE_LANE_MATH_H
