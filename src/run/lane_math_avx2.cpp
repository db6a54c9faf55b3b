// lane_math_avx2.cpp - the lane kernels compiled for AVX2, chosen at run time where the processor has it.
#include "run/lane_math.h"
#include "tree/operation_table.h"

#define LANE_SET lanes_avx2
#include "run/lane_math_kernels.h"
