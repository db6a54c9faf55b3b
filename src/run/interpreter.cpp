// interpreter.cpp - running a program's steps over a value stack, and bringing its records up to date after machine code ran.
#include <cstddef>
#include <cstring>

#include "run/program.h"
#include "support/error_log.h"
#include "support/small_stack.h"
#include "tree/host_functions.h"

namespace lp {

namespace {

// Writes a node's state DONE and its value as one eight-byte store: the
// stores, two per node, would otherwise be the bulk of a short program's work.
static_assert(offsetof(NodeData, value) == offsetof(NodeData, state) + sizeof(int32_t), "state and value adjacent");
inline void finish(NodeData *node, float value) {
    struct {
        int32_t state;
        float value;
    } done{DONE, value};
    static_assert(sizeof done == 8, "two fields, no padding");
    std::memcpy(reinterpret_cast<char *>(node) + offsetof(NodeData, state), &done, sizeof done);
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

// One run: each leaf read where it stands in the steps, each step's record
// written as it is computed, each condition kept for the records.
struct Run {
    Program &p;
    float *stack;

    void leaf(size_t depth, size_t index) {
        const LeafStep &leaf = p.leaves[index];
        const float value = *leaf.source;
        if (leaf.is_name) finish(leaf.node, value);
        stack[depth] = value;
    }
    bool branch(size_t depth, const OpStep &step) {
        p.kept[kept_branch(p, step.branch)] = stack[depth];
        return holds(stack[depth]);
    }
    void op(size_t depth, const OpStep &step) {
        const float value = operate(p, step, stack, depth);
        finish(step.node, value);
        stack[depth] = value;
    }
};

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

// The records of the last run, along the steps it took. After machine code
// (RECOMPUTE) the names' values and the calls' results it kept are written
// and everything else computed from them again; after the interpreter, whose
// records are right, only what a conditional changes: the branch not taken
// shows as not evaluated, and the constants of the one taken as evaluated.
struct Sync {
    const Program &p;
    float *stack;
    bool recompute;

    void leaf(size_t depth, size_t index) {
        const LeafStep &leaf = p.leaves[index];
        for (uint32_t k = leaf.constants_from; k < leaf.constants_to; ++k)
            finish(p.constants[k].node, p.constants[k].value);
        stack[depth] = leaf.is_name ? p.kept[index] : leaf.constant;
        if (leaf.is_name && recompute) finish(leaf.node, stack[depth]);
    }
    bool branch(size_t, const OpStep &step) {
        const bool taken = holds(p.kept[kept_branch(p, step.branch)]);
        const Program::Branches &branches = p.conditionals[step.branch];
        const TreeNode *skipped = taken ? branches.second : branches.first;
        if (skipped != nullptr) mark_unevaluated(skipped);
        return taken;
    }
    void op(size_t depth, const OpStep &step) {
        if (!recompute) return;
        stack[depth] = step.op == OP_CALL ? p.kept[kept_call(p, step.call)] : operate(p, step, stack, depth);
        finish(step.node, stack[depth]);
    }
};

// The same run for a program of leaves and operations of one or two
// operands, with the top two values in registers: an operation's result is
// the next one's operand without a store and a load between them. The
// values below the top two live in STACK.
float run_arithmetic(const Program &p) {
    // In locals: the records' stores could otherwise be taken to change them.
    float *const stack = p.stack;
    const int32_t *const order = p.order, *const end = order + p.order_count;
    const LeafStep *const leaves = p.leaves;
    const OpStep *const ops = p.ops;
    size_t depth = 0; // values, the two in registers included
    float top = 0.0f, second = 0.0f;
    for (const int32_t *at = order; at != end; ++at) {
        const int32_t entry = *at;
        if (entry < 0) {
            const LeafStep &leaf = leaves[static_cast<size_t>(-entry - 1)];
            const float value = *leaf.source;
            if (leaf.is_name) finish(leaf.node, value);
            if (depth >= 2) stack[depth - 2] = second;
            second = top;
            top = value;
            ++depth;
            continue;
        }
        const OpStep &step = ops[entry];
        const OpKind &kind = kind_of(step.op);
        if (kind.arity == 1) {
            top = kind.unary(top);
        } else {
            switch (kind.compute) {
            case Compute::ADD: top = float_add(second, top); break;
            case Compute::SUB: top = float_sub(second, top); break;
            case Compute::MUL: top = float_mul(second, top); break;
            case Compute::DIV: top = float_div(second, top); break;
            case Compute::ROUTINE: top = kind.binary(second, top); break;
            case Compute::HOST:
            case Compute::BRANCH:
            case Compute::JUMP:
            case Compute::JOIN:
            case Compute::LOCAL:
            case Compute::SCOPE:
            case Compute::NONE: impossible(true); break; // not in an arithmetic-only program
            }
            --depth;
            second = depth >= 2 ? stack[depth - 2] : 0.0f;
        }
        finish(step.node, top);
    }
    return top;
}

} // namespace

float program_execute(Program *program) {
    if (!program->constants_written) {
        for (size_t i = 0; i < program->constant_count; ++i)
            finish(program->constants[i].node, program->constants[i].value);
        program->constants_written = true;
    }
    if (program->arithmetic_only) return run_arithmetic(*program);
    Run run{*program, program->stack};
    run_steps(*program, run);
    return program->stack[0];
}

void program_sync_records(Program *program) {
    if (program->native == nullptr && program->branch_count == 0) return; // the interpreter wrote them
    Sync sync{*program, program->stack, program->native != nullptr};
    run_steps(*program, sync);
}

} // namespace lp
