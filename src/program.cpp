// program.cpp - flattening an expanded tree into steps, binding its names, and running it.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "program.h"

#include "arithmetic.h"
#include "handle.h"
#include "host.h"
#include "memory.h"
#include "native.h"
#include "operand.h"
#include "report.h"
#include "small_stack.h"

namespace lp {

namespace {

const NodeData *data_of(const TreeNode *node) { return static_cast<const NodeData *>(node->data); }

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

// "+", "-", "*" and "/": one instruction each.
constexpr uint32_t kBasicOps = (1u << OP_ADD) | (1u << OP_SUB) | (1u << OP_MUL) | (1u << OP_DIV);

// The shapes expansion builds: operators with the children they read,
// functions without a left child, leaves with a text and no children.
bool supported(const TreeNode *node) {
    const NodeData *d = data_of(node);
    if (d == nullptr) return false;
    if (d->op == OP_OPERAND) return d->expr != nullptr && node->left == nullptr && node->right == nullptr;
    if (is_binary(d->op)) return node->left != nullptr && node->right != nullptr;
    if (d->op > OP_MOD && d->op < OP_COUNT) return node->left == nullptr && node->right != nullptr;
    if (d->op == OP_CALL) return node->left == nullptr;
    if (d->op == OP_ARG) return node->left != nullptr;
    return false;
}

// Counts the nodes, or returns 0 for a shape expansion never builds.
size_t count_nodes(const TreeNode *root) {
    SmallStack<const TreeNode *> pending;
    pending.push(root);
    size_t count = 0;
    while (!pending.empty()) {
        const TreeNode *n = pending.pop();
        if (impossible(!supported(n))) return 0;
        ++count;
        if (n->left != nullptr) pending.push(n->left);
        if (n->right != nullptr) pending.push(n->right);
    }
    return count;
}

// Writes the records of the folded subtree under ROOT, every value computed
// again as the build computed it when it folded the subtree.
void write_folded(const TreeNode *root) {
    struct Frame {
        const TreeNode *node;
        bool children_done;
    };
    SmallStack<Frame> frames;
    SmallStack<float> values;
    frames.push(Frame{root, false});
    while (!frames.empty()) {
        const Frame f = frames.pop();
        auto *d = static_cast<NodeData *>(f.node->data);
        float value;
        if (d->op == OP_CALL) {
            // The value the build computed; the arguments' records first.
            if (!f.children_done) {
                frames.push(Frame{f.node, true});
                const size_t base = frames.size();
                for (const TreeNode *link = f.node->right; link != nullptr; link = link->right)
                    frames.push(Frame{link->left, false});
                std::reverse(frames.begin() + base, frames.end()); // the first argument taken first
                continue;
            }
            for (int32_t k = 0; k < call_of(d)->n_args; ++k) values.pop();
            value = call_of(d)->folded;
        } else if (d->op == OP_OPERAND) {
            value = read_number(d->expr);
        } else if (!f.children_done) {
            frames.push(Frame{f.node, true});
            frames.push(Frame{f.node->right, false});
            if (is_binary(d->op)) frames.push(Frame{f.node->left, false}); // taken first
            continue;
        } else {
            const float r = values.pop();
            value = is_binary(d->op) ? binary_of(d->op, values.pop(), r) : function_of(d->op, r);
        }
        finish(d, value);
        values.push(value);
    }
}

// Room for TOTAL nodes in P's arrays: those of the last build when they are
// large enough and not so large that a short text would hold a long one's
// memory; every other field starts again from zero.
void prepare(Program *p, size_t total) {
    native_release(p->native); // the machine code of the tree before
    Program kept = *p;
    if (kept.capacity < total || kept.capacity / 4 > total + 64) {
        std::free(kept.leaves);
        std::free(kept.ops);
        std::free(kept.order);
        std::free(kept.names);
        std::free(kept.folded);
        std::free(kept.calls);
        std::free(kept.args);
        std::free(kept.kept);
        kept.leaves = static_cast<LeafStep *>(lp_malloc(total * sizeof(LeafStep)));
        kept.ops = static_cast<OpStep *>(lp_malloc(total * sizeof(OpStep)));
        kept.order = static_cast<int32_t *>(lp_malloc(total * sizeof(int32_t)));
        kept.names = static_cast<LeafStep *>(lp_malloc(total * sizeof(LeafStep)));
        kept.folded = static_cast<const TreeNode **>(lp_malloc(total * sizeof(TreeNode *)));
        kept.calls = static_cast<CallStep *>(lp_malloc(total * sizeof(CallStep)));
        kept.args = static_cast<ArgRef *>(lp_malloc(total * sizeof(ArgRef)));
        kept.kept = static_cast<float *>(lp_malloc(total * sizeof(float)));
        kept.capacity = total;
    }
    std::memset(static_cast<void *>(p), 0, sizeof *p);
    p->leaves = kept.leaves;
    p->ops = kept.ops;
    p->order = kept.order;
    p->names = kept.names;
    p->folded = kept.folded;
    p->calls = kept.calls;
    p->args = kept.args;
    p->kept = kept.kept;
    p->capacity = kept.capacity;
}

// A name reads the variable it names by prefix; without one, the node keeps
// its own value.
void bind_leaf(LeafStep *leaf, const VarIndex *vars) {
    const Variable *v = variable_by_prefix(vars, leaf->node->expr);
    leaf->source = v != nullptr ? &v->value : &leaf->node->value;
}

} // namespace

Program *program_build(const TreeNode *root, const VarIndex *vars, uint64_t generation, Program *reuse) {
    const size_t total = root != nullptr ? count_nodes(root) : 0;
    if (total == 0) {
        program_free(reuse);
        return nullptr;
    }

    Program *p = reuse != nullptr ? reuse : static_cast<Program *>(lp_calloc(1, sizeof(Program)));
    prepare(p, total);
    p->root = root;
    p->root_data = static_cast<NodeData *>(root->data);

    // Post-order with explicit stacks; each finished node leaves on RESULTS
    // whether its value is a constant, and which one.
    struct Frame {
        const TreeNode *node;
        int stage;          // 0: not started, 1: left done, 2: children done
        size_t order_start; // where the node's subtree begins in `order`
        size_t leaf_start, folded_start; // and in `leaves` and `folded`
    };
    struct Result {
        bool constant;
        float value;
        int32_t leaf;       // index in `leaves`, or -1 for an operator
        size_t op;          // an operator's index in `ops`
        const float *where; // an operator's value
    };
    SmallStack<Frame> frames;
    SmallStack<Result> results;
    size_t depth = 0;
    // A subtree of constants gives way to one constant leaf: its order
    // entries and leaves go, and its folded operators give way to its root.
    const auto fold = [&](const Frame &f, NodeData *d, float value) {
        p->order_count = f.order_start;
        p->leaf_count = f.leaf_start;
        p->folded_count = f.folded_start;
        p->folded[p->folded_count++] = f.node;
        LeafStep &leaf = p->leaves[p->leaf_count];
        leaf = LeafStep{d, nullptr, value, false};
        leaf.source = &leaf.constant;
        p->order[p->order_count++] = -static_cast<int32_t>(++p->leaf_count);
        results.push(Result{true, value, static_cast<int32_t>(p->leaf_count - 1), 0, nullptr});
    };
    frames.push(Frame{root, 0, 0, 0, 0});
    while (!frames.empty()) {
        Frame &f = frames.top();
        auto *d = static_cast<NodeData *>(f.node->data);
        if (f.stage == 0 && d->op == OP_OPERAND) {
            LeafStep &leaf = p->leaves[p->leaf_count];
            leaf.node = d;
            leaf.is_name = is_name(d->expr);
            leaf.constant = leaf.is_name ? 0.0f : read_number(d->expr);
            leaf.source = &leaf.constant;
            p->order[p->order_count++] = -static_cast<int32_t>(++p->leaf_count);
            results.push(Result{!leaf.is_name, leaf.constant, static_cast<int32_t>(p->leaf_count - 1), 0, nullptr});
            if (results.size() > depth) depth = results.size();
            frames.pop();
            continue;
        }
        if (f.stage == 0 && d->op == OP_CALL) {
            f.order_start = p->order_count;
            f.leaf_start = p->leaf_count;
            f.folded_start = p->folded_count;
            f.stage = 2;
            const TreeNode *link = f.node->right; // F is invalid after a push
            const size_t base = frames.size();
            for (; link != nullptr; link = link->right) frames.push(Frame{link->left, 0, 0, 0, 0});
            std::reverse(frames.begin() + base, frames.end()); // the first argument taken first
            continue;
        }
        if (f.stage == 2 && d->op == OP_CALL) {
            const auto *call = call_of(d);
            const size_t n = static_cast<size_t>(call->n_args);
            bool constant = call->pure;
            for (size_t k = 0; k < n; ++k) constant = constant && results.top_at(k).constant;
            if (constant) {
                float values[PARSER_NATIVE_MAX_ARGS];
                for (size_t k = n; k-- > 0;) values[k] = results.pop().value;
                const float value = call->fn != nullptr ? call->fn(call->ctx, values, static_cast<int>(n)) : 0.0f;
                reinterpret_cast<CallData *>(d)->folded = value;
                fold(f, d, value);
            } else {
                // Each argument is read from its leaf or its record, never
                // from the register: the call reads them all at once.
                CallStep &c = p->calls[p->call_count];
                c = CallStep{call, static_cast<uint32_t>(p->arg_count), static_cast<uint32_t>(n)};
                p->arg_count += n;
                for (size_t k = n; k-- > 0;) {
                    const Result a = results.pop();
                    p->args[c.first + k] =
                        a.leaf >= 0 ? ArgRef{p->leaves[a.leaf].source, a.leaf} : ArgRef{a.where, -1};
                }
                const size_t k = p->op_count;
                p->ops[k] = OpStep{d, nullptr, nullptr, OP_CALL, -1, -1, static_cast<int32_t>(p->call_count++)};
                p->order[p->order_count++] = static_cast<int32_t>(p->op_count++);
                results.push(Result{false, 0.0f, -1, k, &d->value});
            }
            if (results.size() > depth) depth = results.size();
            frames.pop();
            continue;
        }
        if (f.stage == 0) {
            f.order_start = p->order_count;
            f.leaf_start = p->leaf_count;
            f.folded_start = p->folded_count;
            f.stage = 1;
            if (is_binary(d->op)) {
                frames.push(Frame{f.node->left, 0, 0, 0, 0}); // invalidates F
                continue;
            }
        }
        if (f.stage == 1) {
            f.stage = 2;
            frames.push(Frame{f.node->right, 0, 0, 0, 0});
            continue;
        }
        const Result r = results.pop();
        const Result l = is_binary(d->op) ? results.pop() : Result{true, 0.0f, -1, 0, nullptr};
        if (l.constant && r.constant) {
            const float value = is_binary(d->op) ? binary_of(d->op, l.value, r.value) : function_of(d->op, r.value);
            fold(f, d, value);
        } else {
            const size_t k = p->op_count;
            // The previous step's result stays in a register.
            auto operand = [k](const Result &x) { return x.leaf < 0 && x.op + 1 == k ? nullptr : x.where; };
            OpStep &op = p->ops[k];
            op = OpStep{d, operand(l), operand(r), d->op, l.leaf, r.leaf, -1};
            if (!is_binary(d->op)) op.left_leaf = -1;
            p->order[p->order_count++] = static_cast<int32_t>(p->op_count++);
            results.push(Result{false, 0.0f, -1, k, &d->value});
        }
        frames.pop();
    }
    p->max_stack = depth;
    program_bind(p, vars, generation);
    return p;
}

void program_free(Program *program) {
    if (program == nullptr) return;
    native_release(program->native);
    std::free(program->leaves);
    std::free(program->ops);
    std::free(program->order);
    std::free(program->names);
    std::free(program->folded);
    std::free(program->calls);
    std::free(program->args);
    std::free(program->kept);
    std::free(program);
}

void program_compile(Program *program) {
    // The kept values start as the interpreter's last run left them.
    for (size_t i = 0; i < program->leaf_count; ++i) program->kept[i] = program->leaves[i].node->value;
    for (size_t k = 0; k < program->op_count; ++k) {
        const OpStep &step = program->ops[k];
        if (step.op == OP_CALL) program->kept[program->leaf_count + static_cast<size_t>(step.call)] = step.node->value;
    }
    program->native = native_compile(program);
}

void program_sync_records(Program *program) {
    if (program->native == nullptr) return; // the interpreter wrote them
    const float *kept = program->kept;
    float last = 0.0f;
    auto operand = [&](const float *where, int32_t leaf) {
        if (leaf >= 0) return program->leaves[leaf].is_name ? kept[leaf] : program->leaves[leaf].constant;
        return where != nullptr ? *where : last;
    };
    for (size_t i = 0; i < program->leaf_count; ++i)
        if (program->leaves[i].is_name) finish(program->leaves[i].node, kept[i]);
    for (size_t k = 0; k < program->op_count; ++k) {
        const OpStep &step = program->ops[k];
        float value;
        if (step.op == OP_CALL) {
            value = kept[program->leaf_count + static_cast<size_t>(step.call)];
        } else {
            const float r = operand(step.right, step.right_leaf);
            value = is_binary(step.op) ? binary_of(step.op, operand(step.left, step.left_leaf), r)
                                       : function_of(step.op, r);
        }
        finish(step.node, value);
        last = value;
    }
}

void program_drop_native(Program *program) {
    program_sync_records(program);
    native_release(program->native);
    program->native = nullptr;
    program->runs = 0;
}

void program_bind(Program *program, const VarIndex *vars, uint64_t generation) {
    program_drop_native(program);
    program->name_count = 0;
    for (size_t i = 0; i < program->leaf_count; ++i) {
        if (!program->leaves[i].is_name) continue;
        bind_leaf(&program->leaves[i], vars);
        program->names[program->name_count++] = program->leaves[i];
    }
    for (size_t i = 0; i < program->op_count; ++i) {
        OpStep &op = program->ops[i];
        if (op.left_leaf >= 0) op.left = program->leaves[op.left_leaf].source;
        if (op.right_leaf >= 0) op.right = program->leaves[op.right_leaf].source;
    }
    for (size_t i = 0; i < program->arg_count; ++i) {
        ArgRef &arg = program->args[i];
        if (arg.leaf >= 0) arg.source = program->leaves[arg.leaf].source;
    }
    program->generation = generation;
}

float program_execute(Program *program) {
    // Leaves first: their values depend on no other node (after the first
    // run only the names; a constant's record keeps its value). Then the
    // operators in post-order, each reading its children's fresh values.
    const LeafStep *leaf = program->names, *leaves_end = leaf + program->name_count;
    if (!program->constants_written) {
        leaf = program->leaves;
        leaves_end = leaf + program->leaf_count;
        for (size_t i = 0; i < program->folded_count; ++i) write_folded(program->folded[i]);
        program->constants_written = true;
    }
    for (; leaf != leaves_end; ++leaf) finish(leaf->node, *leaf->source);
    if (program->op_count == 0) return program->root_data->value;
    const OpStep *step = program->ops, *ops_end = step + program->op_count;
    float last = 0.0f; // the previous step's result
    for (; step != ops_end; ++step) {
        const float r = step->right != nullptr ? *step->right : last;
        float value;
        if (step->op == OP_CALL) {
            const CallStep &c = program->calls[step->call];
            float values[PARSER_NATIVE_MAX_ARGS];
            for (uint32_t k = 0; k < c.count; ++k) values[k] = *program->args[c.first + k].source;
            value = c.call->fn(c.call->ctx, values, static_cast<int>(c.count));
        } else if ((kBasicOps >> step->op) & 1) {
            // All four at once and pick one: a choice by data costs less than
            // a mispredicted jump per step.
            const float l = step->left != nullptr ? *step->left : last;
            const float sum = l + r, difference = l - r, product = l * r, quotient = l / r;
            value = step->op == OP_ADD ? sum : step->op == OP_SUB ? difference : step->op == OP_MUL ? product : quotient;
        } else if (step->op <= OP_MOD) {
            const float l = step->left != nullptr ? *step->left : last;
            value = step->op == OP_POW ? pow_of(l, r) : remainder_of(l, r);
        } else {
            value = function_of(step->op, r);
        }
        finish(step->node, value);
        last = value;
    }
    return last; // the root is the last step
}

} // namespace lp
