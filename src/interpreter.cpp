// interpreter.cpp - running a program's steps over a value stack, and rebuilding its records after machine code ran.
#include <cstddef>
#include <cstring>

#include "host.h"
#include "program.h"
#include "report.h"

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

// The value of a step that is not a host call, from the operands at STACK.
inline float operate(const OpStep &step, const float *stack) {
    const OpKind &kind = kind_of(step.op);
    switch (kind.compute) {
    case Compute::ADD: return float_add(stack[0], stack[1]);
    case Compute::SUB: return float_sub(stack[0], stack[1]);
    case Compute::MUL: return float_mul(stack[0], stack[1]);
    case Compute::DIV: return float_div(stack[0], stack[1]);
    case Compute::ROUTINE: return kind.arity == 1 ? kind.unary(stack[0]) : kind.binary(stack[0], stack[1]);
    case Compute::HOST:
    case Compute::NONE: break;
    }
    impossible(true);
    return 0.0f;
}

// One run: each leaf read where it stands in the steps, each step's record
// written as it is computed.
struct Run {
    const Program &p;
    float *stack;

    void leaf(size_t depth, size_t index) {
        const LeafStep &leaf = p.leaves[index];
        const float value = *leaf.source;
        if (leaf.is_name) finish(leaf.node, value);
        stack[depth] = value;
    }
    void op(size_t depth, const OpStep &step) {
        float value;
        if (step.op == OP_CALL) {
            const CallStep &c = p.calls[step.call];
            value = c.call->fn(c.call->ctx, stack + depth, static_cast<int>(c.count));
        } else {
            value = operate(step, stack + depth);
        }
        finish(step.node, value);
        stack[depth] = value;
    }
};

// The records of a run made in machine code: the names' values and the
// calls' results it kept, everything else computed from them again.
struct Sync {
    const Program &p;
    float *stack;

    void leaf(size_t depth, size_t index) {
        const LeafStep &leaf = p.leaves[index];
        stack[depth] = leaf.is_name ? p.kept[index] : leaf.constant;
        if (leaf.is_name) finish(leaf.node, stack[depth]);
    }
    void op(size_t depth, const OpStep &step) {
        stack[depth] = step.op == OP_CALL ? p.kept[p.leaf_count + static_cast<size_t>(step.call)]
                                          : operate(step, stack + depth);
        finish(step.node, stack[depth]);
    }
};

} // namespace

float program_execute(Program *program) {
    if (!program->constants_written) {
        for (size_t i = 0; i < program->constant_count; ++i)
            finish(program->constants[i].node, program->constants[i].value);
        program->constants_written = true;
    }
    Run run{*program, program->stack};
    for_each_step(*program, run);
    return program->stack[0];
}

void program_sync_records(Program *program) {
    if (program->native == nullptr) return; // the interpreter wrote them
    Sync sync{*program, program->stack};
    for_each_step(*program, sync);
}

} // namespace lp
