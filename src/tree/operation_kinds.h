// operation_kinds.h - how each operation is evaluated: the one table every evaluator and code generator reads.
//
// The operation table (operation_table.h) gives the language's symbols in
// priority order; this table says, per operation id, what evaluating an
// operation means. Each evaluator (the interpreter, the record sync, constant
// folding, the block interpreter for bulk rows, and the two machine-code
// generators) switches over Compute with no default, so an operation kind
// added here fails to compile until every evaluator handles it.
#ifndef LIB_PARSE_OPERATION_KINDS_H
#define LIB_PARSE_OPERATION_KINDS_H

#include <cstdint>

#include "tree/operation_table.h"

namespace lp {

enum class Compute : uint8_t {
    ADD, // l + r, one float instruction each
    SUB,
    MUL,
    DIV,
    ROUTINE, // the operation's routine: widen to double, compute, round once
    HOST,    // a host function's call on its arguments
    // The steps of a conditional, which evaluates its condition, then one
    // of its two branches: BRANCH takes the condition and goes on at its
    // target (the second branch) when the condition is 0 (a NaN is true);
    // JUMP, at the end of the first branch, goes on at the JOIN, which gives
    // the conditional the value its branch left. Evaluators that compute
    // both branches (bulk rows, when no host function can tell) read JUMP
    // as taking the first branch's value aside, and JOIN as choosing.
    BRANCH,
    JUMP,
    JOIN,
    // A user function of the standard grammar evaluates its arguments once,
    // onto the value stack, then its body: LOCAL puts a copy of an argument
    // (a parameter) on top, SCOPE takes the arguments from under the body's
    // value.
    LOCAL,
    SCOPE,
    NONE, // no step of a program: a leaf, a link of a call's arguments, a node whose steps are others
};

using UnaryRoutine = float (*)(float);
using BinaryRoutine = float (*)(float, float);

struct OpKind {
    const char *name; // for messages: the symbol, or what the node is
    int32_t arity;    // operands taken from the value stack; -1: as many as the call has
    int32_t results;  // values it leaves on the stack: 1, or 0 for BRANCH and JUMP
    Compute compute;
    bool foldable; // over constants, computed once when the tree is built (a call: when pure)
    UnaryRoutine unary;   // ROUTINE with one operand
    BinaryRoutine binary; // ROUTINE with two

    // A ROUTINE's code, for machine code to call.
    const void *routine() const {
        return arity == 1 ? reinterpret_cast<const void *>(unary) : reinterpret_cast<const void *>(binary);
    }
};

// Operation ids beyond the language's fourteen (OP_OPERAND, OP_CALL and
// OP_ARG, in operation_table.h), then the steps of a conditional, which are
// no node's.
constexpr int32_t OP_BRANCH = OP_ARG + 1;
constexpr int32_t OP_JUMP = OP_BRANCH + 1;
constexpr int32_t OP_JOIN = OP_JUMP + 1;
// The operations of the standard grammar, shown by parser_walk under their
// ids (PARSER_OP_NEG ... PARSER_OP_FUNCTION): a true negation, not, the
// comparisons, the lazy && and ||, c ? a : b, and a user function's call
// (its arguments, then its body).
constexpr int32_t OP_NEG = 20, OP_NOT = 21, OP_LT = 22, OP_LE = 23, OP_GT = 24, OP_GE = 25, OP_EQ = 26,
                  OP_NE = 27, OP_AND = 28, OP_OR = 29, OP_SELECT = 30, OP_FUNCTION = 31;
// Its leaves, shown as operands: a number read when the text was parsed, a
// name matched exactly, a parameter of the function around it (also the
// step that copies its argument).
constexpr int32_t OP_NUMBER = 32, OP_NAME = 33, OP_PARAM = 34;
// Steps of no node's own: a value made 1 or 0 (the right operand of && and
// ||), and the end of a function's scope.
constexpr int32_t OP_TRUTH = 35, OP_SCOPE = 36;
// x ^ 2, a "^" whose exponent is the constant 2: the product x * x, which
// is the same float (see square_of).
constexpr int32_t OP_SQUARE = 37;
constexpr int32_t OP_KIND_COUNT = OP_SQUARE + 1;

// The id parser_walk shows for a node's op: the standard grammar's leaves
// are operands like any other.
inline int32_t public_op(int32_t op) { return op == OP_NUMBER || op == OP_NAME || op == OP_PARAM ? OP_OPERAND : op; }
inline bool is_leaf(int32_t op) { return op == OP_OPERAND || op == OP_NUMBER || op == OP_NAME; }

extern const OpKind kOpKinds[OP_KIND_COUNT];

inline const OpKind &kind_of(int32_t op) { return kOpKinds[op]; }
inline bool is_binary(int32_t op) { return kind_of(op).arity == 2; }

// The NaN a float operation gives when an operand is one: the first such
// operand, quieted, as the processor gives it when the left operand is the
// destination (machine code always makes it so). A C++ compiler may swap the
// operands of + and *, so the C++ evaluators say it explicitly. A NaN made
// from numbers (inf - inf) is the processor's own.
inline float quieted(float x) {
    uint32_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    bits |= 0x00400000u;
    __builtin_memcpy(&x, &bits, sizeof bits);
    return x;
}
// X when TAKE holds, else OTHERWISE, chosen by a mask rather than a jump:
// a choice that changes from value to value is no prediction to miss.
inline float chosen(bool take, float x, float otherwise) {
    uint32_t a, b;
    __builtin_memcpy(&a, &x, sizeof a);
    __builtin_memcpy(&b, &otherwise, sizeof b);
    const uint32_t mask = 0u - static_cast<uint32_t>(take);
    const uint32_t bits = (a & mask) | (b & ~mask);
    __builtin_memcpy(&x, &bits, sizeof bits);
    return x;
}
inline float first_nan(float l, float r, float result) {
    return l != l ? quieted(l) : r != r ? quieted(r) : result;
}
inline float float_add(float l, float r) {
    const float v = l + r;
    return v == v ? v : first_nan(l, r, v);
}
inline float float_sub(float l, float r) {
    const float v = l - r;
    return v == v ? v : first_nan(l, r, v);
}
inline float float_mul(float l, float r) {
    const float v = l * r;
    return v == v ? v : first_nan(l, r, v);
}
inline float float_div(float l, float r) {
    const float v = l / r;
    return v == v ? v : first_nan(l, r, v);
}

// The value of operation OP on its operands, in step order (not for HOST).
float compute(int32_t op, const float *operands);

} // namespace lp

#endif // LIB_PARSE_OPERATION_KINDS_H
