// lane_math_kernels.h - the kernels of lane_math.h, in loops the compiler makes vector code of (lane_math_avx2.cpp, _sse2.cpp).
//
// Each kernel is written as plain loops over a chunk of lanes with no
// branch, which the compiler turns into vector code of the instruction set
// its file is compiled for: 4 doubles a vector for AVX2, 2 for SSE2. The
// approximations:
//  - sin, cos: x less q pi (cos: (q + 1/2) pi) in three parts, exact for
//    |x| <= 2^19, then one odd polynomial for sin on |r| <= pi/2, negated
//    by q's parity: no lane chooses between two polynomials;
//  - tan: x less k pi/2 in three parts, Taylor polynomials for sin and cos
//    on |r| <= pi/4, and their quotient;
//  - exp: x less k ln2 in two parts, a polynomial of the 9th degree on
//    |r| <= ln2/2, scaled by 2^k through its exponent bits;
//  - logn, log2, log10: x = 2^e * m with m in [sqrt(1/2), sqrt(2)), log m as
//    2 atanh(s), s = (m-1)/(m+1), |s| < 0.1716, to the 13th power of s;
//  - atan: 1/|x| above 1, then (u sqrt3 - 1)/(u + sqrt3) above tan(pi/12)
//    (adding pi/6), a polynomial of the 15th degree;
//  - the math set's: exp2 as exp after an exact reduction, sinh, cosh and
//    tanh from exp (series near 0), asin and acos through atan, cbrt by
//    Halley's steps, hypot as the root of the exact squares' sum, atan2
//    through atan, pow as exp(y ln x) with ln x as logn's (within 2^-51,
//    which keeps y ln x within 2^-44 of itself).
// The polynomials of sin, exp, log and atan are fitted to the function's
// relative error rather than cut from its series, which takes fewer terms
// for the same bound, and are evaluated in pairs of terms (pairs()), which
// shortens the chain of dependent steps. Each kernel is within 2^-43 of its
// function (tests/test_lane_math.cpp checks the approximations against the
// C library's doubles); the rounding test allows 2^-39, which leaves the C
// library's own function thousands of double ulps.
//
// A file that includes this may be compiled for AVX2, so it instantiates no
// template and defines no inline function of another header: the linker
// could keep that AVX2 copy for every caller, also on a processor without it.
#ifndef LANE_SET
#error "define LANE_SET, the namespace of one instruction set's kernels"
#endif

#include <cmath>
#include <cstring>

#include <xmmintrin.h>

