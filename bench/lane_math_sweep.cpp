// lane_math_sweep.cpp - every float through the bulk code of each function that has a lane kernel, against its scalar routine.
//
// For cos sin tan atan exp logn log2 log10 and the math set's sqrt cbrt
// asin acos sinh cosh tanh exp2, each of the 2^32 inputs goes through
// parser_calc_bulk as a host's call does (a text that calls a kernel runs
// in blocks of rows; sqrt in vector code), with the AVX2 kernels where the
// processor has them and with the SSE2 ones, and each result's bits (NaN
// payloads included) are compared with the operation's own scalar routine,
// (float)f((double)x) with the C library's f; so is each value of the
// one-lane kernels the interpreter and machine code call (sin, cos, tan,
// log10, sinh, tanh). Prints, per function, the inputs checked, the lanes that differ
// (which must be none) and the share of lanes the kernels sent to the
// scalar routine: inputs outside their range, and lanes the rounding test
// sent.
//
// The math set's pow, hypot and atan2 get about 2^31 pairs: 2^30 over
// every exponent and both signs (the special values among them) and about
// 2^30 over moderate exponents.
//
// Usage: lane_math_sweep [--hard=FILE] [STEP [FUNCTION...]]  (STEP > 1: every STEP-th input)
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "lib_parse.h"
#include "run/lane_math.h"
#include "tree/operation_kinds.h"
#include "tree/double_functions.h"
#include "tree/operation_table.h"

