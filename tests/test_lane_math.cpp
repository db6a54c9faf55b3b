// test_lane_math.cpp - the lane kernels give the scalar routines' bits, on a sample of every exponent and the hard cases.
//
// bench/lane_math_sweep.cpp checks every float; this is its sample for
// every build: each exponent with both signs and many mantissas, the
// special values, floats nearest the multiples of pi/2 (where the reduced
// argument is smallest) and exact powers, and a spread of random inputs
// large enough that the rounding test sends some lanes to the scalar routine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lib_parse.h"
#include "robust_support.h"
#include "run/lane_math.h"
#include "tree/operation_table.h"

// The kernels' approximations themselves, compiled once more here (as the
// library compiles them per instruction set), to be checked as doubles.
#if defined(__SSE2__)
#define LANE_SET lanes_test
#include "run/lane_math_kernels.h"
#endif

namespace {

using robust::ParserPtr;

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}
float from_bits(uint32_t b) {
    float v;
    std::memcpy(&v, &b, sizeof v);
    return v;
}

std::vector<float> sample() {
    std::vector<float> xs;
    std::mt19937 random(20261207);
    for (uint32_t sign = 0; sign < 2; ++sign)
        for (uint32_t exponent = 0; exponent < 256; ++exponent)
            for (uint32_t k = 0; k < 40; ++k) {
                const uint32_t mantissa = k == 0 ? 0 : k == 1 ? 1 : k == 2 ? 0x7fffff : random() & 0x7fffff;
                xs.push_back(from_bits(sign << 31 | exponent << 23 | mantissa));
            }
    for (int k = -2000; k <= 2000; ++k) { // the floats around k pi/2
        const float near = static_cast<float>(k * 1.57079632679489661923);
        xs.insert(xs.end(), {near, std::nextafter(near, 1e30f), std::nextafter(near, -1e30f)});
    }
    for (int k = -149; k <= 127; ++k) xs.push_back(std::ldexp(1.0f, k));
    for (float p = 1.0f; p < 1e10f; p *= 10.0f) xs.insert(xs.end(), {p, std::nextafter(p, 0.0f), 1.0f / p});
    for (int k = 0; k < (1 << 18); ++k) xs.push_back(from_bits(random()));
    std::uniform_real_distribution<float> moderate(-20.0f, 20.0f);
    for (int k = 0; k < (1 << 18); ++k) xs.push_back(moderate(random));
    return xs;
}

// The inputs of FUNCTION whose values the sweep found nearest the points
// where rounding to float changes (tests/data/lane_math_hard.txt): one
// float, or two for a pair, per line.
std::vector<std::vector<float>> hard_inputs(const std::string &function) {
    std::vector<std::vector<float>> found;
    std::FILE *file = std::fopen(LANE_MATH_HARD_INPUTS, "r");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot read " << LANE_MATH_HARD_INPUTS;
        return found;
    }
    char name[16];
    unsigned x, y;
    char line[64];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        const int fields = std::sscanf(line, "%15s %x %x", name, &x, &y);
        if (fields >= 2 && function == name)
            found.push_back(fields == 3 ? std::vector<float>{from_bits(x), from_bits(y)} : std::vector<float>{from_bits(x)});
    }
    std::fclose(file);
    return found;
}

// The C library's double functions: each function's value is
// (float)f((double)x), computed here without the library.
struct Reference {
    const char *name;
    double (*one)(double);
    double (*two)(double, double);
};
const Reference kReferences[] = {
    {"cos", [](double x) { return std::cos(x); }, nullptr},     {"sin", [](double x) { return std::sin(x); }, nullptr},
    {"tan", [](double x) { return std::tan(x); }, nullptr},     {"atan", [](double x) { return std::atan(x); }, nullptr},
    {"exp", [](double x) { return std::exp(x); }, nullptr},     {"logn", [](double x) { return std::log(x); }, nullptr},
    {"log2", [](double x) { return std::log2(x); }, nullptr},   {"log10", [](double x) { return std::log10(x); }, nullptr},
    {"sqrt", [](double x) { return std::sqrt(x); }, nullptr},   {"cbrt", [](double x) { return std::cbrt(x); }, nullptr},
    {"asin", [](double x) { return std::asin(x); }, nullptr},   {"acos", [](double x) { return std::acos(x); }, nullptr},
    {"sinh", [](double x) { return std::sinh(x); }, nullptr},   {"cosh", [](double x) { return std::cosh(x); }, nullptr},
    {"tanh", [](double x) { return std::tanh(x); }, nullptr},   {"exp2", [](double x) { return std::exp2(x); }, nullptr},
    {"pow", nullptr, [](double x, double y) { return std::pow(x, y); }},
    {"hypot", nullptr, [](double x, double y) { return std::hypot(x, y); }},
    {"atan2", nullptr, [](double x, double y) { return std::atan2(x, y); }}};

