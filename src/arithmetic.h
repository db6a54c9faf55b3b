// arithmetic.h - the value of each operation on 32-bit floats, shared by every evaluator.
#ifndef LIB_PARSE_ARITHMETIC_H
#define LIB_PARSE_ARITHMETIC_H

#include <cmath>
#include <cstdint>

#include "operation_table.h"

namespace lp {

// Saturating truncation to a 32-bit integer; NaN becomes the smallest value.
inline int32_t to_int32(float v) {
    if (std::isnan(v)) return INT32_MIN;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Remainder of truncating division; a zero divisor gives the dividend and
// -1 gives 0, so nothing ever traps.
inline float remainder_of(float l, float r) {
    const int32_t a = to_int32(l), b = to_int32(r);
    int32_t result;
    if (b == 0)
        result = a;
    else if (b == -1)
        result = 0;
    else
        result = a % b;
    return static_cast<float>(static_cast<double>(result));
}

inline float pow_of(float l, float r) {
    return static_cast<float>(std::pow(static_cast<double>(l), static_cast<double>(r)));
}

// The function of a one-argument operation, computed in double precision.
inline float function_of(int32_t op, float r) {
    const double x = r;
    switch (op) {
    case OP_COS: return static_cast<float>(std::cos(x));
    case OP_SIN: return static_cast<float>(std::sin(x));
    case OP_ATAN: return static_cast<float>(std::atan(x));
    case OP_TAN: return static_cast<float>(std::tan(x));
    case OP_EXP: return static_cast<float>(std::exp(x));
    case OP_LOGN: return static_cast<float>(std::log(x));
    case OP_LOG2: return static_cast<float>(std::log2(x));
    default: return static_cast<float>(std::log10(x));
    }
}

inline float binary_of(int32_t op, float l, float r) {
    switch (op) {
    case OP_ADD: return l + r;
    case OP_SUB: return l - r;
    case OP_POW: return pow_of(l, r);
    case OP_MUL: return l * r;
    case OP_DIV: return l / r;
    default: return remainder_of(l, r);
    }
}

} // namespace lp

#endif // LIB_PARSE_ARITHMETIC_H
