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

#include "operation_table.h"

namespace lp {

enum class Compute : uint8_t {
    ADD, // l + r, one float instruction each
    SUB,
    MUL,
    DIV,
    ROUTINE, // the operation's routine: widen to double, compute, round once
    HOST,    // a host function's call on its arguments
    NONE,    // no step of a program: a leaf, or a link of a call's arguments
};

using UnaryRoutine = float (*)(float);
using BinaryRoutine = float (*)(float, float);

struct OpKind {
    const char *name; // for messages: the symbol, or what the node is
    int32_t arity;    // operands taken from the value stack; -1: as many as the call has
    Compute compute;
    bool foldable; // over constants, computed once when the tree is built (a call: when pure)
    UnaryRoutine unary;   // ROUTINE with one operand
    BinaryRoutine binary; // ROUTINE with two
};

// Operation ids beyond the language's fourteen: a host function's call, and
// the link of a call's argument chain (no step of a program).
constexpr int32_t OP_KIND_COUNT = OP_ARG + 1;

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
