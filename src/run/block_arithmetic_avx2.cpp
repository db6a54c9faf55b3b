// block_arithmetic_avx2.cpp - the blocks' arithmetic compiled for AVX2, chosen at run time where the processor has it.
#include "run/block_operation.h"

#define BLOCK_SET blocks_avx2
#include "run/block_arithmetic.h"
