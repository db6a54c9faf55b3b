// interpreter.cpp - running a program's tape, and bringing its records up to date when they are read.
#include <cstddef>

#include "run/program.h"
#include "support/error_log.h"
#include "support/small_stack.h"
#include "tree/host_functions.h"

namespace lp {

namespace {

// A node's record once computed.
inline void finish(NodeData *node, float value) {
    node->state = DONE;
    node->value = value;
}

// The value of a step from its operands at STACK[DEPTH ...]: an operation,
// a host call, the end of a conditional (its branch left the value there), a
// parameter's copy of its argument, or the end of a function's scope.
inline float operate(const Program &p, const OpStep &step, const float *base, size_t depth) {
    const OpKind &kind = kind_of(step.op);
    const float *stack = base + depth;
    switch (kind.compute) {
    case Compute::ADD: return float_add(stack[0], stack[1]);
    case Compute::SUB: return float_sub(stack[0], stack[1]);
    case Compute::MUL: return float_mul(stack[0], stack[1]);
    case Compute::DIV: return float_div(stack[0], stack[1]);
    case Compute::ROUTINE: return kind.arity == 1 ? kind.unary(stack[0]) : kind.binary(stack[0], stack[1]);
    case Compute::HOST: {
        const CallStep &c = p.calls[step.call];
        return c.call->fn(c.call->ctx, stack, static_cast<int>(c.count));
    }
    case Compute::JOIN: return stack[0];
    case Compute::LOCAL: return base[step.target];
    case Compute::SCOPE: return stack[step.target];
    case Compute::BRANCH:
    case Compute::JUMP:
    case Compute::NONE: break;
    }
    impossible(true); // run_steps takes the branches itself
    return 0.0f;
}

// One run of the tape. The operands of an operation are where the tape
// says, or in LAST, the value of the operation before; the records are left
// to program_sync_records. Each operation ends with its own jump to the
// next one's code (with GCC and Clang), so the processor predicts each jump
// from the operation it follows: one shared jump, as a switch makes it, is
// mispredicted at nearly every step of a long text of mixed operations. The
// jump goes to the address the op holds (direct threading), and the run
// keeps nothing but the op across a call: no table, no tape, no program.
// Given ADDRESSES, the call sets it to the table of those addresses instead,
// and runs nothing.
#if defined(__GNUC__) && !defined(LIB_PARSE_TAPE_SWITCH)
#define LIB_PARSE_TAPE_THREADED 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic" // addresses of labels
#define LIB_PARSE_TAPE_CASE(CODE) CODE##_code:
#define LIB_PARSE_TAPE_NEXT goto *(++op)->go
#define LIB_PARSE_TAPE_GO(AT)                                                                                          \
    op = (AT);                                                                                                         \
    goto *op->go
#else // a switch: one shared jump
#define LIB_PARSE_TAPE_THREADED 0
#define LIB_PARSE_TAPE_CASE(CODE) case TapeCode::CODE:
#define LIB_PARSE_TAPE_NEXT                                                                                            \
    ++op;                                                                                                              \
    continue
#define LIB_PARSE_TAPE_GO(AT)                                                                                          \
    op = (AT);                                                                                                         \
    continue
#endif
#define LIB_PARSE_TAPE_VALUE(CODE, VALUE)                                                                              \
    LIB_PARSE_TAPE_CASE(CODE) last = VALUE;                                                                            \
    *op->to = last;                                                                                                    \
    LIB_PARSE_TAPE_NEXT;
#define LIB_PARSE_TAPE_FORMS(CODE, COMPUTE)                                                                            \
    LIB_PARSE_TAPE_VALUE(CODE, COMPUTE(*op->a, *op->b))                                                                \
    LIB_PARSE_TAPE_VALUE(CODE##_A, COMPUTE(last, *op->b))                                                              \
    LIB_PARSE_TAPE_VALUE(CODE##_B, COMPUTE(*op->a, last))
#define LIB_PARSE_TAPE_ADD float_add
#define LIB_PARSE_TAPE_SUB float_sub
#define LIB_PARSE_TAPE_MUL float_mul
#define LIB_PARSE_TAPE_DIV float_div
#define LIB_PARSE_TAPE_PAIR(FIRST, SECOND)                                                                             \
    LIB_PARSE_TAPE_VALUE(FIRST##_##SECOND##_MA,                                                                        \
                         LIB_PARSE_TAPE_##SECOND(LIB_PARSE_TAPE_##FIRST(*op->a, *op->b), *op->fn.c))                   \
    LIB_PARSE_TAPE_VALUE(FIRST##_##SECOND##_MB,                                                                        \
                         LIB_PARSE_TAPE_##SECOND(*op->fn.c, LIB_PARSE_TAPE_##FIRST(*op->a, *op->b)))                   \
    LIB_PARSE_TAPE_VALUE(FIRST##_##SECOND##_LA, LIB_PARSE_TAPE_##SECOND(LIB_PARSE_TAPE_##FIRST(last, *op->b), *op->fn.c)) \
    LIB_PARSE_TAPE_VALUE(FIRST##_##SECOND##_LB, LIB_PARSE_TAPE_##SECOND(*op->fn.c, LIB_PARSE_TAPE_##FIRST(last, *op->b)))
#define LIB_PARSE_TAPE_WITH_UNARY(OP)                                                                                  \
    LIB_PARSE_TAPE_VALUE(OP##_UNARY_M, op->fn.unary(LIB_PARSE_TAPE_##OP(*op->a, *op->b)))                             \
    LIB_PARSE_TAPE_VALUE(OP##_UNARY_L, op->fn.unary(LIB_PARSE_TAPE_##OP(last, *op->b)))                               \
    LIB_PARSE_TAPE_VALUE(UNARY_##OP##_MA, LIB_PARSE_TAPE_##OP(op->fn.unary(*op->a), *op->b))                          \
    LIB_PARSE_TAPE_VALUE(UNARY_##OP##_MB, LIB_PARSE_TAPE_##OP(*op->b, op->fn.unary(*op->a)))                          \
    LIB_PARSE_TAPE_VALUE(UNARY_##OP##_LA, LIB_PARSE_TAPE_##OP(op->fn.unary(last), *op->b))                            \
    LIB_PARSE_TAPE_VALUE(UNARY_##OP##_LB, LIB_PARSE_TAPE_##OP(*op->b, op->fn.unary(last)))
float run_tape(Program *program, const void *const **addresses) noexcept {
#if LIB_PARSE_TAPE_THREADED
    // In TapeCode's order.
    static const void *const code_of[] = {
        &&ADD_code,    &&ADD_A_code,   &&ADD_B_code,    &&SUB_code,      &&SUB_A_code,    &&SUB_B_code,
        &&MUL_code,    &&MUL_A_code,   &&MUL_B_code,    &&DIV_code,      &&DIV_A_code,    &&DIV_B_code,
        &&UNARY_code,  &&UNARY_A_code, &&BINARY_code,   &&BINARY_A_code, &&BINARY_B_code, &&HOST_code,
        &&COPY_code,   &&BRANCH_code,  &&JUMP_code,     &&SELECT_code, &&END_code,
#define LIB_PARSE_TAPE_FUSED_LABELS(FIRST, SECOND)                                                                     \
    &&FIRST##_##SECOND##_MA_code, &&FIRST##_##SECOND##_MB_code, &&FIRST##_##SECOND##_LA_code,                          \
        &&FIRST##_##SECOND##_LB_code,
        LIB_PARSE_TAPE_FUSED(LIB_PARSE_TAPE_FUSED_LABELS)
#undef LIB_PARSE_TAPE_FUSED_LABELS
#define LIB_PARSE_TAPE_UNARY_LABELS(OP) &&OP##_UNARY_M_code, &&OP##_UNARY_L_code,
        LIB_PARSE_TAPE_ARITHMETIC(LIB_PARSE_TAPE_UNARY_LABELS)
#undef LIB_PARSE_TAPE_UNARY_LABELS
#define LIB_PARSE_TAPE_UNARY_LABELS(OP)                                                                                \
    &&UNARY_##OP##_MA_code, &&UNARY_##OP##_MB_code, &&UNARY_##OP##_LA_code, &&UNARY_##OP##_LB_code,
        LIB_PARSE_TAPE_ARITHMETIC(LIB_PARSE_TAPE_UNARY_LABELS)
#undef LIB_PARSE_TAPE_UNARY_LABELS
    };
    static_assert(sizeof code_of / sizeof *code_of == static_cast<int>(TapeCode::UNARY_DIV_LB) + 1, "a label per code");
    if (addresses != nullptr) {
        *addresses = code_of;
        return 0.0f;
    }
#else
    if (addresses != nullptr) {
        *addresses = nullptr;
        return 0.0f;
    }
#endif
    program->records_stale = true; // program_sync_records writes them from what this run keeps
    // The names first, in a loop: as COPY ops, each with its jump, they made
    // short texts slower, though fewer instructions.
    for (const TapeLoad *load = program->loads, *end = load + program->load_count; load != end; ++load)
        *load->to = *load->from;
    const TapeOp *op = program->tape;
    float last = 0.0f;
#if LIB_PARSE_TAPE_THREADED
    goto *op->go;
    {
#else
    for (;;) {
        switch (op->code) {
#endif
        LIB_PARSE_TAPE_FORMS(ADD, float_add)
        LIB_PARSE_TAPE_FORMS(SUB, float_sub)
        LIB_PARSE_TAPE_FORMS(MUL, float_mul)
        LIB_PARSE_TAPE_FORMS(DIV, float_div)
        LIB_PARSE_TAPE_FORMS(BINARY, op->fn.binary)
        LIB_PARSE_TAPE_FUSED(LIB_PARSE_TAPE_PAIR)
        LIB_PARSE_TAPE_ARITHMETIC(LIB_PARSE_TAPE_WITH_UNARY)
        LIB_PARSE_TAPE_VALUE(UNARY, op->fn.unary(*op->a))
        LIB_PARSE_TAPE_VALUE(UNARY_A, op->fn.unary(last))
        LIB_PARSE_TAPE_CASE(HOST) {
            const CallStep &c = *op->fn.call;
            last = c.call->fn(c.call->ctx, op->a, static_cast<int>(c.count));
            *op->keep = last;
            *op->to = last;
            LIB_PARSE_TAPE_NEXT;
        }
        LIB_PARSE_TAPE_CASE(COPY) *op->to = *op->a;
        LIB_PARSE_TAPE_NEXT;
        LIB_PARSE_TAPE_CASE(BRANCH) {
            const float condition = *op->a;
            *op->to = condition;
            if (!holds(condition)) {
                LIB_PARSE_TAPE_GO(op->target);
            }
            LIB_PARSE_TAPE_NEXT;
        }
        LIB_PARSE_TAPE_CASE(JUMP) LIB_PARSE_TAPE_GO(op->target);
        LIB_PARSE_TAPE_CASE(SELECT) *op->to = chosen(holds(*op->a), *op->b, *op->to);
        LIB_PARSE_TAPE_NEXT;
        LIB_PARSE_TAPE_CASE(END) return *op->a;
#if !LIB_PARSE_TAPE_THREADED
        }
#endif
    }
    return 0.0f;
}
#undef LIB_PARSE_TAPE_FORMS
#undef LIB_PARSE_TAPE_PAIR
#undef LIB_PARSE_TAPE_WITH_UNARY
#undef LIB_PARSE_TAPE_ADD
#undef LIB_PARSE_TAPE_SUB
#undef LIB_PARSE_TAPE_MUL
#undef LIB_PARSE_TAPE_DIV
#undef LIB_PARSE_TAPE_VALUE
#undef LIB_PARSE_TAPE_GO
#undef LIB_PARSE_TAPE_NEXT
#undef LIB_PARSE_TAPE_CASE
#if LIB_PARSE_TAPE_THREADED
#pragma GCC diagnostic pop
#endif
#undef LIB_PARSE_TAPE_THREADED

// Puts every node under ROOT back in CALCULATE with the value 0, as a node
// never evaluated: a branch not taken. (Its last value would depend on which
// rows an evaluator kept records for.)
void mark_unevaluated(const TreeNode *root) {
    SmallStack<const TreeNode *> pending;
    pending.push(root);
    while (!pending.empty()) {
        const TreeNode *n = pending.pop();
        auto *d = static_cast<NodeData *>(n->data);
        d->state = CALCULATE;
        d->value = 0.0f;
        if (n->left != nullptr) pending.push(n->left);
        if (n->right != nullptr) pending.push(n->right);
    }
}

// The records of the last run, along the steps it took: the names' values
// and the calls' results the run kept are written, and everything else is
// computed from them again, with the operations' routines, so they are the
// bits the run computed (where the run called a one-lane kernel, the
// rounding test makes its float the routine's). The branch not taken shows
// as not evaluated.
struct Sync {
    const Program &p;
    float *stack;

    void leaf(size_t depth, size_t index) {
        const LeafStep &leaf = p.leaves[index];
        program_write_constants(p, leaf);
        stack[depth] = leaf.is_name ? p.kept[index] : leaf.constant;
        if (leaf.is_name) finish(leaf.node(), stack[depth]);
    }
    bool branch(size_t, const OpStep &step) {
        const bool taken = holds(p.kept[kept_branch(p, step.branch)]);
        const Program::Branches &branches = p.conditionals[step.branch];
        const TreeNode *skipped = taken ? branches.second : branches.first;
        if (skipped != nullptr) mark_unevaluated(skipped);
        return taken;
    }
    void op(size_t depth, const OpStep &step) {
        stack[depth] = step.op == OP_CALL ? p.kept[kept_call(p, step.call)] : operate(p, step, stack, depth);
        finish(step.node, stack[depth]);
    }
};

// The first run of a program, by its steps, with no tape: a text read for
// one evaluation, the most common use of a parse, is not worth one. It
// keeps what the tape's run keeps, and computes each value with the
// operation's routine, whose bits the tape's kernels give too. The steps
// are taken as run_steps takes them, arithmetic without a call.
[[gnu::noinline]] float run_without_tape(Program *program) noexcept {
    if (program->stepped) {
        program_tape(program);
        return run_tape(program, nullptr);
    }
    Program &p = *program;
    p.stepped = true;
    p.records_stale = true;
    float *const stack = p.stack;
    size_t depth = 0;
    for (size_t s = 0; s < p.order_count; ++s) {
        const int32_t entry = p.order[s];
        if (entry < 0) {
            const auto index = static_cast<size_t>(-entry - 1);
            const LeafStep &leaf = p.leaves[index];
            const float value = *leaf.source;
            if (leaf.is_name) p.kept[index] = value;
            stack[depth++] = value;
            continue;
        }
        const OpStep &step = p.ops[entry];
        switch (kind_of(step.op).compute) {
        case Compute::ADD: depth -= 1, stack[depth - 1] = float_add(stack[depth - 1], stack[depth]); break;
        case Compute::SUB: depth -= 1, stack[depth - 1] = float_sub(stack[depth - 1], stack[depth]); break;
        case Compute::MUL: depth -= 1, stack[depth - 1] = float_mul(stack[depth - 1], stack[depth]); break;
        case Compute::DIV: depth -= 1, stack[depth - 1] = float_div(stack[depth - 1], stack[depth]); break;
        case Compute::BRANCH: {
            const float condition = stack[--depth];
            p.kept[kept_branch(p, step.branch)] = condition;
            if (!holds(condition)) s = static_cast<size_t>(step.target) - 1;
            break;
        }
        case Compute::JUMP: s = static_cast<size_t>(step.target) - 1; break;
        default: {
            depth -= operand_count(p, step);
            const float value = operate(p, step, stack, depth);
            if (step.op == OP_CALL) p.kept[kept_call(p, step.call)] = value;
            stack[depth++] = value;
        }
        }
    }
    return stack[0];
}

} // namespace

float program_execute(Program *program) noexcept {
    if (program->tape_count == 0) return run_without_tape(program);
    return run_tape(program, nullptr);
}

const void *const *tape_code_addresses() {
    const void *const *addresses = nullptr;
    run_tape(nullptr, &addresses);
    return addresses;
}

void program_share_names(Program *program) {
    for (size_t k = 1; k <= program->shared_count; ++k) {
        const TapeLoad &share = program->loads[program->tape_capacity - k];
        *share.to = *share.from;
    }
}

void program_sync_records(Program *program) {
    if (program->native == nullptr && !program->records_stale) return; // not run since they were written
    if (program->native == nullptr) program_share_names(program); // machine code keeps every leaf's
    Sync sync{*program, program->stack + program->capacity};
    run_steps(*program, sync);
    program->records_stale = false;
}

} // namespace lp
