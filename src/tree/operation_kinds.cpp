// operation_kinds.cpp - the table of how each operation is evaluated, and the routines it names.
#include "tree/operation_kinds.h"

#include <cmath>
#include <cstdint>
#include <iterator>

#include "support/error_log.h"
#include "tree/double_functions.h"

namespace lp {

namespace {

// Saturating truncation to a 32-bit integer; NaN becomes the smallest value.
int32_t to_int32(float v) {
    if (std::isnan(v)) return INT32_MIN;
    if (v >= 2147483648.0f) return INT32_MAX;
    if (v <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Remainder of truncating division; a zero divisor gives the dividend and
// -1 gives 0, so nothing ever traps.
float remainder_of(float l, float r) {
    const int32_t a = to_int32(l), b = to_int32(r);
    const int32_t result = b == 0 ? a : b == -1 ? 0 : a % b;
    return static_cast<float>(static_cast<double>(result));
}

float pow_of(float l, float r) { return static_cast<float>(std::pow(static_cast<double>(l), static_cast<double>(r))); }
// pow_of(l, 2) without pow: the double square of a float is exact (48
// significant bits), so pow returns it exactly and the one rounding to float
// gives the correctly rounded square, which is what the float product l * l
// is, overflow, underflow and signed zeros included. A NaN goes to pow,
// whose NaN it is. (Checked over every float: bench/square_sweep.cpp.)
float square_of(float l, float r) { return l != l ? pow_of(l, r) : l * l; }

// The functions compute in double precision and round once.
template <double (*F)(double)>
float in_double(float r) {
    return static_cast<float>(F(static_cast<double>(r)));
}

// The standard grammar's operations: a true negation (of 0, -0; of a NaN,
// the NaN with its sign flipped), and comparisons and logic giving 1 or 0,
// a value being true when it is not 0, so a NaN is true.
float negate(float x) { return -x; }
// Without a branch: a comparison of rows in bulk is as often true as not.
float truth(bool b) { return static_cast<float>(static_cast<int>(b)); }
float not_of(float x) { return truth(x == 0.0f); }
float truth_of(float x) { return truth(!(x == 0.0f)); }
float lt_of(float l, float r) { return truth(l < r); }
float le_of(float l, float r) { return truth(l <= r); }
float gt_of(float l, float r) { return truth(l > r); }
float ge_of(float l, float r) { return truth(l >= r); }
float eq_of(float l, float r) { return truth(l == r); }
float ne_of(float l, float r) { return truth(l != r); }

constexpr OpKind arith(const char *name, Compute compute) { return OpKind{name, 2, 1, compute, true, nullptr, nullptr}; }
constexpr OpKind unary(const char *name, UnaryRoutine f) { return OpKind{name, 1, 1, Compute::ROUTINE, true, f, nullptr}; }
constexpr OpKind binary(const char *name, BinaryRoutine f) {
    return OpKind{name, 2, 1, Compute::ROUTINE, true, nullptr, f};
}
constexpr OpKind other(const char *name, int32_t arity, int32_t results, Compute compute) {
    return OpKind{name, arity, results, compute, false, nullptr, nullptr};
}

} // namespace

const OpKind kOpKinds[OP_KIND_COUNT] = {
    arith("+", Compute::ADD),
    arith("-", Compute::SUB),
    binary("^", pow_of),
    arith("*", Compute::MUL),
    arith("/", Compute::DIV),
    binary("%", remainder_of),
    unary("cos", in_double<cos_d>),
    unary("sin", in_double<sin_d>),
    unary("atan", in_double<atan_d>),
    unary("tan", in_double<tan_d>),
    unary("exp", in_double<exp_d>),
    unary("logn", in_double<log_d>),
    unary("log2", in_double<log2_d>),
    unary("log10", in_double<log10_d>),
    other("operand", 0, 1, Compute::NONE), // OP_OPERAND
    other("call", -1, 1, Compute::HOST),   // OP_CALL
    other("argument", 0, 0, Compute::NONE), // OP_ARG
    other("branch", 1, 0, Compute::BRANCH),
    other("jump", 1, 0, Compute::JUMP),
    other("join", 1, 1, Compute::JOIN),
    unary("-", negate),                    // OP_NEG
    unary("!", not_of),                    // OP_NOT
    binary("<", lt_of),
    binary("<=", le_of),
    binary(">", gt_of),
    binary(">=", ge_of),
    binary("==", eq_of),
    binary("!=", ne_of),
    other("&&", 2, 1, Compute::NONE),      // OP_AND: its steps are a conditional's
    other("||", 2, 1, Compute::NONE),      // OP_OR
    other("?:", 3, 1, Compute::NONE),      // OP_SELECT
    other("function", -1, 1, Compute::NONE), // OP_FUNCTION: its arguments, its body, a SCOPE
    other("number", 0, 1, Compute::NONE),  // OP_NUMBER: a leaf
    other("name", 0, 1, Compute::NONE),    // OP_NAME: a leaf
    other("parameter", 0, 1, Compute::LOCAL), // OP_PARAM
    unary("truth", truth_of),              // OP_TRUTH
    other("scope", -1, 1, Compute::SCOPE), // OP_SCOPE: the arguments and the body's value
    binary("^", square_of),                // OP_SQUARE: its right operand is 2
};
static_assert(std::size(kOpKinds) == OP_KIND_COUNT, "a row per operation id");

float compute(int32_t op, const float *operands) {
    const OpKind &kind = kind_of(op);
    switch (kind.compute) {
    case Compute::ADD: return float_add(operands[0], operands[1]);
    case Compute::SUB: return float_sub(operands[0], operands[1]);
    case Compute::MUL: return float_mul(operands[0], operands[1]);
    case Compute::DIV: return float_div(operands[0], operands[1]);
    case Compute::ROUTINE: return kind.arity == 1 ? kind.unary(operands[0]) : kind.binary(operands[0], operands[1]);
    case Compute::HOST:
    case Compute::BRANCH:
    case Compute::JUMP:
    case Compute::JOIN:
    case Compute::LOCAL:
    case Compute::SCOPE:
    case Compute::NONE: break;
    }
    impossible(true); // calls, conditionals and scopes are their evaluators' own
    return 0.0f;
}

} // namespace lp
