// lane_math_sse2.cpp - the lane kernels compiled for SSE2, which every x86-64 processor has: the choice where AVX2 is missing; and the one-lane kernels.
#include "run/lane_math.h"
#include "tree/operation_table.h"

#define LANE_SET lanes_sse2
#include "run/lane_math_kernels.h"

namespace lp {

namespace lanes_sse2 {

namespace {

// One value through a kernel: the approximation and the rounding test of
// its lanes, in the same double operations in the same order, so the same
// float wherever a lane would keep its value; else the C library's F, as
// the operation's own routine computes it.
// Whether the caller rounds to nearest, told by two sums that round
// otherwise under every other mode: cheaper than reading MXCSR, which costs
// a one-lane call a third of its time. The empty asm keeps the compiler
// from folding the sums under its own assumption of rounding to nearest.
inline bool sums_round_to_nearest() {
    double tiny = 0x1.8p-53;
    asm("" : "+x"(tiny));
    const bool up = 1.0 + tiny == 1.0 + 0x1p-52, down = -1.0 - tiny == -1.0 - 0x1p-52;
    return up & down;
}

template <double (*Approx)(double), bool (*Domain)(double), double (*F)(double)>
float one_lane(float x) {
    const double w = static_cast<double>(x);
    if (sums_round_to_nearest() && Domain(w)) {
        const double y = Approx(w);
        if (rounds_alike(y)) return static_cast<float>(y);
    }
    return static_cast<float>(F(w));
}

double c_cos(double x) { return std::cos(x); }
double c_sin(double x) { return std::sin(x); }
double c_sinh(double x) { return std::sinh(x); }
double c_tanh(double x) { return std::tanh(x); }

} // namespace

UnaryRoutine routine_for(int32_t op) {
    switch (op) {
    case OP_COS: return one_lane<cos_approx, trig_domain, c_cos>;
    case OP_SIN: return one_lane<sin_approx, trig_domain, c_sin>;
    default: return nullptr;
    }
}

UnaryRoutine routine_for(LaneForm form) {
    switch (form) {
    case LaneForm::SINH: return one_lane<sinh_approx, sinh_domain, c_sinh>;
    case LaneForm::TANH: return one_lane<tanh_approx, tanh_domain, c_tanh>;
    default: return nullptr;
    }
}

} // namespace lanes_sse2

} // namespace lp
