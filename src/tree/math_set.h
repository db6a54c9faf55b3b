// math_set.h - the math set's functions that have lane kernels, of doubles as the C library computes them.
//
// The set's host functions and the kernels' scalar fallbacks both round
// these once to float, so the two give the same bits.
#ifndef LIB_PARSE_MATH_SET_H
#define LIB_PARSE_MATH_SET_H

#include <cmath>

namespace lp {

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

#endif // LIB_PARSE_MATH_SET_H