namespace {

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

struct Function {
    const char *name;
    int32_t op;              // the language's operation, or -1: the math set's function
    double (*exact)(double); // the C library's f: the scalar routine is (float)f((double)x)
    lp::LaneForm form = lp::LaneForm::CALL; // the math set's function's
};
double sqrt_d(double x) { return std::sqrt(x); }
// The math set's sqrt vector code computes with one instruction.
const Function kFunctions[] = {
    {"cos", lp::OP_COS, lp::cos_d},   {"sin", lp::OP_SIN, lp::sin_d},    {"tan", lp::OP_TAN, lp::tan_d},
    {"atan", lp::OP_ATAN, lp::atan_d}, {"exp", lp::OP_EXP, lp::exp_d},    {"logn", lp::OP_LOGN, lp::log_d},
    {"log2", lp::OP_LOG2, lp::log2_d}, {"log10", lp::OP_LOG10, lp::log10_d}, {"sqrt", -1, sqrt_d, lp::LaneForm::SQRT},
    {"cbrt", -1, lp::cbrt_d, lp::LaneForm::CBRT}, {"asin", -1, lp::asin_d, lp::LaneForm::ASIN},
    {"acos", -1, lp::acos_d, lp::LaneForm::ACOS}, {"sinh", -1, lp::sinh_d, lp::LaneForm::SINH},
    {"cosh", -1, lp::cosh_d, lp::LaneForm::COSH}, {"tanh", -1, lp::tanh_d, lp::LaneForm::TANH},
    {"exp2", -1, lp::exp2_d, lp::LaneForm::EXP2}};

// F's one-lane kernel, which the interpreter and machine code call for one
// value, or null where they call the C library's routine.
lp::UnaryRoutine one_lane_of(const Function &f) {
    if (f.op < 0) return lp::lane_routine(f.form);
    const lp::UnaryRoutine routine = lp::lane_routine(f.op);
    return routine != lp::kind_of(f.op).unary ? routine : nullptr;
}

// The math set's functions of two operands.
struct Function2 {
    const char *name;
    double (*f)(double, double);
};
const Function2 kFunctions2[] = {{"pow", lp::pow_d}, {"hypot", lp::hypot_d}, {"atan2", lp::atan2_d}};

// The instruction sets whose kernels are checked: AVX2 where the processor
// has it, and SSE2. Each sweep thread chooses its own (lp::lane_math_avx2).
std::vector<bool> sets;

struct Tally {
    uint64_t checked = 0;
    // Per set: lanes that differ, lanes sent to the scalar routine, and of
    // those, lanes the rounding test sent.
    uint64_t differing[2] = {}, sent[2] = {}, rounding[2] = {};
    // Inputs whose one-lane kernel's value differs, where it has one.
    uint64_t one_lane_differing = 0;
    // Inputs (pairs: x << 32 | y) whose value lies near a rounding point,
    // with their distance from it.
    std::vector<std::pair<double, uint64_t>> hard;
};

// N rows of TEXT over COLUMNS in bulk with each set's kernels, compared with
// WANT; DESCRIBE prints a row that differs.
template <class Describe>
void run_sets(Parser *bulk, const std::string &text, const float *const *columns, size_t count, size_t n,
              const float *want, float *got, Tally *tally, Describe describe) {
    const char *names[] = {"x", "y"};
    for (size_t k = 0; k < sets.size(); ++k) {
        lp::lane_math_avx2 = sets[k];
        const uint64_t sent = lp::lane_fallbacks(), rounding = lp::lane_rounding_fallbacks();
        if (parser_calc_bulk(bulk, text.c_str(), names, columns, count, n, got) != 0) std::abort();
        tally->sent[k] += lp::lane_fallbacks() - sent;
        tally->rounding[k] += lp::lane_rounding_fallbacks() - rounding;
        for (size_t i = 0; i < n; ++i)
            if (bits(got[i]) != bits(want[i]) && tally->differing[k]++ < 5) describe(i, sets[k]);
    }
    tally->checked += n;
}

// The distance, relative, of the C library's double value D from the
// nearest point where rounding to float changes, when within 2^-39 (what
// the rounding test sends back); else 1.
double from_rounding_point(double d) {
    const double e = std::fabs(d) * 0x1p-39;
    if (!std::isfinite(d) || d == 0 || static_cast<float>(d - e) == static_cast<float>(d + e)) return 1;
    const float f = static_cast<float>(d);
    const double below = (static_cast<double>(f) + std::nextafter(f, -INFINITY)) / 2;
    const double above = (static_cast<double>(f) + std::nextafter(f, INFINITY)) / 2;
    return std::min(std::fabs(d - below), std::fabs(d - above)) / std::fabs(d);
}

// Inputs FROM, FROM + STEP, ... below 2^32, in stretches of STRIDE of which
// this thread takes every other one: each stretch's reference values once,
// then each set's bulk rows.
void sweep(const Function &f, uint64_t from, uint64_t step, uint64_t stride, Tally *tally) {
    constexpr size_t kChunk = size_t{1} << 20; // the inputs of a stretch
    std::vector<float> x(kChunk), want(kChunk), got(kChunk);
    Parser *bulk = parser_new();
    if (f.op < 0) parser_math(bulk);
    const std::string text = std::string(f.name) + "(x)";
    const bool rounding_test = f.exact != sqrt_d;
    for (uint64_t start = from; start < (uint64_t{1} << 32); start += 2 * stride) {
        size_t n = 0;
        for (uint64_t i = start; i < (uint64_t{1} << 32) && i < start + stride; i += step) {
            const uint32_t b = static_cast<uint32_t>(i);
            std::memcpy(&x[n], &b, sizeof b);
            const double d = f.exact(static_cast<double>(x[n]));
            want[n] = static_cast<float>(d);
            const double distance = rounding_test ? from_rounding_point(d) : 1;
            if (distance < 1) tally->hard.emplace_back(distance, b);
            n += 1;
        }
        // The language's functions: the reference is its scalar routine.
        if (start == 0 && f.op >= 0)
            for (size_t i = 0; i < n; ++i)
                if (bits(lp::kind_of(f.op).unary(x[i])) != bits(want[i])) std::abort();
        if (const lp::UnaryRoutine one = one_lane_of(f))
            for (size_t i = 0; i < n; ++i)
                if (bits(one(x[i])) != bits(want[i]) && tally->one_lane_differing++ < 5)
                    std::printf("  one lane %s(%a) = %a, the scalar routine gives %a\n", f.name, x[i], one(x[i]),
                                want[i]);
        const float *columns[] = {x.data()};
        run_sets(bulk, text, columns, 1, n, want.data(), got.data(), tally, [&](size_t i, bool avx2) {
            std::printf("  %s %s(%a) = %a, the scalar routine gives %a\n", avx2 ? "AVX2" : "SSE2", f.name, x[i], got[i],
                        want[i]);
        });
    }
    parser_destroy(bulk);
}

// The operands of the two-operand sweep: each sign and each exponent from
// LOW to HIGH (biased), with the mantissas 0, 1, the largest and random
// ones, 2^15 floats or a little fewer in all (as many per exponent): every
// special value among them.
std::vector<float> operands(uint32_t low, uint32_t high, uint32_t seed) {
    std::vector<float> xs;
    std::mt19937 random(seed);
    const uint32_t exponents = high - low + 1, per = (uint32_t{1} << 14) / exponents;
    for (uint32_t sign = 0; sign < 2; ++sign)
        for (uint32_t e = low; e <= high; ++e)
            for (uint32_t k = 0; k < per; ++k) {
                const uint32_t mantissa = k == 0 ? 0 : k == 1 ? 1 : k == 2 ? 0x7fffff : random() & 0x7fffff;
                const uint32_t b = sign << 31 | e << 23 | mantissa;
                float v;
                std::memcpy(&v, &b, sizeof v);
                xs.push_back(v);
            }
    return xs;
}

// Every pair of XS and YS through F(x, y), the rows of X taken by this
// thread (PART of PARTS).
void sweep2(const Function2 &f, const std::vector<float> &xs, const std::vector<float> &ys, size_t part, size_t parts,
            Tally *tally) {
    const size_t n = ys.size();
    std::vector<float> x(n), want(n), got(n);
    Parser *bulk = parser_new();
    parser_math(bulk);
    const std::string text = std::string(f.name) + "(x, y)";
    for (size_t i = part; i < xs.size(); i += parts) {
        std::fill(x.begin(), x.end(), xs[i]);
        for (size_t j = 0; j < n; ++j) {
            const double d = f.f(static_cast<double>(xs[i]), static_cast<double>(ys[j]));
            want[j] = static_cast<float>(d);
            const double distance = from_rounding_point(d);
            if (distance < 1) tally->hard.emplace_back(distance, uint64_t{bits(xs[i])} << 32 | bits(ys[j]));
        }
        const float *columns[] = {x.data(), ys.data()};
        run_sets(bulk, text, columns, 2, n, want.data(), got.data(), tally, [&](size_t j, bool avx2) {
            std::printf("  %s %s(%a, %a) = %a, the scalar routine gives %a\n", avx2 ? "AVX2" : "SSE2", f.name, xs[i],
                        ys[j], got[j], want[j]);
        });
    }
    parser_destroy(bulk);
}

// Per set: the inputs checked, those that differ, and the share of lanes
// sent to the scalar routine.
void report(const char *name, const Tally *halves, bool one_lane, int *failures) {
    const double checked = static_cast<double>(halves[0].checked + halves[1].checked);
    for (size_t k = 0; k < sets.size(); ++k) {
        const uint64_t differing = halves[0].differing[k] + halves[1].differing[k];
        const double sent = static_cast<double>(halves[0].sent[k] + halves[1].sent[k]);
        const double rounding = static_cast<double>(halves[0].rounding[k] + halves[1].rounding[k]);
        std::printf("%-6s %s %.0f inputs: differing %" PRIu64
                    "; to the scalar routine %.4f%% (outside the kernel's range %.4f%%, by the rounding test "
                    "%.5f%%: %.0f inputs)\n",
                    name, sets[k] ? "AVX2" : "SSE2", checked, differing, 100.0 * sent / checked,
                    100.0 * (sent - rounding) / checked, 100.0 * rounding / checked, rounding);
        *failures += differing != 0;
    }
    if (one_lane) {
        const uint64_t differing = halves[0].one_lane_differing + halves[1].one_lane_differing;
        std::printf("%-6s one lane %.0f inputs: differing %" PRIu64 "\n", name, checked, differing);
        *failures += differing != 0;
    }
    std::fflush(stdout);
}

// The 256 inputs whose values lie nearest a rounding point to FILE
// (tests/data/lane_math_hard.txt): one line each, the function's name and
// the operands' bits in hexadecimal.
void record_hard(std::FILE *file, const char *name, const Tally *halves, bool pairs) {
    if (file == nullptr) return;
    std::vector<std::pair<double, uint64_t>> hard(halves[0].hard);
    hard.insert(hard.end(), halves[1].hard.begin(), halves[1].hard.end());
    const size_t kept = std::min<size_t>(hard.size(), 256);
    std::partial_sort(hard.begin(), hard.begin() + static_cast<std::ptrdiff_t>(kept), hard.end());
    for (size_t k = 0; k < kept; ++k) {
        const uint64_t v = hard[k].second;
        if (pairs)
            std::fprintf(file, "%s %08" PRIx32 " %08" PRIx32 "\n", name, static_cast<uint32_t>(v >> 32),
                         static_cast<uint32_t>(v));
        else
            std::fprintf(file, "%s %08" PRIx32 "\n", name, static_cast<uint32_t>(v));
    }
}

bool chosen(const char *name, int argc, char **argv) {
    bool yes = argc <= 2;
    for (int a = 2; a < argc; ++a) yes |= std::string(argv[a]) == name;
    return yes;
}

} // namespace

