// lane_math_sse2.cpp - the lane kernels compiled for SSE2, which every x86-64 processor has: the choice where AVX2 is missing.
#include "run/lane_math.h"
#include "tree/operation_table.h"

#define LANE_SET lanes_sse2
#include "run/lane_math_kernels.h"