const Reference &reference_of(const std::string &name) {
    for (const Reference &r : kReferences)
        if (name == r.name) return r;
    ADD_FAILURE() << "no reference for " << name;
    return kReferences[0];
}

// FUNCTION over COLUMNS' rows in bulk (machine code on and off, each
// instruction set's kernels) and one row at a time (the interpreter, and
// machine code, which call its one-lane kernel where it has one), against
// the C library's function: the rows that differ.
size_t rows_differing(const std::string &function, const std::vector<std::vector<float>> &columns) {
    const Reference &f = reference_of(function);
    const std::string text = function + (columns.size() > 1 ? "(x,y)" : "(x)");
    const char *names[] = {"x", "y"};
    const size_t rows = columns[0].size();
    const float *data[] = {columns[0].data(), columns.size() > 1 ? columns[1].data() : nullptr};
    std::vector<float> want(rows), got(rows);
    for (size_t i = 0; i < rows; ++i) {
        const double x = columns[0][i];
        want[i] = static_cast<float>(f.one != nullptr ? f.one(x) : f.two(x, columns[1][i]));
    }
    size_t differing = 0;
    auto compare = [&](const char *way) {
        for (size_t i = 0; i < rows && differing < rows; ++i)
            if (bits(got[i]) != bits(want[i]) && differing++ < 5)
                ADD_FAILURE() << text << " of " << std::hexfloat << columns[0][i]
                              << (columns.size() > 1 ? ", " + std::to_string(columns[1][i]) : std::string()) << ": "
                              << got[i] << ", the C library's " << want[i] << " (" << way << ")";
    };
    const bool processor_avx2 = lp::lane_math_avx2;
    for (const bool avx2 : {true, false}) {
        if (avx2 && !processor_avx2) continue;
        lp::lane_math_avx2 = avx2;
        for (const long long code : {1LL, 0LL}) {
            ParserPtr bulk(parser_new());
            parser_math(bulk.get());
            parser_limit(bulk.get(), PARSER_LIMIT_NATIVE_CODE, code);
            if (parser_calc_bulk(bulk.get(), text.c_str(), names, data, columns.size(), rows, got.data()) != 0)
                differing = rows;
            compare(code != 0 ? (avx2 ? "bulk, machine code, AVX2" : "bulk, machine code, SSE2")
                              : (avx2 ? "bulk, blocks, AVX2" : "bulk, blocks, SSE2"));
        }
    }
    lp::lane_math_avx2 = processor_avx2;
    for (const long long code : {0LL, 1LL}) {
        ParserPtr one(parser_new());
        parser_math(one.get());
        parser_limit(one.get(), PARSER_LIMIT_NATIVE_CODE, code);
        float *variables[] = {parser_var_ref(one.get(), "x"), parser_var_ref(one.get(), "y")};
        for (size_t i = 0; i < rows; ++i) {
            for (size_t c = 0; c < columns.size(); ++c) *variables[c] = columns[c][i];
            got[i] = parser_calc(one.get(), text.c_str());
        }
        compare(code != 0 ? "one row at a time, machine code" : "one row at a time, interpreter");
    }
    return differing;
}

TEST(LaneMath, EveryKernelGivesTheScalarRoutinesBits) {
    const std::vector<float> xs = sample();
    const uint64_t rounding_before = lp::lane_rounding_fallbacks();
    for (const char *f : {"cos", "sin", "tan", "atan", "exp", "logn", "log2", "log10", "sqrt", "cbrt", "asin", "acos",
                          "sinh", "cosh", "tanh", "exp2"}) {
        std::vector<float> inputs = xs;
        for (const std::vector<float> &hard : hard_inputs(f)) inputs.push_back(hard[0]);
        EXPECT_EQ(rows_differing(f, {inputs}), 0u) << f;
    }
    // Where the kernels run, the sample reaches the rounding test's other side.
    if (lp::lane_kernel(lp::OP_COS) != nullptr) {
        EXPECT_GT(lp::lane_rounding_fallbacks(), rounding_before);
    }
}

