// program.h - an expanded tree flattened into post-order steps, its names bound, for every evaluator to run.
#ifndef LIB_PARSE_PROGRAM_H
#define LIB_PARSE_PROGRAM_H

#include <cstddef>
#include <cstdint>

#include "containers/containers.h"
#include "tree/operation_kinds.h"
#include "tree/operation_table.h"

namespace lp {

class CheckPoint; // check_point.h
struct NodeOrder; // node_order.h
struct NameSupply; // name_supply.h
struct CallData; // host_functions.h
struct VarIndex; // variables.h

// A leaf: a number, a name, or a subtree of constants folded into one value.
struct LeafStep {
    const TreeNode *tree; // the leaf, or the folded subtree's root
    const float *source;  // the bound variable's value, or `constant`
    float constant;
    bool is_name; // bound again when a variable is added
    bool exact;   // a name matched exactly, not as a prefix
    // A constant's records: the values from constants_from to constants_to,
    // its node's and, for a folded subtree, those of the nodes below it, in
    // the order the subtree was flattened (program_folded_nodes).
    uint32_t constants_from, constants_to;

    NodeData *node() const { return static_cast<NodeData *>(tree->data); }
};

// An operation over the values its operands left on the value stack, or a
// step of a conditional (operation_kinds.h).
struct OpStep {
    NodeData *node; // a conditional's steps all name the conditional's node
    int32_t op;     // its row in the kinds table
    int32_t call;   // a host function's call: its index in `calls`
    int32_t target; // BRANCH and JUMP: the index in `order` they go on at; LOCAL: the
                    // depth of the value it copies; SCOPE: the arguments it takes away
    int32_t branch; // a conditional's steps: the conditional's index in the program
};

// A host function's call that is not folded: what to call, and how many
// values of the stack are its arguments.
struct CallStep {
    const CallData *call;
    uint32_t count;
};

// The arithmetic operations, and every pair of them, first and second, in that order.
#define LIB_PARSE_TAPE_ARITHMETIC(X) X(ADD) X(SUB) X(MUL) X(DIV)
#define LIB_PARSE_TAPE_FUSED_OF(FIRST, X) X(FIRST, ADD) X(FIRST, SUB) X(FIRST, MUL) X(FIRST, DIV)
#define LIB_PARSE_TAPE_FUSED(X)                                                                                        \
    LIB_PARSE_TAPE_FUSED_OF(ADD, X) LIB_PARSE_TAPE_FUSED_OF(SUB, X) LIB_PARSE_TAPE_FUSED_OF(MUL, X)                    \
    LIB_PARSE_TAPE_FUSED_OF(DIV, X)

// The interpreter's form of the steps (tape.cpp). Each operation reads its
// operands where they are, a constant, a name's variable (its kept value
// where a host function may change it) or a slot of the value stack, and
// writes its result into a slot: a leaf is no step of its own, and no
// record is written while a tape runs.
// An operation's operands are read at `a` and `b`, or, in the forms
// marked _A (first operand) and _B (second), one of them is the value the
// operation just before computed: it is in a register, not read back from
// its slot, which a chain of operations would otherwise wait on.
enum class TapeCode : uint8_t {
    ADD, // *to = *a + *b
    ADD_A,
    ADD_B,
    SUB,
    SUB_A,
    SUB_B,
    MUL,
    MUL_A,
    MUL_B,
    DIV,
    DIV_A,
    DIV_B,
    UNARY, // *to = fn.unary(*a)
    UNARY_A,
    BINARY, // *to = fn.binary(*a, *b)
    BINARY_A,
    BINARY_B,
    HOST,   // *to = *keep = the call of fn.call on the values from a
    COPY,   // *to = *a: a name read where it stands, an argument put in its slot
    BRANCH, // *to = *a, the condition kept; goes on at `jump` when it is 0
    JUMP,   // goes on at `jump`
    SELECT, // *to = *b when *a holds, else *to stays: a conditional whose branches both ran
    END,    // the tape's last op: the run is over
    // Two operations in one op, the first's value going only to the second
    // (FIRST_SECOND_...): t = *a FIRST *b (M) or last FIRST *b (L), then
    // *to = t SECOND *fn.c (A) or *fn.c SECOND t (B). The first op's value is
    // never written: nothing but the second reads it, and the records are
    // computed again from the kept values.
#define LIB_PARSE_TAPE_FUSED_CODES(FIRST, SECOND) FIRST##_##SECOND##_MA, FIRST##_##SECOND##_MB, FIRST##_##SECOND##_LA, FIRST##_##SECOND##_LB,
    LIB_PARSE_TAPE_FUSED(LIB_PARSE_TAPE_FUSED_CODES)
#undef LIB_PARSE_TAPE_FUSED_CODES
    // A routine of one operand joined the same way: *to = fn.unary(t) for
    // the value t of an arithmetic operation (OP_UNARY_M, _L), or the value
    // of an arithmetic operation of fn.unary(*a) or fn.unary(last) and *b
    // (UNARY_OP_MA, _MB, _LA, _LB, the routine's value on the side of the letter).
#define LIB_PARSE_TAPE_UNARY_CODES(OP) OP##_UNARY_M, OP##_UNARY_L,
    LIB_PARSE_TAPE_ARITHMETIC(LIB_PARSE_TAPE_UNARY_CODES)
#undef LIB_PARSE_TAPE_UNARY_CODES
#define LIB_PARSE_TAPE_UNARY_CODES(OP) UNARY_##OP##_MA, UNARY_##OP##_MB, UNARY_##OP##_LA, UNARY_##OP##_LB,
    LIB_PARSE_TAPE_ARITHMETIC(LIB_PARSE_TAPE_UNARY_CODES)
#undef LIB_PARSE_TAPE_UNARY_CODES
};
// A name's value kept for the records, read before the operations (a
// program whose host calls are all pure, so that nothing changes a variable
// while it runs); or an argument's, put in its slot.
struct TapeLoad {
    const float *from;
    float *to;
};
struct TapeOp {
    // Where the interpreter's code for `code` begins (GCC and Clang, whose
    // labels have addresses): each op jumps to the next op's code directly,
    // with no table between.
    const void *go;
    TapeCode code;
    uint32_t jump; // BRANCH and JUMP: the op they go on at, by its index
    const float *a; // END: where the root's value is
    union {
        const float *b;
        float *keep;          // HOST
        const TapeOp *target; // BRANCH and JUMP: the op at `jump`
    };
    float *to;
    union {
        UnaryRoutine unary;
        BinaryRoutine binary;
        const CallStep *call;
        const float *c; // two operations in one op: the second's other operand
    } fn;
};
static_assert(sizeof(TapeOp) <= 48, "six words: a long text's tape counts toward its memory bound");

// A program in machine code (machine_code.h): evaluates it and returns the root's value.
using NativeFn = float (*)() noexcept;

// A leaf of a bulk evaluation: fed from columns[column], or with column -1
// the same value in every row, read at SOURCE.
struct ColumnFeed {
    const float *source;
    long column;
};
// A program in vector machine code over rows (machine_code.h).
using BulkFn = size_t (*)(const float *const *columns, size_t first, size_t end, float *out);

// Vector code for bulk rows, kept for the column layout it was made for: a
// host that calls parser_calc_bulk again and again compiles it once.
struct BulkKernel {
    ColumnFeed *feeds; // one per leaf
    bool avx;
    BulkFn code;
};
constexpr size_t kBulkKernels = 4; // layouts kept per program; the oldest gives way

// Interpreted runs of one program before it is compiled (program_run).
// Measured on a 2-core x86-64 machine: compiling a short text costs 0.7-1.0
// us once the code runtime is warm (the first compile in a process takes
// about 15 us, setting the runtime up, and the next few 1.4-5 us), and saves
// 10-27 ns per evaluation, so it pays for itself after 35-100 evaluations.
// Compiling once the interpreter has spent about that much keeps any number
// of evaluations within about twice the cost of the better choice made in
// hindsight.
constexpr uint32_t kNativeAfterRuns = 64;

// prepare() (program.cpp) sets every field but the arrays and their
// capacities afresh for each build: a field added here is set there too.
struct Program {
    const TreeNode *root;
    NodeData *root_data;
    uint64_t generation; // of the variable list the names were bound against
    // The steps in the one order every evaluator follows: post-order, the
    // operands of a node in text order before the node. k >= 0 is ops[k],
    // k < 0 is leaves[-k - 1]. A folded subtree is one leaf.
    int32_t *order;
    size_t order_count;
    LeafStep *leaves;
    size_t leaf_count;
    OpStep *ops;
    size_t op_count;
    CallStep *calls;
    size_t call_count;
    size_t host_call_count; // of those, calls that may run host code, which could call back into the handle
    // The values of the constant nodes (numbers, and the nodes of folded
    // subtrees), written into their records at the first run; until the
    // tree is released nothing else writes them. The nodes are found again
    // from each leaf's subtree, not kept: a large text has a constant for
    // nearly every node.
    float *constant_values;
    size_t constant_count;
    // The subtrees of each conditional's two branches, by its index (null
    // for a branch no node has: the 0 of a && b, the 1 of a || b).
    struct Branches {
        const TreeNode *first, *second;
    } *conditionals;
    size_t branch_count;
    size_t max_stack; // deepest value stack the steps need
    // The interpreter's value stack, and after `capacity` floats the one
    // the records' sync computes in: constants the tape was built with
    // stay in the first (tape.cpp, copies_before_the_tape).
    float *stack;
    // The interpreter's tape (tape.cpp), made by the program's second run
    // and again at the first run after the names are bound anew (none
    // until then: tape_count 0); its END says where a run leaves the root's value.
    TapeOp *tape;
    size_t tape_count;
    TapeLoad *loads; // read before the tape, in the same block
    size_t load_count;
    // The leaves of a name read already, whose kept values the records'
    // sync copies from the first leaf's: at the end of `loads`, backwards.
    size_t shared_count;
    size_t tape_capacity; // of `tape` and `loads`, one block
    float select_first;   // a SELECT's first branch's value, while its second one runs
    // The interpreter ran since the records were last written: they are
    // computed from the kept values when read, as after machine code.
    bool records_stale;
    // The program ran once by its steps, as it does first: the next run
    // makes the tape (tape_count 0 until then) and runs that.
    bool stepped;
    // The last run's value of each name leaf (at its index in `leaves`) and
    // of each host call (at leaf_count + its index in `calls`), all the
    // records need, kept by the interpreter (program_share_names for a name
    // it read through another leaf) and machine code. Each
    // conditional's last condition is kept there too (after the calls),
    // which tells the records which branch was not evaluated.
    float *kept;
    size_t capacity;  // nodes the arrays have room for
    NativeFn native;  // the program in machine code, or null
    uint32_t runs;    // interpreted runs toward compilation, up to kNativeAfterRuns
    BulkKernel kernels[kBulkKernels];
    size_t kernel_count;
};

// The values an operation step takes from the value stack.
inline size_t operand_count(const Program &p, const OpStep &step) {
    const int32_t arity = kind_of(step.op).arity;
    if (arity >= 0) return static_cast<size_t>(arity);
    return step.op == OP_CALL ? p.calls[step.call].count : static_cast<size_t>(step.target) + 1;
}

// Where a host call's result and a conditional's condition are kept.
inline size_t kept_call(const Program &p, int32_t call) { return p.leaf_count + static_cast<size_t>(call); }
inline size_t kept_branch(const Program &p, int32_t branch) {
    return p.leaf_count + p.call_count + static_cast<size_t>(branch);
}
// A condition holds unless it is 0; a NaN holds.
inline bool holds(float condition) { return !(condition == 0.0f); }

// The steps in their one order, every one of them, each once: the walk of
// the evaluators that translate a program, or compute both branches of a
// conditional. VISIT.at(s) comes before step s (a label may stand there);
// VISIT.leaf(depth, index) puts leaves[index] on the value stack at DEPTH;
// VISIT.op(depth, step) takes the step's operands at DEPTH, DEPTH + 1, ...
// and leaves its result, if it has one, at DEPTH.
template <class Visit>
void for_each_step(const Program &p, Visit &visit) {
    size_t depth = 0;
    for (size_t s = 0; s < p.order_count; ++s) {
        visit.at(s);
        const int32_t entry = p.order[s];
        if (entry < 0) {
            visit.leaf(depth++, static_cast<size_t>(-entry - 1));
            continue;
        }
        const OpStep &step = p.ops[entry];
        depth -= operand_count(p, step);
        visit.op(depth, step);
        depth += static_cast<size_t>(kind_of(step.op).results);
    }
}

// The steps in the same order as one evaluation takes them: a conditional
// goes on with one branch only, the first when VISIT.branch(depth, step)
// says the condition at DEPTH holds. The value a branch leaves stays where
// the conditional's JOIN finds it.
template <class Visit>
void run_steps(const Program &p, Visit &visit) {
    size_t depth = 0;
    for (size_t s = 0; s < p.order_count; ++s) {
        const int32_t entry = p.order[s];
        if (entry < 0) {
            visit.leaf(depth++, static_cast<size_t>(-entry - 1));
            continue;
        }
        const OpStep &step = p.ops[entry];
        const Compute compute = kind_of(step.op).compute;
        if (compute == Compute::BRANCH) {
            if (!visit.branch(--depth, step)) s = static_cast<size_t>(step.target) - 1;
        } else if (compute == Compute::JUMP) {
            s = static_cast<size_t>(step.target) - 1;
        } else {
            depth -= operand_count(p, step);
            visit.op(depth++, step);
        }
    }
}

// True when a step calls out of machine code: a routine or a host function,
// which may change every vector register.
inline bool program_calls_out(const Program &p) {
    for (size_t k = 0; k < p.op_count; ++k) {
        const Compute c = kind_of(p.ops[k].op).compute;
        if (c == Compute::ROUTINE || c == Compute::HOST) return true;
    }
    return false;
}

// Flattens the tree under ROOT, as expansion builds it, and binds its names
// in VARS (a name none reads is asked of SUPPLY, when given), passing
// CHECK's check points. Given REUSE, the program of an
// earlier tree, its arrays are kept when they fit, and it is the program
// returned or freed. Null for an empty tree, or when CHECK says the call
// was stopped.
Program *program_build(const TreeNode *root, const VarIndex *vars, uint64_t generation, Program *reuse,
                       CheckPoint &check, const NameSupply *supply = nullptr, const NodeOrder *order = nullptr);
void program_free(Program *program);
// Binds every name again: the variable list has grown since. Drops the
// machine code, which reads the names where they were bound.
void program_bind(Program *program, const VarIndex *vars, uint64_t generation);

// Writes the records of LEAF's constants DONE with their values: the
// nodes of its subtree, found again in the order they were flattened.
void program_write_constants(const Program &program, const LeafStep &leaf);

// Makes the interpreter's tape of a program whose names are bound.
void program_tape(Program *program);
// Makes room for the program's tape, which its second run makes: a build
// allocates it, so that no run does.
void program_tape_room(Program *program);
// The address of each TapeCode's code in the interpreter, in TapeCode's
// order, or null where ops are chosen by a switch.
const void *const *tape_code_addresses();

// Evaluates the tree with the names as bound, keeping what the records
// need (program_sync_records writes them), and returns the root's value.
// The first run after a build goes by the steps; the second makes the tape.
float program_execute(Program *program) noexcept;

// Compiles the program to machine code, or leaves it to the interpreter
// when that is refused.
void program_compile(Program *program);
// Releases the machine code, leaving the records of its last run; the
// interpreter runs the program again, and counts its runs toward compiling
// from zero.
void program_drop_native(Program *program);
// The vector code of the program for the column layout FEEDS (one per leaf),
// made once and kept with the program; null where there is none.
BulkFn program_bulk_kernel(Program *program, const ColumnFeed *feeds);

// Gives each name leaf whose value the interpreter read through another leaf
// of the same name that value as its own kept value: the records read it,
// and so does machine code from its first run on.
void program_share_names(Program *program);

// Makes every record show the last run, when that ran in machine code: the
// operators' values are computed again from the kept values, with the same
// arithmetic, so they are the bits that run computed.
void program_sync_records(Program *program);

// True when the interpreter runs PROGRAM from now on: machine code is not
// allowed (NATIVE), or it was tried and is not to be had.
inline bool interpreted_for_good(const Program &program, bool native) {
    return program.native == nullptr && (!native || program.runs == kNativeAfterRuns);
}

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
