// lane_math_sse2.cpp - the lane kernels compiled for SSE2, which every x86-64 processor has: the choice where AVX2 is missing; and the one-lane kernels.
#include "run/lane_math.h"
#include "tree/operation_table.h"

#include <emmintrin.h>

#define LANE_SET lanes_sse2
#include "run/lane_math_kernels.h"

namespace lp {

namespace lanes_sse2 {

namespace {

// Whether the caller rounds to nearest, told by two sums that round
// otherwise under every other mode (1 + tiny up, -1 - tiny down), made side
// by side in one vector: cheaper than reading MXCSR, which costs a one-lane
// call a third of its time. The empty asm keeps the compiler from folding
// the sums under its own assumption of rounding to nearest.
inline bool sums_round_to_nearest() {
    __m128d tiny = _mm_set_pd(-0x1.8p-53, 0x1.8p-53);
    asm("" : "+x"(tiny));
    const __m128d sums = _mm_add_pd(_mm_set_pd(-1.0, 1.0), tiny);
    return _mm_movemask_pd(_mm_cmpeq_pd(sums, _mm_set_pd(-1.0 - 0x1p-52, 1.0 + 0x1p-52))) == 3;
}

// sin and cos for one value: the lanes' value, its sign turned in the
// register it is in (the lowest bit of t shifted to the sign's place),
// where the lanes' way moves it to an integer register and back, on the
// chain of dependent steps a lone value waits on.
template <HalfTurns (*Turns)(double), bool WhereClear>
double turned_one_lane(double x) {
    const HalfTurns d = Turns(x);
    __m128d sign = _mm_castsi128_pd(_mm_slli_epi64(_mm_castpd_si128(_mm_set_sd(d.t)), 63));
    if (WhereClear) sign = _mm_xor_pd(sign, _mm_set_sd(-0.0));
    return _mm_cvtsd_f64(_mm_xor_pd(_mm_set_sd(sin_half_pi(d.r)), sign));
}

// A kernel's range (trig_domain, log_domain, sinh_domain and tanh_domain in
// lane_math_kernels.h) told from the float's bits: the same floats, in one
// unsigned comparison where the widened value takes two. LOW and HIGH are
// the bits of the range's ends, MAGNITUDE whether the range is of |x| (else
// negative values lie outside it).
template <uint32_t Low, uint32_t High, bool Magnitude>
bool in_range(float x) {
    const uint32_t b = Magnitude ? bits_of(x) & 0x7fffffffu : bits_of(x);
    return b - Low <= High - Low;
}
constexpr uint32_t power_of_two_bits(int e) { return static_cast<uint32_t>(127 + e) << 23; }
constexpr uint32_t kMinNormalBits = power_of_two_bits(-126), kMaxFloatBits = 0x7f7fffffu;
constexpr uint32_t k89Bits = 0x42b20000u; // 89.0f: 1.390625 * 2^6
using FloatRange = bool (*)(float);
constexpr FloatRange kTrigRange = in_range<kMinNormalBits, power_of_two_bits(19), true>;
constexpr FloatRange kLogRange = in_range<kMinNormalBits, kMaxFloatBits, false>;
constexpr FloatRange kSinhRange = in_range<kMinNormalBits, k89Bits, true>;
constexpr FloatRange kTanhRange = in_range<kMinNormalBits, power_of_two_bits(4), true>;

// rounds_alike from the bits of Y, whose float is normal or 0 (as each
// one-lane kernel's value is over its range): the 29 bits the float drops
// lie more than 2^14 of their units away from half the float's last bit,
// where rounding turns, and 2^-39 of Y is less than 2^14 of them. It keeps
// fewer values than the lanes' test, never one that test sends back, in one
// integer comparison where that test rounds twice.
inline bool rounds_alike_one_lane(double y) {
    constexpr uint64_t kDropped = (uint64_t{1} << 29) - 1, kHalf = uint64_t{1} << 28, kMargin = 1u << 14;
    return ((bits_of(y) - (kHalf - kMargin)) & kDropped) > 2 * kMargin;
}

// One value through a kernel: the approximation of its lanes, in the same
// double operations in the same order, so the same float wherever the
// rounding test keeps it. False for a value the operation's own routine is
// to compute.
template <double (*Approx)(double), bool (*Range)(float)>
bool by_kernel(float x, float *value) {
    if (!sums_round_to_nearest() || !Range(x)) return false;
    const double y = Approx(static_cast<double>(x));
    *value = static_cast<float>(y);
    return rounds_alike_one_lane(y);
}
// The language's operation OP, and the math set's function of FORM.
template <double (*Approx)(double), bool (*Range)(float), int32_t Op>
float operation_lane(float x) {
    float value;
    return by_kernel<Approx, Range>(x, &value) ? value : kind_of(Op).unary(x);
}
template <double (*Approx)(double), bool (*Range)(float), LaneForm Form>
float form_lane(float x) {
    float value;
    return by_kernel<Approx, Range>(x, &value) ? value : form_kernels(Form).unary(x);
}

} // namespace

UnaryRoutine routine_for(int32_t op) {
    switch (op) {
    case OP_COS: return operation_lane<turned_one_lane<cos_turns, true>, kTrigRange, OP_COS>;
    case OP_SIN: return operation_lane<turned_one_lane<sin_turns, false>, kTrigRange, OP_SIN>;
    case OP_LOG10: return operation_lane<log10_approx, kLogRange, OP_LOG10>;
    case OP_TAN: return operation_lane<tan_approx, kTrigRange, OP_TAN>;
    default: return nullptr;
    }
}

UnaryRoutine routine_for(LaneForm form) {
    switch (form) {
    case LaneForm::SINH: return form_lane<sinh_approx, kSinhRange, LaneForm::SINH>;
    case LaneForm::TANH: return form_lane<tanh_approx, kTanhRange, LaneForm::TANH>;
    default: return nullptr;
    }
}

} // namespace lanes_sse2

} // namespace lp
