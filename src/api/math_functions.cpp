// math_functions.cpp - the standard set parser_math defines: roots, powers, rounding, min and max, comparisons.
//
// Each function widens its arguments to double, computes with the C library
// and rounds once, as the language's own functions do, so the interpreter,
// machine code and bulk rows (which call these same routines, or for sinh
// and tanh a kernel whose rounding test gives the routine's float) give the
// same bits.
#include <cmath>

#include "api/call_scope.h"
#include "run/lane_math.h"
#include "tree/handle.h"
#include "tree/host_functions.h"
#include "tree/double_functions.h"

namespace lp {

namespace {

double arg(const float *a, int k) { return static_cast<double>(a[k]); }
float rounded(double v) { return static_cast<float>(v); }

template <double (*F)(double)>
float one(void *, const float *a, int) {
    return rounded(F(arg(a, 0)));
}
template <double (*F)(double, double)>
float two(void *, const float *a, int) {
    return rounded(F(arg(a, 0), arg(a, 1)));
}

double sqrt_d(double x) { return std::sqrt(x); }
double abs_d(double x) { return std::fabs(x); }
double floor_d(double x) { return std::floor(x); }
double ceil_d(double x) { return std::ceil(x); }
double round_d(double x) { return std::round(x); } // halves away from zero
double trunc_d(double x) { return std::trunc(x); }
// sign(±0) is ±0 and sign(NaN) is NaN: the argument itself unless it is a
// number other than zero.
double sign_d(double x) { return x > 0 ? 1.0 : x < 0 ? -1.0 : x; }
double fmod_d(double x, double y) { return std::fmod(x, y); }

// min and max of one or more arguments, as fmin and fmax: a NaN argument is
// passed over unless every one is NaN. A tie (+0 and -0 among them) keeps
// the earlier argument, written out rather than left to the C library,
// whose fmin and fmax may return either zero, and to the compiler, which may
// swap their arguments.
float lesser(float kept, float x) { return std::isnan(kept) || x < kept ? x : kept; }
float greater(float kept, float x) { return std::isnan(kept) || x > kept ? x : kept; }
float min_of(void *, const float *a, int n) {
    float v = a[0];
    for (int k = 1; k < n; ++k)
        if (!std::isnan(a[k])) v = lesser(v, a[k]);
    return v;
}
float max_of(void *, const float *a, int n) {
    float v = a[0];
    for (int k = 1; k < n; ++k)
        if (!std::isnan(a[k])) v = greater(v, a[k]);
    return v;
}
// min(max(x, lo), hi) under the same rule: when lo > hi the result is hi.
float clamp_of(void *, const float *a, int) {
    const float low = std::isnan(a[1]) ? a[0] : greater(a[0], a[1]);
    return std::isnan(a[2]) ? low : lesser(low, a[2]);
}

float pi_of(void *, const float *, int) { return rounded(3.14159265358979323846); }
float e_of(void *, const float *, int) { return rounded(2.71828182845904523536); }

// Comparisons and logic give 1 or 0; a NaN compares unequal to everything,
// and a condition is true when it is not 0, so NaN is true.
float truth(bool b) { return b ? 1.0f : 0.0f; }
float lt_of(void *, const float *a, int) { return truth(a[0] < a[1]); }
float le_of(void *, const float *a, int) { return truth(a[0] <= a[1]); }
float gt_of(void *, const float *a, int) { return truth(a[0] > a[1]); }
float ge_of(void *, const float *a, int) { return truth(a[0] >= a[1]); }
float eq_of(void *, const float *a, int) { return truth(a[0] == a[1]); }
float ne_of(void *, const float *a, int) { return truth(a[0] != a[1]); }
float and_of(void *, const float *a, int) { return truth(a[0] != 0 && a[1] != 0); }
float or_of(void *, const float *a, int) { return truth(a[0] != 0 || a[1] != 0); }
float not_of(void *, const float *a, int) { return truth(a[0] == 0); }

// A function of one operand whose kernel, one value at a time, is faster
// than the C library's routine: its value by the kernel (the same float).
template <LaneForm F>
float kernel_one(void *, const float *a, int) {
    static const UnaryRoutine routine = lane_routine(F);
    return routine(a[0]);
}
// Null for a function without one.
parser_native_fn by_kernel(LaneForm form) {
    if (lane_routine(form) == nullptr) return nullptr;
    switch (form) {
    case LaneForm::SINH: return kernel_one<LaneForm::SINH>;
    case LaneForm::TANH: return kernel_one<LaneForm::TANH>;
    default: return nullptr;
    }
}

struct Entry {
    const char *name;
    int min_args, max_args;
    parser_native_fn fn;
    LaneForm lanes = LaneForm::CALL;
};

constexpr Entry kMathSet[] = {
    {"sqrt", 1, 1, one<sqrt_d>, LaneForm::SQRT},   {"cbrt", 1, 1, one<cbrt_d>, LaneForm::CBRT},   {"abs", 1, 1, one<abs_d>},
    {"sign", 1, 1, one<sign_d>},   {"floor", 1, 1, one<floor_d>}, {"ceil", 1, 1, one<ceil_d>},
    {"round", 1, 1, one<round_d>}, {"trunc", 1, 1, one<trunc_d>}, {"fmod", 2, 2, two<fmod_d>},
    {"pow", 2, 2, two<pow_d>, LaneForm::POW},     {"hypot", 2, 2, two<hypot_d>, LaneForm::HYPOT}, {"atan2", 2, 2, two<atan2_d>, LaneForm::ATAN2},
    {"asin", 1, 1, one<asin_d>, LaneForm::ASIN},   {"acos", 1, 1, one<acos_d>, LaneForm::ACOS},   {"sinh", 1, 1, one<sinh_d>, LaneForm::SINH},
    {"cosh", 1, 1, one<cosh_d>, LaneForm::COSH},   {"tanh", 1, 1, one<tanh_d>, LaneForm::TANH},   {"exp2", 1, 1, one<exp2_d>, LaneForm::EXP2},
    {"min", 1, PARSER_NATIVE_MAX_ARGS, min_of},
    {"max", 1, PARSER_NATIVE_MAX_ARGS, max_of},
    {"clamp", 3, 3, clamp_of},     {"pi", 0, 0, pi_of},           {"e", 0, 0, e_of},
    {"lt", 2, 2, lt_of, LaneForm::LT},           {"le", 2, 2, le_of, LaneForm::LE},           {"gt", 2, 2, gt_of, LaneForm::GT},
    {"ge", 2, 2, ge_of, LaneForm::GE},           {"eq", 2, 2, eq_of, LaneForm::EQ},           {"ne", 2, 2, ne_of, LaneForm::NE},
    {"and", 2, 2, and_of},         {"or", 2, 2, or_of},           {"not", 1, 1, not_of},
};

} // namespace

} // namespace lp

using namespace lp;

extern "C" int parser_math(Parser *parser) noexcept {
    if (parser == nullptr || parser->busy) return 1;
    for (const Entry &e : kMathSet) {
        const parser_native_fn kernel = by_kernel(e.lanes), fn = kernel != nullptr ? kernel : e.fn;
        define_host(parser, e.name, HostFunction{e.min_args, e.max_args, fn, nullptr, true, false, 0, true, e.lanes, true});
    }
    define_host(parser, "if", HostFunction{3, 3, nullptr, nullptr, true, true, 0, true, LaneForm::CALL, true});
    parser->math = true; // defining the functions marked the tree to be rebuilt
    return 0;
}
