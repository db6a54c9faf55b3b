// lane_math.cpp - which kernel serves an operation on this processor, and the count of lanes sent back to the scalar routine.
#include "run/lane_math.h"

#include <atomic>

namespace lp {

std::atomic<uint64_t> lane_fallback_count{0}, lane_rounding_count{0};

#if LIB_PARSE_LANES_AVX2
namespace lanes_avx2 {
LaneKernel kernel_for(int32_t op);
}
#endif

// Only AVX2 has the kernels: compiled for SSE2 alone, the compiler makes
// vector code of too few of their loops (it has no 64-bit lane selection),
// and the scalar routine is as fast.
LaneKernel lane_kernel(int32_t op, bool avx2) {
#if LIB_PARSE_LANES_AVX2
    if (avx2 && __builtin_cpu_supports("avx2")) return lanes_avx2::kernel_for(op);
#else
    (void)op;
    (void)avx2;
#endif
    return nullptr;
}

LaneKernel lane_kernel(int32_t op) {
#if LIB_PARSE_LANES_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return lane_kernel(op, avx2);
#else
    return lane_kernel(op, false);
#endif
}

void count_fallbacks(uint64_t sent, uint64_t rounding) {
    lane_fallback_count.fetch_add(sent, std::memory_order_relaxed);
    lane_rounding_count.fetch_add(rounding, std::memory_order_relaxed);
}

uint64_t lane_fallbacks() { return lane_fallback_count.load(std::memory_order_relaxed); }
uint64_t lane_rounding_fallbacks() { return lane_rounding_count.load(std::memory_order_relaxed); }

} // namespace lp