// Pairs: the sample's floats against a shuffle of themselves, pairs of
// moderate values, each special value against each, and the hard pairs.
TEST(LaneMath, TwoOperandKernelsGiveTheScalarRoutinesBits) {
    std::vector<float> xs = sample(), ys = xs;
    std::mt19937 random(5);
    std::shuffle(ys.begin(), ys.end(), random);
    std::uniform_real_distribution<float> base(0.0f, 8.0f), power(-40.0f, 40.0f);
    for (int k = 0; k < (1 << 16); ++k) xs.push_back(base(random)), ys.push_back(power(random));
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 2.0f, -2.0f, 3.0f, INFINITY, -INFINITY, NAN,
                              1e-45f, -1e-45f, 1e-40f, 1.17549435e-38f, 3.4028235e38f, -3.4028235e38f};
    for (float a : specials)
        for (float b : specials) xs.push_back(a), ys.push_back(b);
    for (const char *f : {"pow", "hypot", "atan2"}) {
        std::vector<std::vector<float>> pairs{xs, ys};
        for (const std::vector<float> &hard : hard_inputs(f)) pairs[0].push_back(hard[0]), pairs[1].push_back(hard[1]);
        EXPECT_EQ(rows_differing(f, pairs), 0u) << f;
    }
}

// The rows of TEXT over XS in bulk, with each instruction set's kernels and
// block arithmetic, that differ from the interpreter's value of each row on
// its own.
size_t rows_unlike_one_at_a_time(const char *text, const std::vector<float> &xs, int syntax) {
    ParserPtr reference(parser_new());
    parser_syntax(reference.get(), syntax);
    parser_limit(reference.get(), PARSER_LIMIT_NATIVE_CODE, 0);
    float *x = parser_var_ref(reference.get(), "x");
    std::vector<float> want(xs.size()), got(xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
        *x = xs[i];
        want[i] = parser_calc(reference.get(), text);
    }
    const char *names[] = {"x"};
    const float *columns[] = {xs.data()};
    size_t differing = 0;
    const bool processor_avx2 = lp::lane_math_avx2;
    for (const bool avx2 : {true, false}) {
        if (avx2 && !processor_avx2) continue;
        lp::lane_math_avx2 = avx2;
        ParserPtr bulk(parser_new());
        parser_syntax(bulk.get(), syntax);
        if (parser_calc_bulk(bulk.get(), text, names, columns, 1, xs.size(), got.data()) != 0) differing += xs.size();
        for (size_t i = 0; i < xs.size(); ++i) differing += bits(want[i]) != bits(got[i]);
    }
    lp::lane_math_avx2 = processor_avx2;
    return differing;
}

// Inside a conditional the lanes a branch does not take reach the kernels
// as 1: the values chosen are those of each row on its own. Comparisons,
// which vector code makes with one instruction, give 1 or +0, and false for
// a NaN but for !=.
TEST(LaneMath, ConditionalsChooseEachRowsOwnValue) {
    std::vector<float> xs;
    std::mt19937 random(11);
    std::uniform_real_distribution<float> moderate(-5.0f, 5.0f);
    // NaNs in the second half only: a block with one is computed again by
    // the NaN rule, and the first half's blocks keep the bare instructions.
    for (int k = 0; k < 20000; ++k)
        xs.push_back(k % 97 == 0 && k >= 10000 ? NAN : k % 89 == 0 ? 1.0f : k % 83 == 0 ? -0.0f : moderate(random));
    for (const char *text : {"x > 0 ? logn(x) : cos(x)", "x < 1 ? (x > -1 ? exp(x) : atan(x)) : logn(x) + 1",
                             "cos(x) / (x - 1) - 2 * (x + 0.5) / x", "(0 - x) / (x * x - 1) + sin(x) * 3",
                             "x ? sin(x) : 2", "(x > 0 ? logn(x) : 0) + (x < 0 ? logn(-x) : tan(x))",
                             "(x < 1) + (x <= 1)*2 + (x > 1)*4 + (x >= 1)*8 + (x == 1)*16 + (x != 1)*32 + (0 > x)*64"})
        EXPECT_EQ(rows_unlike_one_at_a_time(text, xs, PARSER_SYNTAX_STANDARD), 0u) << text;
}

