// block_arithmetic.h - + - * / over a block of rows, in loops the compiler makes vector code of (block_arithmetic.cpp, _avx2.cpp).
//
// The bare instruction over every row, and whether some row's result is a
// NaN: the caller computes such a block again with the evaluators' NaN rule.
// Compiled once for the processor's baseline and, on x86-64, once more for
// AVX2 (8 floats a vector, where the baseline has 4), chosen at run time.
//
// A file that includes this may be compiled for AVX2, so it instantiates no
// template of another header and calls no inline function of one: the
// linker could keep that AVX2 copy for every caller.
#ifndef BLOCK_SET
#error "define BLOCK_SET, the namespace of one instruction set's loops"
#endif

#include <cstddef>
#include <cstdint>

namespace lp {

namespace BLOCK_SET {

namespace {

// OUT[i] = F(A[i], B[i]) over N rows, an operand the same in every row
// being one value; true when a result is a NaN.
template <class F>
bool rows(float *__restrict out, const float *a, bool a_rows, const float *b, bool b_rows, size_t n, F f) {
    int nan = 0;
    if (a_rows && b_rows) {
        const float *__restrict x = a, *__restrict y = b;
        for (size_t i = 0; i < n; ++i) {
            const float v = f(x[i], y[i]);
            out[i] = v;
            nan |= v != v;
        }
    } else if (a_rows) {
        const float *__restrict x = a;
        const float y = *b;
        for (size_t i = 0; i < n; ++i) {
            const float v = f(x[i], y);
            out[i] = v;
            nan |= v != v;
        }
    } else {
        const float x = *a;
        const float *__restrict y = b;
        for (size_t i = 0; i < n; ++i) {
            const float v = f(x, y[i]);
            out[i] = v;
            nan |= v != v;
        }
    }
    return nan != 0;
}

} // namespace

bool arithmetic(BlockOperation op, float *out, const float *a, bool a_rows, const float *b, bool b_rows, size_t n) {
    switch (op) {
    case BlockOperation::ADD: return rows(out, a, a_rows, b, b_rows, n, [](float x, float y) { return x + y; });
    case BlockOperation::SUB: return rows(out, a, a_rows, b, b_rows, n, [](float x, float y) { return x - y; });
    case BlockOperation::MUL: return rows(out, a, a_rows, b, b_rows, n, [](float x, float y) { return x * y; });
    case BlockOperation::DIV: return rows(out, a, a_rows, b, b_rows, n, [](float x, float y) { return x / y; });
    }
    return true; // no such operation: the caller's rule computes the block
}

} // namespace BLOCK_SET

} // namespace lp
