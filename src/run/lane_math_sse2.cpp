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

// One value through a kernel: the approximation and the rounding test of
// its lanes, in the same double operations in the same order, so the same
// float wherever a lane would keep its value. False for a value the
// operation's own routine is to compute.
template <double (*Approx)(double), bool (*Domain)(double)>
bool by_kernel(float x, float *value) {
    const double w = static_cast<double>(x);
    if (!sums_round_to_nearest() || !Domain(w)) return false;
    const double y = Approx(w);
    *value = static_cast<float>(y);
    return rounds_alike(y);
}
// The language's operation OP, and the math set's function of FORM.
template <double (*Approx)(double), bool (*Domain)(double), int32_t Op>
float operation_lane(float x) {
    float value;
    return by_kernel<Approx, Domain>(x, &value) ? value : kind_of(Op).unary(x);
}
template <double (*Approx)(double), bool (*Domain)(double), LaneForm Form>
float form_lane(float x) {
    float value;
    return by_kernel<Approx, Domain>(x, &value) ? value : form_kernels(Form).unary(x);
}

} // namespace

UnaryRoutine routine_for(int32_t op) {
    switch (op) {
    case OP_COS: return operation_lane<cos_one_lane, trig_domain, OP_COS>;
    case OP_SIN: return operation_lane<sin_one_lane, trig_domain, OP_SIN>;
    case OP_LOG10: return operation_lane<log10_approx, log_domain, OP_LOG10>;
    case OP_TAN: return operation_lane<tan_approx, trig_domain, OP_TAN>;
    default: return nullptr;
    }
}

UnaryRoutine routine_for(LaneForm form) {
    switch (form) {
    case LaneForm::SINH: return form_lane<sinh_approx, sinh_domain, LaneForm::SINH>;
    case LaneForm::TANH: return form_lane<tanh_approx, tanh_domain, LaneForm::TANH>;
    default: return nullptr;
    }
}

} // namespace lanes_sse2

} // namespace lp
