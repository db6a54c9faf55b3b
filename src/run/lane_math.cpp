// lane_math.cpp - which kernel serves an operation on this processor, and the count of lanes sent back to the scalar routine.
#include "run/lane_math.h"

#include "tree/double_functions.h"

namespace lp {

thread_local uint64_t lane_fallback_count = 0, lane_rounding_count = 0;

#if LIB_PARSE_LANES_X86
namespace lanes_avx2 {
LaneKernel kernel_for(int32_t op);
LaneKernel kernel_for(LaneForm form);
LaneKernel2 kernel2_for(LaneForm form);
} // namespace lanes_avx2
namespace lanes_sse2 {
LaneKernel kernel_for(int32_t op);
UnaryRoutine routine_for(int32_t op);
UnaryRoutine routine_for(LaneForm form);
LaneKernel kernel_for(LaneForm form);
LaneKernel2 kernel2_for(LaneForm form);
} // namespace lanes_sse2
namespace {
bool processor_has_avx2() {
    __builtin_cpu_init(); // this runs before the constructors that would set it up
    return __builtin_cpu_supports("avx2");
}
} // namespace
thread_local bool lane_math_avx2 = processor_has_avx2();
#else
thread_local bool lane_math_avx2 = false;
#endif

namespace {

template <double (*F)(double)>
float widened(float x) {
    return static_cast<float>(F(static_cast<double>(x)));
}
template <double (*F)(double, double)>
float widened(float x, float y) {
    return static_cast<float>(F(static_cast<double>(x), static_cast<double>(y)));
}
} // namespace

LaneKernel lane_kernel(int32_t op) {
#if LIB_PARSE_LANES_X86
    return lane_math_avx2 ? lanes_avx2::kernel_for(op) : lanes_sse2::kernel_for(op);
#else
    (void)op;
    return nullptr;
#endif
}

UnaryRoutine lane_routine(int32_t op) {
#if LIB_PARSE_LANES_X86
    if (const UnaryRoutine one = lanes_sse2::routine_for(op)) return one;
#endif
    return kind_of(op).unary;
}

UnaryRoutine lane_routine(LaneForm form) {
#if LIB_PARSE_LANES_X86
    return lanes_sse2::routine_for(form);
#else
    (void)form;
    return nullptr;
#endif
}

FormKernels form_kernels(LaneForm form) {
    FormKernels k{nullptr, nullptr, nullptr, nullptr};
    switch (form) {
    case LaneForm::CALL:
    case LaneForm::SQRT:
    case LaneForm::LT:
    case LaneForm::LE:
    case LaneForm::GT:
    case LaneForm::GE:
    case LaneForm::EQ:
    case LaneForm::NE: return k; // no kernel: one instruction, or a call
    case LaneForm::CBRT: k.unary = widened<cbrt_d>; break;
    case LaneForm::ASIN: k.unary = widened<asin_d>; break;
    case LaneForm::ACOS: k.unary = widened<acos_d>; break;
    case LaneForm::SINH: k.unary = widened<sinh_d>; break;
    case LaneForm::COSH: k.unary = widened<cosh_d>; break;
    case LaneForm::TANH: k.unary = widened<tanh_d>; break;
    case LaneForm::EXP2: k.unary = widened<exp2_d>; break;
    case LaneForm::POW: k.binary = widened<pow_d>; break;
    case LaneForm::HYPOT: k.binary = widened<hypot_d>; break;
    case LaneForm::ATAN2: k.binary = widened<atan2_d>; break;
    }
#if LIB_PARSE_LANES_X86
    k.one = lane_math_avx2 ? lanes_avx2::kernel_for(form) : lanes_sse2::kernel_for(form);
    k.two = lane_math_avx2 ? lanes_avx2::kernel2_for(form) : lanes_sse2::kernel2_for(form);
#endif
    return k;
}

void count_fallbacks(uint64_t sent, uint64_t rounding) {
    lane_fallback_count += sent;
    lane_rounding_count += rounding;
}

uint64_t lane_fallbacks() { return lane_fallback_count; }
uint64_t lane_rounding_fallbacks() { return lane_rounding_count; }

} // namespace lp
