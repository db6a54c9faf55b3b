// lane_math_sweep.cpp - every float through the bulk code of each function that has a lane kernel, against its scalar routine.
//
// For cos sin tan atan exp logn log2 log10 and the math set's sqrt, each
// of the 2^32 inputs goes through parser_calc_bulk as AVX2 vector code and
// as the interpreter's blocks, both with the lane kernels, and each
// result's bits (NaN payloads included) are compared with the operation's
// own scalar routine, (float)f((double)x) with the C library's f. Prints,
// per function, the inputs checked, the lanes that differ (which must be
// none) and the share of lanes the kernels sent to the scalar routine:
// inputs outside their range, and lanes the rounding test sent.
//
// Usage: lane_math_sweep [STEP [FUNCTION...]]  (STEP > 1: every STEP-th input)
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lib_parse.h"
#include "run/lane_math.h"
#include "run/machine_code.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

namespace {

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

struct Function {
    const char *name;
    int32_t op;
};
// sqrt is the math set's (op -1), which vector code computes with one
// instruction: its scalar routine is the set's, (float)sqrt((double)x).
const Function kFunctions[] = {{"cos", lp::OP_COS},   {"sin", lp::OP_SIN},   {"tan", lp::OP_TAN},
                               {"atan", lp::OP_ATAN}, {"exp", lp::OP_EXP},   {"logn", lp::OP_LOGN},
                               {"log2", lp::OP_LOG2}, {"log10", lp::OP_LOG10}, {"sqrt", -1}};

float math_sqrt(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }

// The two ways bulk rows are computed with the kernels. (Vector code for
// SSE2 calls the scalar routine lane by lane: nothing to sweep.)
enum Way { kVector, kBlocks, kWays };
const char *const kWayNames[kWays] = {"vector code", "blocks"};

struct Tally {
    uint64_t checked = 0, differing[kWays] = {};
};

// Inputs FROM, FROM + STEP, ... below 2^32, in stretches of STRIDE of which
// this thread takes every other one: each stretch's reference values once,
// then each way's.
void sweep(const Function &f, uint64_t from, uint64_t step, uint64_t stride, Tally *tally) {
    constexpr size_t kChunk = size_t{1} << 20; // the inputs of a stretch
    std::vector<float> x(kChunk), want(kChunk), got(kChunk);
    Parser *ways[kWays] = {parser_new(), parser_new()};
    parser_limit(ways[kBlocks], PARSER_LIMIT_NATIVE_CODE, 0);
    for (Parser *p : ways)
        if (f.op < 0) parser_math(p);
    const std::string text = std::string(f.name) + "(x)";
    const char *names[] = {"x"};
    const lp::UnaryRoutine scalar = f.op >= 0 ? lp::kind_of(f.op).unary : math_sqrt;
    for (uint64_t start = from; start < (uint64_t{1} << 32); start += 2 * stride) {
        size_t n = 0;
        for (uint64_t i = start; i < (uint64_t{1} << 32) && i < start + stride; i += step) {
            const uint32_t b = static_cast<uint32_t>(i);
            std::memcpy(&x[n], &b, sizeof b);
            want[n] = scalar(x[n]);
            n += 1;
        }
        const float *columns[] = {x.data()};
        for (int w = 0; w < kWays; ++w) {
            if (parser_calc_bulk(ways[w], text.c_str(), names, columns, 1, n, got.data()) != 0) std::abort();
            for (size_t i = 0; i < n; ++i)
                if (bits(got[i]) != bits(want[i]) && tally->differing[w]++ < 5)
                    std::printf("  %s %s(%a) = %a, the scalar routine gives %a\n", kWayNames[w], f.name, x[i], got[i],
                                want[i]);
        }
        tally->checked += n;
    }
    for (Parser *p : ways) parser_destroy(p);
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t step = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    if (step == 0) return 2;
    if (!lp::native_bulk_avx2) {
        std::printf("no AVX2 here: bulk rows call the scalar routines, and there is nothing to sweep\n");
        return 0;
    }
    int failures = 0;
    for (const Function &f : kFunctions) {
        bool chosen = argc <= 2;
        for (int a = 2; a < argc; ++a) chosen |= std::string(argv[a]) == f.name;
        if (!chosen) continue;
        const uint64_t before = lp::lane_fallbacks(), rounding_before = lp::lane_rounding_fallbacks();
        // Two threads, each its own handles, over alternate stretches.
        const uint64_t stride = step << 20; // a stretch fills one chunk of the sweep's arrays
        Tally halves[2];
        std::thread other(sweep, f, stride, step, stride, &halves[1]);
        sweep(f, 0, step, stride, &halves[0]);
        other.join();
        const uint64_t checked = halves[0].checked + halves[1].checked;
        uint64_t differing[kWays];
        for (int w = 0; w < kWays; ++w) differing[w] = halves[0].differing[w] + halves[1].differing[w];
        // Both ways ran every input through the kernel: half the count is one pass's.
        const double sent = static_cast<double>(lp::lane_fallbacks() - before) / 2;
        const double rounding = static_cast<double>(lp::lane_rounding_fallbacks() - rounding_before) / 2;
        std::printf("%-6s %" PRIu64 " inputs: differing %" PRIu64 " (vector code) %" PRIu64
                    " (blocks); to the scalar routine %.4f%% (outside the kernel's range %.4f%%, by the rounding test "
                    "%.5f%%: %.0f inputs)\n",
                    f.name, checked, differing[kVector], differing[kBlocks], 100.0 * sent / static_cast<double>(checked),
                    100.0 * (sent - rounding) / static_cast<double>(checked),
                    100.0 * rounding / static_cast<double>(checked), rounding);
        std::fflush(stdout);
        for (uint64_t d : differing) failures += d != 0;
    }
    return failures == 0 ? 0 : 1;
}