int main(int argc, char **argv) {
    // --hard=FILE: write a sample of the inputs near a rounding point there.
    std::FILE *hard_file = nullptr;
    if (argc > 1 && std::strncmp(argv[1], "--hard=", 7) == 0) {
        hard_file = std::fopen(argv[1] + 7, "w");
        if (hard_file == nullptr) return 2;
        argv += 1;
        argc -= 1;
    }
    const uint64_t step = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    if (step == 0) return 2;
    if (lp::lane_math_avx2) sets.push_back(true);
    sets.push_back(false);
    int failures = 0;
    for (const Function &f : kFunctions) {
        if (!chosen(f.name, argc, argv)) continue;
        // Two threads, each its own handle, over alternate stretches.
        const uint64_t stride = step << 20; // a stretch fills one chunk of the sweep's arrays
        Tally halves[2];
        std::thread other(sweep, f, stride, step, stride, &halves[1]);
        sweep(f, 0, step, stride, &halves[0]);
        other.join();
        report(f.name, halves, one_lane_of(f) != nullptr, &failures);
        record_hard(hard_file, f.name, halves, false);
    }
    // Two operands: 2^30 pairs over every exponent, and about 2^30 over the
    // exponents -8 to 8, where most results are neither 0 nor infinite
    // (STEP thins the first operand's floats).
    const std::vector<float> wide_x = operands(0, 255, 1), wide_y = operands(0, 255, 2);
    const std::vector<float> near_x = operands(119, 135, 3), near_y = operands(119, 135, 4);
    for (const Function2 &f : kFunctions2) {
        if (!chosen(f.name, argc, argv)) continue;
        Tally halves[2];
        for (const auto *set : {&wide_x, &near_x}) {
            const std::vector<float> &ys = set == &wide_x ? wide_y : near_y;
            const size_t parts = 2 * step;
            std::thread other(sweep2, f, std::cref(*set), std::cref(ys), step, parts, &halves[1]);
            sweep2(f, *set, ys, 0, parts, &halves[0]);
            other.join();
        }
        report(f.name, halves, false, &failures);
        record_hard(hard_file, f.name, halves, true);
    }
    if (hard_file != nullptr) std::fclose(hard_file);
    return failures == 0 ? 0 : 1;
}