namespace lp {

namespace LANE_SET {

namespace {

constexpr size_t kChunk = 64;
constexpr double kRound = 0x1.8p52; // adding it rounds a double below 2^51 to an integer

// The bits of V as another type of the same size, and back.
template <class To, class From>
inline To same_bits(From v) {
    static_assert(sizeof(To) == sizeof(From), "a type of the same size");
    To to;
    std::memcpy(&to, &v, sizeof to);
    return to;
}
inline uint64_t bits_of(double d) { return same_bits<uint64_t>(d); }
inline double double_of(uint64_t u) { return same_bits<double>(u); }
inline uint32_t bits_of(float f) { return same_bits<uint32_t>(f); }
inline float float_of(uint32_t u) { return same_bits<float>(u); }

// CONDITION ? A : B, both computed: a selection of vector lanes, since the
// file is compiled with -fno-trapping-math (no operation may trap, so the
// compiler need not keep an arm behind a branch).
inline double select(bool condition, double a, double b) { return condition ? a : b; }

// X where INSIDE, else 1, with no branch.
inline float or_one(bool inside, float x) {
    const uint32_t mask = 0u - static_cast<uint32_t>(inside);
    return float_of((bits_of(x) & mask) | (bits_of(1.0f) & ~mask));
}

// The ranges of the one-operand kernels are told from their widened
// inputs: a NaN is inside none, and under -fno-trapping-math no comparison
// keeps the compiler from vector code. The bounds are floats, so each range
// is the same set of floats its bounds in float bits would give.
constexpr double kMinNormal = 0x1p-126, kMaxFloat = 0x1.fffffep127, kBelowOne = 0x1.fffffep-1;
inline bool within(double x, double low, double high) {
    const bool above = x >= low, below = x <= high;
    return above & below;
}

// True when every value within 2^-39 of Y, relatively, rounds to the float
// Y rounds to (rounding is monotonic: the two ends decide). False for a NaN
// or an infinity.
inline bool rounds_alike(double y) {
    const double e = std::fabs(y) * 0x1p-39;
    return static_cast<float>(y - e) == static_cast<float>(y + e);
}

// c0 + c1 x + c2 x^2 + c3 x^3 of X and X2 = x^2, as two pairs (Estrin's
// scheme): the pairs are computed side by side, where Horner's rule would
// make one long chain of dependent steps, the time a kernel waits on.
inline double pairs(double x, double x2, double c0, double c1, double c2, double c3) {
    return (c0 + x * c1) + x2 * (c2 + x * c3);
}

// sin and cos of |r| <= pi/4 + a little.
inline double sin_poly(double r) {
    const double z = r * r;
    const double p =
        -1.0 / 6 +
        z * (1.0 / 120 +
             z * (-1.0 / 5040 +
                  z * (1.0 / 362880 + z * (-1.0 / 39916800 + z * (1.0 / 6227020800 + z * (-1.0 / 1307674368000))))));
    return r + r * z * p;
}
inline double cos_poly(double r) {
    const double z = r * r;
    const double p =
        -0.5 +
        z * (1.0 / 24 +
             z * (-1.0 / 720 +
                  z * (1.0 / 40320 +
                       z * (-1.0 / 3628800 +
                            z * (1.0 / 479001600 + z * (-1.0 / 87178291200.0 + z * (1.0 / 20922789888000.0)))))));
    return 1.0 + z * p;
}

// sin r for |r| <= pi/2 + a little: r + r^3 P(r^2), P fitted to sin's
// relative error (near minimax, within 2^-47 of sin r).
inline double sin_half_pi(double r) {
    const double z = r * r, z2 = z * z;
    const double p = pairs(z, z2, -0.1666666666665945, 0.008333333332808383, -0.0001984126971513686,
                           2.7557304933449687e-06) +
                     z2 * z2 * ((-2.5051248672691706e-08 + z * 1.6031105262714895e-10) + z2 * -7.192848747172853e-13);
    return r + r * z * p;
}

// V, negated where the lowest bit of BITS is set.
inline double negated_where(double v, uint64_t bits) { return double_of(bits_of(v) ^ (bits << 63)); }

// x = k pi/2 + r: r, and k mod 4 as a double.
struct Reduced {
    double r, quadrant;
};
inline Reduced reduce_half_pi(double x) {
    constexpr double kTwoOverPi = 6.36619772367581382433e-01;
    constexpr double kP1 = 1.57079632673412561417e+00;  // 33 bits
    constexpr double kP2 = 6.07710050630396597660e-11;  // 33 bits
    constexpr double kP2t = 2.02226624879595063154e-21; // pi/2 - kP1 - kP2
    const double k = (x * kTwoOverPi + kRound) - kRound;
    const double r = ((x - k * kP1) - k * kP2) - k * kP2t;
    // floor(k / 4): k / 4 - 3/8 lies within 3/8 of it, so rounds to it.
    const double fourths = ((k * 0.25 - 0.375) + kRound) - kRound;
    return Reduced{r, k - 4.0 * fourths};
}
// Normal (a zero's sign a polynomial may lose, and a subnormal reads as
// zero where the caller has denormals-are-zero set), |x| <= 2^19.
inline bool trig_domain(double x) { return within(std::fabs(x), kMinNormal, 0x1p19); }

// pi in three parts, each of the first two with 33 bits, so its product
// with an integer or half an integer below 2^18.5 is exact.
constexpr double kPi1 = 2 * 1.57079632673412561417e+00, kPi2 = 2 * 6.07710050630396597660e-11,
                 kPi3 = 2 * 2.02226624879595063154e-21;
constexpr double kOneOverPi = 3.18309886183790671538e-01;
// sin x = (-1)^q sin r of x = q pi + r; cos x = -(-1)^q sin r of
// x = (q + 1/2) pi + r. |r| <= pi/2 either way, and q's parity is the
// lowest bit of t = q + kRound.
// Each as r and t: the sign of sin r is to be turned where the lowest bit
// of t's bits is set (sin) or clear (cos).
struct HalfTurns {
    double r, t;
};
inline HalfTurns sin_turns(double x) {
    const double t = x * kOneOverPi + kRound;
    const double q = t - kRound;
    return HalfTurns{((x - q * kPi1) - q * kPi2) - q * kPi3, t};
}
inline HalfTurns cos_turns(double x) {
    const double t = (x * kOneOverPi - 0.5) + kRound;
    const double h = (t - kRound) + 0.5;
    return HalfTurns{((x - h * kPi1) - h * kPi2) - h * kPi3, t};
}
inline double sin_approx(double x) {
    const HalfTurns d = sin_turns(x);
    return negated_where(sin_half_pi(d.r), bits_of(d.t));
}
inline double cos_approx(double x) {
    const HalfTurns d = cos_turns(x);
    return negated_where(sin_half_pi(d.r), ~bits_of(d.t));
}
// Conditions are joined with | rather than ||, which would branch.
inline double tan_approx(double x) {
    const Reduced d = reduce_half_pi(x);
    const double s = sin_poly(d.r), c = cos_poly(d.r);
    return select((d.quadrant == 0.0) | (d.quadrant == 2.0), s / c, -c / s);
}

// Results from subnormal floats to overflow: x in [-104, 89]. Subnormal
// arguments, whose exp is 1 whether or not they read as zero, too.
inline bool exp_domain(double x) { return within(x, -104.0, 89.0); }
// e^r for |r| <= ln2/2 + a little: 1 + r + r^2 Q(r), Q fitted to e^r's
// relative error (within 2^-45 of e^r).
inline double exp_poly(double r) {
    const double r2 = r * r;
    const double q = pairs(r, r2, 0.49999999999664024, 0.16666666667265587, 0.04166666696244839,
                           0.008333333095019976) +
                     r2 * r2 *
                         pairs(r, r2, 0.0013888811108754206, 0.0001984153907396242, 2.488082809477604e-05,
                               2.7493113497320716e-06);
    return 1.0 + (r + r2 * q);
}
// 2^k for the integer k that T holds as k + kRound.
inline double power_of_two(double t) { return double_of((bits_of(t) - bits_of(kRound) + 1023) << 52); }
constexpr double kLn2Hi = 6.93147180369123816490e-01; // 32 bits
constexpr double kLn2Lo = 1.90821492927058770002e-10;
inline double exp_approx(double x) {
    constexpr double kLog2e = 1.44269504088896338700e+00;
    const double t = x * kLog2e + kRound;
    const double k = t - kRound;
    const double r = (x - k * kLn2Hi) - k * kLn2Lo;
    return exp_poly(r) * power_of_two(t);
}

// 2^x of x in [-149, 127]: zeros and subnormals too, whose 2^x is 1.
inline bool exp2_domain(double x) { return within(x, -149.0, 127.0); }
// x = k + r with r exact (x is a float), then e^(r ln2) scaled by 2^k.
inline double exp2_approx(double x) {
    constexpr double kLn2 = 6.93147180559945286227e-01;
    const double t = x + kRound;
    const double r = x - (t - kRound);
    return exp_poly(r * kLn2) * power_of_two(t);
}

// |x| up to 89 (and for sinh and tanh normal, a zero's sign kept by the
// scalar routine); tanh is 1 to the float from 9.01 on, so it stops at 16.
inline bool sinh_domain(double x) { return within(std::fabs(x), kMinNormal, 89.0); }
inline bool cosh_domain(double x) { return within(std::fabs(x), 0.0, 89.0); }
inline bool tanh_domain(double x) { return within(std::fabs(x), kMinNormal, 16.0); }
// Below 1 the series, whose terms after x^17 are below 2^-56 of x; above,
// (e^x - e^-x)/2 loses at most a third of a bit to the difference.
inline double sinh_approx(double x) {
    const double a = std::fabs(x), z = a * a;
    const double series =
        a + a * z *
                (1.0 / 6 +
                 z * (1.0 / 120 +
                      z * (1.0 / 5040 +
                           z * (1.0 / 362880 +
                                z * (1.0 / 39916800 +
                                     z * (1.0 / 6227020800.0 + z * (1.0 / 1307674368000.0 + z * (1.0 / 355687428096000.0))))))));
    const double e = exp_approx(a);
    return std::copysign(select(a < 1.0, series, 0.5 * e - 0.5 / e), x);
}
inline double cosh_approx(double x) {
    const double e = exp_approx(std::fabs(x));
    return 0.5 * e + 0.5 / e;
}
// e^u - 1 of u = 2|x|, by its series below ln2/2 (where e^u - 1 would lose
// bits to the difference) and from e^u above; tanh is that over itself + 2.
inline double tanh_approx(double x) {
    const double u = 2.0 * std::fabs(x);
    const double series =
        u + u * u *
                (1.0 / 2 +
                 u * (1.0 / 6 +
                      u * (1.0 / 24 +
                           u * (1.0 / 120 +
                                u * (1.0 / 720 +
                                     u * (1.0 / 5040 +
                                          u * (1.0 / 40320 +
                                               u * (1.0 / 362880 +
                                                    u * (1.0 / 3628800 +
                                                         u * (1.0 / 39916800 +
                                                              u * (1.0 / 479001600 + u * (1.0 / 6227020800.0))))))))))));
    const double m = select(u < 0.34657359027997264, series, exp_approx(u) - 1.0);
    return std::copysign(m / (m + 2.0), x);
}

// Positive normal floats.
inline bool log_domain(double x) { return within(x, kMinNormal, kMaxFloat); }
// x = 2^e m: e, and log m.
struct LogParts {
    double e, log_m;
};
// The biased exponent of a double X >= 0 as a double (an integer below 2^51
// added to kRound's bits: no 64-bit integer conversion, which SSE2 lacks).
inline double biased_exponent(double x) { return double_of(bits_of(kRound) + (bits_of(x) >> 52)) - kRound; }
// The significand of a double X >= 0, in [1, 2).
inline double significand(double x) {
    return double_of((bits_of(x) & 0x000fffffffffffffu) | 0x3ff0000000000000u);
}
// x >= 0 as 2^e m, m in [sqrt(1/2), sqrt(2)), with integer steps on its
// bits and no choice: adding the distance from sqrt(1/2)'s bits to 1's
// carries into the exponent exactly where the significand reaches sqrt(2).
inline LogParts log_parts(double x) {
    constexpr uint64_t kHalfRoot = 0x3fe6a09e667f3bcdu; // sqrt(1/2)
    const uint64_t t = bits_of(x) + (bits_of(1.0) - kHalfRoot);
    const double e = double_of(bits_of(kRound) + (t >> 52)) - (kRound + 1023.0);
    const double m = double_of((t & 0x000fffffffffffffu) + kHalfRoot);
    const double f = m - 1.0;
    const double s = f / (2.0 + f);
    const double z = s * s, z2 = z * z;
    const double p = pairs(z, z2, 0.3333333333329341, 0.2000000002625849, 0.14285708543742973, 0.11111687424984605) +
                     z2 * z2 * (0.0906176800689203 + z * 0.08410572842767539);
    return LogParts{e, 2.0 * s + 2.0 * s * z * p};
}
inline double logn_approx(double x) {
    const LogParts l = log_parts(x);
    return l.e * kLn2Hi + (l.log_m + l.e * kLn2Lo);
}
inline double log2_approx(double x) {
    const LogParts l = log_parts(x);
    return l.e + l.log_m * 1.44269504088896338700e+00;
}
inline double log10_approx(double x) {
    const LogParts l = log_parts(x);
    return (l.e * kLn2Hi + (l.log_m + l.e * kLn2Lo)) * 4.34294481903251816668e-01;
}

// Normal and finite.
inline bool atan_domain(double x) { return within(std::fabs(x), kMinNormal, kMaxFloat); }
inline double atan_approx(double x) {
    constexpr double kSqrt3 = 1.73205080756887719318e+00;
    constexpr double kTanPi12 = 2.67949192431122695608e-01;
    constexpr double kPi6 = 5.23598775598298815659e-01;
    constexpr double kPi2 = 1.57079632679489655800e+00;
    const double t = std::fabs(x);
    const bool inverted = t > 1.0;
    const double u = select(inverted, 1.0 / t, t);
    const bool shifted = u > kTanPi12;
    const double v = select(shifted, (u * kSqrt3 - 1.0) / (u + kSqrt3), u);
    const double w = v * v, w2 = w * w;
    const double p = pairs(w, w2, -0.3333333333321503, 0.19999999957598985, -0.14285709141327863,
                           0.11110814465149675) +
                     w2 * w2 * ((-0.09081716986683501 + w * 0.07534211475642631) + w2 * -0.052217489319588715);
    const double a = v + v * w * p;
    const double b = select(shifted, kPi6 + a, a);
    return std::copysign(select(inverted, kPi2 - b, b), x);
}

// |x| < 1, and normal for asin (acos of a zero or subnormal is pi/2).
inline bool asin_domain(double x) { return within(std::fabs(x), kMinNormal, kBelowOne); }
inline bool acos_domain(double x) { return within(std::fabs(x), 0.0, kBelowOne); }
// Through atan, whose argument loses no bits: 1 - x and 1 + x of a float
// are exact or within half a double ulp, and atan's condition is below 1.
inline double asin_approx(double x) { return atan_approx(x / std::sqrt((1.0 - x) * (1.0 + x))); }
inline double acos_approx(double x) { return 2.0 * atan_approx(std::sqrt((1.0 - x) / (1.0 + x))); }

// Normal and finite.
inline bool cbrt_domain(double x) { return atan_domain(x); }
// x = 2^(3q + r) m: 2^q times the cube root of 2^r m in [1, 8), from a
// cubic within 1.8% by three of Halley's steps, each of which cubes the
// error (to 2^-17, then far below a double ulp).
inline double cbrt_approx(double x) {
    const double biased = biased_exponent(std::fabs(x)) - 894.0;         // e + 129, in [3, 256]
    const double q = ((biased * (1.0 / 3) - 1.0 / 3) + kRound) - kRound; // floor(biased / 3)
    const double r = biased - 3.0 * q;
    const double m = significand(std::fabs(x));
    const double a = m * select(r == 0.0, 1.0, select(r == 1.0, 2.0, 4.0));
    double y = 0.72148223 + a * (0.32888628 + a * (-0.03472374 + a * 0.00171362));
    for (int step = 0; step < 3; ++step) {
        const double y3 = y * y * y;
        y = y * (y3 + 2.0 * a) / (2.0 * y3 + a);
    }
    return std::copysign(y * power_of_two(q - 43.0 + kRound), x);
}

// Two operands: finite, each zero or normal, for hypot; normal for atan2.
inline bool zero_or_normal(float x) {
    const uint32_t magnitude = bits_of(x) & 0x7fffffffu;
    return (magnitude == 0) | ((magnitude >= 0x00800000u) & (magnitude < 0x7f800000u));
}
// (Both tested, joined with &: no branch.)
inline bool hypot_domain(float x, float y) {
    const bool first = zero_or_normal(x), second = zero_or_normal(y);
    return first & second;
}
inline bool normal(float x) {
    const uint32_t magnitude = bits_of(x) & 0x7fffffffu;
    return (magnitude >= 0x00800000u) & (magnitude < 0x7f800000u);
}
inline bool atan2_domain(float y, float x) {
    const bool first = normal(y), second = normal(x);
    return first & second;
}
// The squares of floats are exact in double, their sum within half an ulp,
// and the root rounded once.
inline double hypot_approx(double x, double y) { return std::sqrt(x * x + y * y); }
// atan of |y/x| (within half an ulp), from pi where x < 0, signed as y.
inline double atan2_approx(double y, double x) {
    constexpr double kPi = 3.14159265358979311600e+00;
    const double a = atan_approx(std::fabs(y) / std::fabs(x));
    return std::copysign(select(x < 0.0, kPi - a, a), y);
}
// pow: x positive normal, y zero or normal, and |y log2 x| <= 126 told from
// x's exponent e (|log2 x| <= |e| + 1), so the result is a normal float.
inline bool pow_domain(float x, float y) {
    const uint32_t b = bits_of(x);
    const bool y_inside = zero_or_normal(y);
    const bool inside = (b >= 0x00800000u) & (b < 0x7f800000u) & y_inside;
    const int32_t e = static_cast<int32_t>(b >> 23) - 127;
    const float bound = static_cast<float>((e < 0 ? -e : e) + 1);
    const float ys = std::fabs(or_one(inside, y));
    return inside & (ys * bound <= 126.0f);
}
// e^(y ln x): ln x within 2^-51 of itself (its parts as logn's), the
// product within 2^-50, so e^(y ln x) within 2^-43 for |y ln x| <= 88.
inline double pow_approx(double x, double y) {
    const LogParts l = log_parts(x);
    return exp_approx(y * (l.e * kLn2Hi + (l.log_m + l.e * kLn2Lo)));
}

// True when every one of the M lanes is kept, as nearly every time: a loop
// with no branch, where the fix-up's has one per lane.
inline bool all_kept(const unsigned char *keep, size_t m) {
    unsigned char all = 1;
    for (size_t i = 0; i < m; ++i) all &= keep[i];
    return all != 0;
}

// True when the caller rounds to nearest, as the kernels' reductions and
// rounding test need: under another rounding mode (MXCSR bits 13-14) every
// lane goes to the scalar routine, which rounds as the caller asked.
inline bool rounding_to_nearest() { return (_mm_getcsr() & 0x6000u) == 0; }

// The lanes of a chunk not kept, recomputed by FALLBACK from their exact
// doubles (a float widened and narrowed again is itself; a NaN is quieted,
// as the routine's own widening does), and counted.
template <bool (*Domain)(double)>
void fix_up(const double *wide, const double *y, float *out, size_t m, UnaryRoutine fallback) {
    uint64_t sent = 0, rounding = 0;
    for (size_t i = 0; i < m; ++i) {
        const bool inside = Domain(wide[i]);
        if (!inside || !rounds_alike(y[i])) {
            out[i] = fallback(static_cast<float>(wide[i]));
            sent += 1;
            rounding += inside;
        }
    }
    if (sent != 0) count_fallbacks(sent, rounding);
}

// M lanes of IN: APPROX and DOMAIN give each lane's double value and
// whether it may be kept; the others go to FALLBACK. Each loop is one the
// compiler makes vector code of; the last writes every lane and tells
// whether any is to be recomputed, which nearly never happens.
// OUT may be IN: every input is read before the first output is written.
template <double (*Approx)(double), bool (*Domain)(double)>
inline void chunk(const float *in, float *out, size_t m, UnaryRoutine fallback) {
    double wide[kChunk], y[kChunk];
    // Widened in a loop of its own: one whose doubles stand beside floats
    // is vector code for AVX2 but not for SSE2.
    for (size_t i = 0; i < m; ++i) wide[i] = static_cast<double>(in[i]);
    for (size_t i = 0; i < m; ++i) y[i] = Approx(wide[i]);
    uint32_t rejected = 0;
    for (size_t i = 0; i < m; ++i) {
        out[i] = static_cast<float>(y[i]);
        const bool inside = Domain(wide[i]), alike = rounds_alike(y[i]);
        rejected |= static_cast<uint32_t>(!(inside & alike));
    }
    if (rejected != 0) fix_up<Domain>(wide, y, out, m, fallback);
}
// The lanes of IN, a chunk at a time; under a rounding mode other than to
// nearest, which the reductions and the rounding test assume, all by
// FALLBACK, which rounds as the caller asked.
template <double (*Approx)(double), bool (*Domain)(double)>
void lanes_of(const float *in, float *out, size_t n, UnaryRoutine fallback) {
    if (!rounding_to_nearest()) {
        for (size_t i = 0; i < n; ++i) out[i] = fallback(in[i]);
        count_fallbacks(n, 0);
        return;
    }
    for (size_t base = 0; base < n; base += kChunk)
        chunk<Approx, Domain>(in + base, out + base, n - base < kChunk ? n - base : kChunk, fallback);
}
// The two-operand kernels' lanes, as chunk and lanes_of.
template <double (*Approx)(double, double), bool (*Domain)(float, float)>
inline void chunk2(const float *in_a, const float *in_b, float *out, size_t m, bool nearest, BinaryRoutine fallback) {
    float a[kChunk], b[kChunk];
    double wide_a[kChunk], wide_b[kChunk], y[kChunk];
    unsigned char inside[kChunk], keep[kChunk];
    for (size_t i = 0; i < m; ++i) a[i] = in_a[i];
    for (size_t i = 0; i < m; ++i) b[i] = in_b[i];
    for (size_t i = 0; i < m; ++i) inside[i] = Domain(a[i], b[i]) & nearest;
    // Lanes outside the range are computed at (1, 1), inside every range:
    // their value is replaced, and a NaN or an infinity is better not met.
    for (size_t i = 0; i < m; ++i) wide_a[i] = static_cast<double>(or_one(inside[i], a[i]));
    for (size_t i = 0; i < m; ++i) wide_b[i] = static_cast<double>(or_one(inside[i], b[i]));
    for (size_t i = 0; i < m; ++i) y[i] = Approx(wide_a[i], wide_b[i]);
    for (size_t i = 0; i < m; ++i) keep[i] = inside[i] & rounds_alike(y[i]);
    for (size_t i = 0; i < m; ++i) out[i] = static_cast<float>(y[i]);
    if (all_kept(keep, m)) return;
    uint64_t sent = 0, rounding = 0;
    for (size_t i = 0; i < m; ++i) {
        if (keep[i] == 0) {
            out[i] = fallback(a[i], b[i]);
            sent += 1;
            rounding += inside[i];
        }
    }
    if (sent != 0) count_fallbacks(sent, rounding);
}
template <double (*Approx)(double, double), bool (*Domain)(float, float)>
void lanes_of2(const float *a, const float *b, float *out, size_t n, BinaryRoutine fallback) {
    const bool nearest = rounding_to_nearest();
    for (size_t base = 0; base < n; base += kChunk)
        chunk2<Approx, Domain>(a + base, b + base, out + base, n - base < kChunk ? n - base : kChunk, nearest,
                               fallback);
}
} // namespace

LaneKernel kernel_for(int32_t op) {
    switch (op) {
    case OP_COS: return lanes_of<cos_approx, trig_domain>;
    case OP_SIN: return lanes_of<sin_approx, trig_domain>;
    case OP_TAN: return lanes_of<tan_approx, trig_domain>;
    case OP_ATAN: return lanes_of<atan_approx, atan_domain>;
    case OP_EXP: return lanes_of<exp_approx, exp_domain>;
    case OP_LOGN: return lanes_of<logn_approx, log_domain>;
    case OP_LOG2: return lanes_of<log2_approx, log_domain>;
    case OP_LOG10: return lanes_of<log10_approx, log_domain>;
    default: return nullptr;
    }
}

LaneKernel kernel_for(LaneForm form) {
    switch (form) {
    case LaneForm::CBRT: return lanes_of<cbrt_approx, cbrt_domain>;
    case LaneForm::ASIN: return lanes_of<asin_approx, asin_domain>;
    case LaneForm::ACOS: return lanes_of<acos_approx, acos_domain>;
    case LaneForm::SINH: return lanes_of<sinh_approx, sinh_domain>;
    case LaneForm::COSH: return lanes_of<cosh_approx, cosh_domain>;
    case LaneForm::TANH: return lanes_of<tanh_approx, tanh_domain>;
    case LaneForm::EXP2: return lanes_of<exp2_approx, exp2_domain>;
    default: return nullptr;
    }
}

LaneKernel2 kernel2_for(LaneForm form) {
    switch (form) {
    case LaneForm::POW: return lanes_of2<pow_approx, pow_domain>;
    case LaneForm::HYPOT: return lanes_of2<hypot_approx, hypot_domain>;
    case LaneForm::ATAN2: return lanes_of2<atan2_approx, atan2_domain>;
    default: return nullptr;
    }
}

} // namespace LANE_SET

} // namespace lp