#if defined(__SSE2__)
// The largest error, relative, of APPROX against the C library's F over
// XS inside DOMAIN; log2 of it (-1000 when exact everywhere).
double worst_error(double (*approx)(double), double (*f)(double), bool (*domain)(double),
                   const std::vector<float> &xs) {
    double worst = 0;
    for (const float x : xs) {
        const double w = x;
        if (!domain(w)) continue;
        const double want = f(w);
        if (want != 0) worst = std::max(worst, std::fabs(approx(w) - want) / std::fabs(want));
    }
    return worst == 0 ? -1000 : std::log2(worst);
}

// Each approximation stays within 2^-43 of the C library's double, as the
// rounding test assumes with room to spare: an error between that and
// 2^-39 would keep a wrong float only for the few inputs that near a
// rounding point, which neither the sample nor a sweep may hold. The
// floats nearest every multiple of pi/2 up to 2^19 are where a reduction's
// lost bits show.
TEST(LaneMath, ApproximationsStayWithinTheirBound) {
    using namespace lp::lanes_test;
    std::vector<float> xs = sample(), trig;
    for (double k = 1; k * 1.5707963267948966 <= 0x1p19; ++k) {
        const float near = static_cast<float>(k * 1.5707963267948966);
        for (const float v : {near, std::nextafter(near, 0.0f), std::nextafter(near, 1e30f)}) trig.insert(trig.end(), {v, -v});
    }
    trig.insert(trig.end(), xs.begin(), xs.end());
    struct Case {
        const char *name;
        double (*approx)(double), (*f)(double);
        bool (*domain)(double);
        const std::vector<float> *xs;
    };
    const Case cases[] = {
        {"cos", cos_approx, [](double x) { return std::cos(x); }, trig_domain, &trig},
        {"sin", sin_approx, [](double x) { return std::sin(x); }, trig_domain, &trig},
        {"tan", tan_approx, [](double x) { return std::tan(x); }, trig_domain, &trig},
        {"exp", exp_approx, [](double x) { return std::exp(x); }, exp_domain, &xs},
        {"logn", logn_approx, [](double x) { return std::log(x); }, log_domain, &xs},
        {"log2", log2_approx, [](double x) { return std::log2(x); }, log_domain, &xs},
        {"log10", log10_approx, [](double x) { return std::log10(x); }, log_domain, &xs},
        {"atan", atan_approx, [](double x) { return std::atan(x); }, atan_domain, &xs},
        {"cbrt", cbrt_approx, [](double x) { return std::cbrt(x); }, cbrt_domain, &xs},
        {"asin", asin_approx, [](double x) { return std::asin(x); }, asin_domain, &xs},
        {"acos", acos_approx, [](double x) { return std::acos(x); }, acos_domain, &xs},
        {"sinh", sinh_approx, [](double x) { return std::sinh(x); }, sinh_domain, &xs},
        {"cosh", cosh_approx, [](double x) { return std::cosh(x); }, cosh_domain, &xs},
        {"tanh", tanh_approx, [](double x) { return std::tanh(x); }, tanh_domain, &xs},
        {"exp2", exp2_approx, [](double x) { return std::exp2(x); }, exp2_domain, &xs}};
    for (const Case &c : cases) EXPECT_LE(worst_error(c.approx, c.f, c.domain, *c.xs), -43.0) << c.name;
}
#endif

// Under another rounding mode the C library's functions round as the caller
// asked, and so does every evaluator: the kernels, in bulk and one value at
// a time, pass every value to the operation's routine.
TEST(LaneMath, AnotherRoundingModeIsTheCLibrarys) {
    std::vector<float> xs;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> moderate(-30.0f, 30.0f);
    for (int k = 0; k < 20000; ++k) xs.push_back(moderate(random));
    const int saved = std::fegetround();
    for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        for (const char *f : {"cos", "sin", "tan", "exp", "atan", "logn", "log10", "sinh", "tanh"})
            EXPECT_EQ(rows_differing(f, {xs}), 0u) << f << " in rounding mode " << mode;
    }
    std::fesetround(saved);
}

} // namespace
