// double_functions.h - the language's functions and the math set's that have lane kernels, of doubles as the C library computes them.
//
// The operations' routines, the set's host functions and the kernels'
// scalar fallbacks all round these once to float, so they give the same
// bits.
#ifndef LIB_PARSE_DOUBLE_FUNCTIONS_H
#define LIB_PARSE_DOUBLE_FUNCTIONS_H

#include <cmath>

namespace lp {

// The language's.
inline double cos_d(double x) { return std::cos(x); }
inline double sin_d(double x) { return std::sin(x); }
inline double atan_d(double x) { return std::atan(x); }
inline double tan_d(double x) { return std::tan(x); }
inline double exp_d(double x) { return std::exp(x); }
inline double log_d(double x) { return std::log(x); }
inline double log2_d(double x) { return std::log2(x); }
inline double log10_d(double x) { return std::log10(x); }

// The math set's.
inline double cbrt_d(double x) { return std::cbrt(x); }
inline double asin_d(double x) { return std::asin(x); }
inline double acos_d(double x) { return std::acos(x); }
inline double sinh_d(double x) { return std::sinh(x); }
inline double cosh_d(double x) { return std::cosh(x); }
inline double tanh_d(double x) { return std::tanh(x); }
inline double exp2_d(double x) { return std::exp2(x); }
inline double pow_d(double x, double y) { return std::pow(x, y); }
inline double hypot_d(double x, double y) { return std::hypot(x, y); }
inline double atan2_d(double y, double x) { return std::atan2(y, x); }

} // namespace lp

#endif // LIB_PARSE_DOUBLE_FUNCTIONS_H
