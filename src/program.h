// program.h - an expanded tree flattened into a post-order program, evaluated without recursion or text work.
#ifndef LIB_PARSE_PROGRAM_H
#define LIB_PARSE_PROGRAM_H

#include <cstddef>
#include <cstdint>

#include "containers.h"
#include "operation_table.h"

namespace lp {

struct CallData; // host.h
struct VarIndex; // variables.h

// A node whose value needs no other node: a number, a name, or an operator
// over numbers only (folded once, with the evaluator's own arithmetic, so the
// bits are those the tree would compute).
struct LeafStep {
    NodeData *node;
    const float *source; // the bound variable's value, `constant`, or the node's own value
    float constant;
    bool is_name; // bound again when a variable is added
};

// An operator node. An operand that is a leaf is read at the leaf's source,
// the result of the step just before is taken from a register (a null
// pointer), any other from the child's record. Reading back a value just
// stored would put a store-to-load delay on every step of a chain.
struct OpStep {
    NodeData *node;
    const float *left; // unused for a one-argument function
    const float *right;
    int32_t op;
    int32_t left_leaf, right_leaf; // index in `leaves` of a leaf operand, else -1
    int32_t call;                  // a host function's call (op OP_CALL): index in `calls`
};

// An argument of a call: where its value is read, and the leaf it is, or -1.
struct ArgRef {
    const float *source;
    int32_t leaf;
};

// A host function's call that is not folded: its record and its arguments,
// args[first .. first + count).
struct CallStep {
    const CallData *call;
    uint32_t first, count;
};

// A program in machine code (native.h): evaluates it and returns the root's value.
using NativeFn = float (*)();

// Interpreted runs of one program before it is compiled (program_run). Measured
// on x86-64: compiling a short text costs 0.3-0.7 us, less than parsing it
// (0.7-4 us), and saves 2-9 ns per evaluation (about 80 ns on a 20-deep
// nesting), so it pays for itself after 35-150 evaluations. Compiling once
// the interpreter has spent about that much keeps any number of evaluations
// within twice the cost of the better choice made in hindsight.
constexpr uint32_t kNativeAfterRuns = 64;

struct Program {
    const TreeNode *root;
    NodeData *root_data;
    uint64_t generation; // of the variable list the names were bound against
    LeafStep *leaves;
    size_t leaf_count;
    OpStep *ops; // in post-order: children before their parent
    size_t op_count;
    // The whole tree in post-order for evaluators that keep a value stack:
    // k >= 0 is ops[k], k < 0 is leaves[-k - 1]. Folded subtrees appear as
    // their leaf alone.
    int32_t *order;
    size_t order_count;
    size_t max_stack; // deepest value stack that `order` needs
    // The name leaves again, as the records to write at every run. A constant
    // leaf's record is written at the first run only: until the tree is
    // released no one but this program writes its records.
    LeafStep *names;
    size_t name_count;
    // The operators that were folded, each the root of a subtree of constants
    // that has one leaf step: the first run writes their subtrees' records.
    const TreeNode **folded;
    size_t folded_count;
    bool constants_written;
    CallStep *calls; // host functions called at every run
    size_t call_count;
    ArgRef *args;
    size_t arg_count;
    // While machine code runs the program: the last run's value of each
    // name leaf (at its index in `leaves`) and of each host call (at
    // leaf_count + its index in `calls`), all the records need.
    float *kept;
    size_t capacity; // nodes the arrays have room for
    NativeFn native;    // the program in machine code, or null
    uint32_t runs;      // interpreted runs toward compilation, up to kNativeAfterRuns
};

// Flattens the tree under ROOT, as expansion builds it, and binds its names
// in VARS. Given REUSE, the program of an earlier tree, its arrays are kept
// when they fit, and it is the program returned or freed.
Program *program_build(const TreeNode *root, const VarIndex *vars, uint64_t generation, Program *reuse = nullptr);
void program_free(Program *program);
// Binds every name again: the variable list has grown since. Drops the
// machine code, which reads the names where they were bound.
void program_bind(Program *program, const VarIndex *vars, uint64_t generation);

// Evaluates the tree with the names as bound: leaves every node's value and
// state DONE as a bottom-up evaluation of the tree would, and returns the root's value.
float program_execute(Program *program);

// Compiles the program to machine code, or leaves it to the interpreter
// when that is refused.
void program_compile(Program *program);
// Releases the machine code, leaving the records of its last run; the
// interpreter runs the program again, and counts its runs toward compiling
// from zero.
void program_drop_native(Program *program);
// Makes every record show the last run, when that ran in machine code: the
// operators' values are computed again from the kept values, with the same
// arithmetic, so they are the bits that run computed.
void program_sync_records(Program *program);

// The same after binding the names again if variables were added since.
// NATIVE allows machine code: a program interpreted kNativeAfterRuns times is
// compiled, and runs in machine code from then on.
inline float program_run(Program *program, const VarIndex *vars, uint64_t generation, bool native) {
    if (program->generation != generation) program_bind(program, vars, generation);
    if (program->native != nullptr) return program->native();
    const float value = program_execute(program);
    if (native && program->runs < kNativeAfterRuns && ++program->runs == kNativeAfterRuns) program_compile(program);
    return value;
}

} // namespace lp

#endif // LIB_PARSE_PROGRAM_H
