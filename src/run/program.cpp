// program.cpp - flattening an expanded tree into steps, folding its constants, binding its names.
#include "run/program.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "containers/memory.h"
#include "run/machine_code.h"
#include "support/check_point.h"
#include "support/error_log.h"
#include "support/small_stack.h"
#include "tree/handle.h"
#include "tree/host_functions.h"
#include "tree/name_supply.h"
#include "tree/node_order.h"
#include "tree/operand.h"

namespace lp {

namespace {

const NodeData *data_of(const TreeNode *node) { return static_cast<const NodeData *>(node->data); }

// The shapes the builders make: operators with the children they read,
// functions without a left child, leaves with a text and no children; the
// steps of a conditional are no node's. Per op, the facts of a node that
// rule it out and those it must have (a bit each), and the room it needs:
// read from a table, so that a walk over nodes of every kind takes no
// jump that depends on the kind.
struct Shapes {
    enum : uint8_t { LEFT = 1, NO_LEFT = 2, RIGHT = 4, NO_RIGHT = 8, TEXT = 16 };
    // Per op, a bit for each of the eight shapes a node can have (a left
    // child, a right child, a text: bits 0 to 2 of the shape's index), set
    // when builders make it.
    uint8_t allowed[OP_KIND_COUNT];
    // A step, a leaf or a kept value per node, and more for && and ||, each
    // of which is a conditional with a constant part and a TRUTH step
    // besides its node (a call's or a ?:'s parts have links, which are no steps).
    uint8_t room[OP_KIND_COUNT];
    Shapes() {
        for (int32_t op = 0; op < OP_KIND_COUNT; ++op) {
            unsigned forbid = 0, need = 0;
            room[op] = op == OP_AND || op == OP_OR ? kRoomOfAndOr : 1;
            switch (op) {
            case OP_OPERAND:
            case OP_NUMBER:
            case OP_NAME:
            case OP_PARAM:
                forbid = LEFT | RIGHT;
                need = TEXT;
                break;
            case OP_CALL:
            case OP_SELECT:
            case OP_FUNCTION: forbid = LEFT; break; // the operands hang from argument links
            case OP_ARG: forbid = NO_LEFT; break;
            case OP_BRANCH:
            case OP_JUMP:
            case OP_JOIN:
            case OP_TRUTH:
            case OP_SCOPE: forbid = LEFT | NO_LEFT; break; // every node has one or the other
            default: forbid = kind_of(op).arity == 2 ? NO_LEFT | NO_RIGHT : LEFT | NO_RIGHT;
            }
            allowed[op] = 0;
            for (unsigned shape = 0; shape < 8; ++shape) {
                const unsigned facts = ((shape & 1) != 0 ? LEFT : NO_LEFT) | ((shape & 2) != 0 ? RIGHT : NO_RIGHT) |
                                       ((shape & 4) != 0 ? TEXT : 0);
                if ((facts & forbid) == 0 && (facts & need) == need) allowed[op] = static_cast<uint8_t>(allowed[op] | 1u << shape);
            }
        }
    }
    // The room node N needs, or 0 for a shape no builder makes.
    size_t room_of(const TreeNode *n) const {
        const auto *d = static_cast<const NodeData *>(n->data);
        if (d == nullptr || static_cast<uint16_t>(d->op) >= OP_KIND_COUNT) return 0;
        const unsigned shape = (n->left != nullptr ? 1u : 0u) | (n->right != nullptr ? 2u : 0u) | (d->expr != nullptr ? 4u : 0u);
        return (allowed[d->op] >> shape & 1u) != 0 ? room[d->op] : 0;
    }
};

const Shapes &shapes() {
    static const Shapes table;
    return table;
}

// The room the arrays need; 0 for a shape no builder makes, or when stopped.
size_t count_nodes(const TreeNode *root, CheckPoint &check) {
    const Shapes &table = shapes();
    SmallStack<const TreeNode *> pending;
    pending.push(root);
    size_t count = 0;
    while (!pending.empty()) {
        if (check.pass(kNodeUnits)) return 0;
        const TreeNode *n = pending.pop();
        const size_t room = table.room_of(n);
        if (impossible(room == 0)) return 0;
        count += room;
        if (n->left != nullptr) pending.push(n->left);
        if (n->right != nullptr) pending.push(n->right);
    }
    return count;
}

// Releases the kept bulk kernels: the tree, or its names' addresses, changed.
void drop_kernels(Program *p) {
    for (size_t k = 0; k < p->kernel_count; ++k) {
        native_bulk_release(p->kernels[k].code);
        std::free(p->kernels[k].feeds);
    }
    p->kernel_count = 0;
}

// Releases P's arrays and its tape, not P itself.
void free_arrays(Program *p) {
    std::free(p->order);
    std::free(p->leaves);
    std::free(p->ops);
    std::free(p->calls);
    std::free(p->constant_values);
    std::free(p->conditionals);
    std::free(p->stack);
    std::free(p->kept);
    std::free(p->tape);
}

// Room for TOTAL nodes in P's arrays: those of the last build when they are
// large enough and not so large that a short text would hold a long one's
// memory; every other field starts again from zero. Field by field: a
// memset of the whole program is a `rep stos`, whose start costs more than
// the rest of a short text's program.
void prepare(Program *p, size_t total) {
    native_release(p->native); // the machine code of the tree before
    drop_kernels(p);
    if (p->capacity < total || p->capacity / 4 > total + 64) {
        free_arrays(p);
        p->tape = nullptr;
        p->tape_capacity = 0;
        p->order = static_cast<int32_t *>(lp_malloc(total * sizeof(int32_t)));
        p->leaves = static_cast<LeafStep *>(lp_malloc(total * sizeof(LeafStep)));
        p->ops = static_cast<OpStep *>(lp_malloc(total * sizeof(OpStep)));
        p->calls = static_cast<CallStep *>(lp_malloc(total * sizeof(CallStep)));
        p->constant_values = static_cast<float *>(lp_malloc(total * sizeof(float)));
        p->conditionals = static_cast<Program::Branches *>(lp_malloc(total * sizeof(Program::Branches)));
        p->stack = static_cast<float *>(lp_malloc(2 * total * sizeof(float))); // and the records' sync's
        p->kept = static_cast<float *>(lp_malloc(total * sizeof(float)));
        p->capacity = total;
    }
    p->root = nullptr;
    p->root_data = nullptr;
    p->generation = 0;
    p->order_count = 0;
    p->leaf_count = 0;
    p->op_count = 0;
    p->call_count = 0;
    p->host_call_count = 0;
    p->constant_count = 0;
    p->branch_count = 0;
    p->max_stack = 0;
    p->tape_count = 0;
    p->loads = nullptr;
    p->load_count = 0;
    p->shared_count = 0;
    p->records_stale = false;
    p->stepped = false;
    p->native = nullptr;
    p->runs = 0;
    p->kernel_count = 0;
}

// The tree in post-order into the program's steps, each subtree of
// constants folded into one leaf as soon as it is complete: its value is
// computed once, with the evaluators' own arithmetic, and its nodes' records
// are kept to be written at the first run.
class Flattener {
public:
    // CHECK_SHAPES: no count of the nodes went before, which would have
    // checked their shapes, only the room a builder says its nodes need
    // (NodeOrder::room); the walk checks each node's shape.
    Flattener(Program *p, CheckPoint &check, bool check_shapes = false)
        : p_(p), check_(check), shapes_(check_shapes ? &shapes() : nullptr) {}

    // False when stopped at a check point, the program unfinished.
    bool run(const TreeNode *root) {
        frames_.push(Frame{root});
        while (!frames_.empty()) {
            if (check_.pass(kNodeUnits)) return false;
            Frame &f = frames_.top();
            if (f.stage == 0 && !fits(f.node)) return false;
            NodeData *d = record_of(f.node);
            if (is_leaf(d->op)) {
                leaf(f.node, d);
                frames_.pop();
            } else if (d->op == OP_PARAM) {
                parameter(d);
                frames_.pop();
            } else if (d->op == OP_AND || d->op == OP_OR || d->op == OP_SELECT ||
                       (d->op == OP_CALL && call_of(d)->conditional)) {
                conditional(d); // may pop F
            } else if (f.stage == 0) {
                if (d->op == OP_FUNCTION) reinterpret_cast<FunctionData *>(d)->base = static_cast<int32_t>(results_.size());
                f.stage = 1;
                f.order_start = static_cast<uint32_t>(p_->order_count);
                f.leaf_start = static_cast<uint32_t>(p_->leaf_count);
                f.constant_start = static_cast<uint32_t>(p_->constant_count);
                if (d->op != OP_CALL && d->op != OP_FUNCTION) {
                    if (!operator_operands(d)) return false;
                } else {
                    push_operands(f.node); // invalidates F
                }
            } else {
                const Frame done = f;
                frames_.pop();
                operation(done, d);
            }
            if (results_.size() > p_->max_stack) p_->max_stack = results_.size();
        }
        return true;
    }

    // The same over ORDER, the tree's nodes in post-order, none of them a
    // conditional or a function: each node's steps follow its operands',
    // so the list is read once with no frames. A subtree's beginnings are
    // those of its first operand, kept beside each value. MALFORMED: the
    // list is not such a tree's post-order; nothing is kept then.
    enum class Outcome { DONE, STOPPED, MALFORMED };
    Outcome run_in_order(const NodeOrder &order) {
        SmallStack<Starts> starts;
        for (size_t i = 0; i < order.count; ++i) {
            if (check_.pass(kNodeUnits)) return Outcome::STOPPED;
            const TreeNode *node = order.nodes[i];
            NodeData *d = record_of(node);
            const Starts here{static_cast<uint32_t>(p_->order_count), static_cast<uint32_t>(p_->leaf_count),
                              static_cast<uint32_t>(p_->constant_count)};
            if (is_leaf(d->op)) {
                starts.push(here);
                leaf(node, d);
            } else {
                if (!listable(d)) return Outcome::MALFORMED;
                const size_t n = d->op == OP_CALL ? static_cast<size_t>(call_of(d)->n_args)
                                                  : static_cast<size_t>(kind_of(d->op).arity);
                if (n > results_.size() || n > PARSER_NATIVE_MAX_ARGS) return Outcome::MALFORMED;
                Frame f{node};
                const Starts from = n == 0 ? here : starts.begin()[starts.size() - n];
                f.order_start = from.order;
                f.leaf_start = from.leaf;
                f.constant_start = from.constant;
                starts.truncate(starts.size() - n);
                starts.push(from);
                operation(f, d);
            }
            if (results_.size() > p_->max_stack) p_->max_stack = results_.size();
        }
        return results_.size() == 1 ? Outcome::DONE : Outcome::MALFORMED;
    }

private:
    // An operator or a call whose steps are its node's alone, after its operands'.
    static bool listable(const NodeData *d) {
        switch (d->op) {
        case OP_CALL: return !call_of(d)->conditional;
        case OP_AND:
        case OP_OR:
        case OP_SELECT:
        case OP_FUNCTION:
        case OP_PARAM:
        case OP_ARG:
        case OP_BRANCH:
        case OP_JUMP:
        case OP_JOIN:
        case OP_TRUTH:
        case OP_SCOPE: return false;
        default: return d->op >= 0 && d->op < OP_KIND_COUNT;
        }
    }
    struct Starts {
        uint32_t order, leaf, constant;
    };
    struct Frame {
        const TreeNode *node;
        int stage = 0; // operands pushed; for a conditional, the branches begun
        // Where the node's subtree begins in `order`, `leaves` and the
        // constants: 32-bit indexes, as the steps' are, so that a frame is
        // 32 bytes (a deep tree has one per level).
        uint32_t order_start = 0, leaf_start = 0, constant_start = 0;
        int32_t branch = -1, jump = -1; // a conditional's BRANCH and JUMP, in `ops`
    };
    static_assert(sizeof(void *) != 8 || sizeof(Frame) == 32, "a frame stays 32 bytes");
    struct Result {
        bool constant;
        float value;
    };

    // The operands of the operator on top, D its record. An operand that is
    // a leaf is taken at once rather than by a frame of its own, and an
    // operator whose operands are all leaves is done in the same pass: most
    // nodes of a text are leaves and operators just above them. False when
    // stopped at a check point.
    bool operator_operands(NodeData *d) {
        const TreeNode *node = frames_.top().node;
        const TreeNode *left = kind_of(d->op).arity == 2 ? node->left : nullptr;
        const TreeNode *right = node->right;
        if (left != nullptr) {
            if (!is_leaf(data_of(left)->op)) {
                frames_.push(Frame{right});
                frames_.push(Frame{left});
                return true;
            }
            if (check_.pass(kNodeUnits) || !fits(left)) return false;
            leaf(left, record_of(left));
        }
        if (!is_leaf(data_of(right)->op)) {
            frames_.push(Frame{right});
            return true;
        }
        if (check_.pass(kNodeUnits) || !fits(right)) return false;
        leaf(right, record_of(right));
        if (results_.size() > p_->max_stack) p_->max_stack = results_.size();
        const Frame done = frames_.pop();
        operation(done, d);
        return true;
    }
    // The record of NODE, which the program's steps point at and its run writes.
    static NodeData *record_of(const TreeNode *node) { return static_cast<NodeData *>(node->data); }
    // Whether NODE may be walked: always, after a count that checked it;
    // otherwise when its shape is one a builder makes.
    bool fits(const TreeNode *node) const { return shapes_ == nullptr || !impossible(shapes_->room_of(node) == 0); }

    // The operands of a call or a function, pushed so that the first in text order is taken first.
    void push_operands(const TreeNode *node) {
        // The arguments hang in text order: pushed so, then reversed.
        const size_t base = frames_.size();
        for (const TreeNode *link = node->right; link != nullptr; link = link->right) frames_.push(Frame{link->left});
        for (size_t a = base, b = frames_.size(); a + 1 < b; ++a, --b) {
            const Frame t = frames_.begin()[a];
            frames_.begin()[a] = frames_.begin()[b - 1];
            frames_.begin()[b - 1] = t;
        }
    }

    // The three parts of a conditional: its condition and its two branches;
    // a branch no node has is the constant beside it. && and || give 1 or 0,
    // so the branch that evaluates their right operand ends in a TRUTH step.
    struct Parts {
        const TreeNode *part[3];
        bool truth[3];
        float constant[3];
    };
    static Parts parts_of(const TreeNode *node, int32_t op) {
        if (op == OP_AND) return Parts{{node->left, node->right, nullptr}, {false, true, false}, {0, 0, 0}};
        if (op == OP_OR) return Parts{{node->left, nullptr, node->right}, {false, false, true}, {0, 1, 0}};
        Parts parts{}; // if(c, a, b) and c ? a : b: the parts hang from argument links
        const TreeNode *link = node->right;
        for (const TreeNode *&part : parts.part) {
            part = link->left;
            link = link->right;
        }
        return parts;
    }

    // A conditional as c, BRANCH, a, JUMP, b, JOIN: a stage a part. Never
    // folded, so that the branch not taken is never evaluated.
    void conditional(NodeData *d) {
        Frame &f = frames_.top();
        const Parts parts = parts_of(f.node, d->op);
        for (;;) {
            if (f.stage > 0) { // the part just done: its value is not a constant to fold
                if (parts.truth[f.stage - 1]) emit(d, OP_TRUTH);
                results_.pop();
            }
            if (f.stage == 1) {
                p_->conditionals[p_->branch_count] = Program::Branches{parts.part[1], parts.part[2]};
                f.branch = emit(d, OP_BRANCH, -1, static_cast<int32_t>(p_->branch_count++));
            } else if (f.stage == 2) {
                f.jump = emit(d, OP_JUMP, -1, p_->ops[f.branch].branch);
                p_->ops[f.branch].target = static_cast<int32_t>(p_->order_count);
            } else if (f.stage == 3) {
                p_->ops[f.jump].target = static_cast<int32_t>(p_->order_count);
                emit(d, OP_JOIN, -1, p_->ops[f.branch].branch);
                frames_.pop();
                results_.push(Result{false, 0.0f});
                return;
            }
            const int k = f.stage++;
            if (parts.part[k] != nullptr) {
                frames_.push(Frame{parts.part[k]}); // invalidates F
                return;
            }
            push_leaf(LeafStep{f.node, nullptr, parts.constant[k], false, false, 0, 0});
            results_.push(Result{true, parts.constant[k]});
        }
    }

    // A parameter: a copy of its argument, which the function's call left on
    // the value stack.
    void parameter(NodeData *d) {
        const auto *param = reinterpret_cast<const ParamData *>(d);
        const int32_t k = emit(d, OP_PARAM);
        p_->ops[k].target = param->function->base + param->index;
        results_.push(Result{false, 0.0f});
    }

    // An operation step of node D; returns its index in `ops`. BRANCH: the
    // index of the conditional the step belongs to.
    int32_t emit(NodeData *d, int32_t op, int32_t call = -1, int32_t branch = -1) {
        const int32_t k = static_cast<int32_t>(p_->op_count++);
        p_->ops[k] = OpStep{d, op, call, -1, branch};
        p_->order[p_->order_count++] = k;
        return k;
    }

    void leaf(const TreeNode *node, NodeData *d) {
        // The defined grammar tells a name from a number by its bytes; the
        // standard one has said which it is ('A' and '_1' are names there).
        const bool name = d->op == OP_NAME || (d->op == OP_OPERAND && is_name(d->expr));
        const float value = d->op == OP_NUMBER ? reinterpret_cast<const NumberData *>(d)->number
                            : name                ? 0.0f
                                                  : read_number(d->expr);
        if (!name) keep_constant(value);
        push_leaf(LeafStep{node, nullptr, value, name, d->op == OP_NAME,
                           static_cast<uint32_t>(p_->constant_count - (name ? 0 : 1)),
                           static_cast<uint32_t>(p_->constant_count)});
        results_.push(Result{!name, value});
    }

    void keep_constant(float value) { p_->constant_values[p_->constant_count++] = value; }

    void push_leaf(const LeafStep &step) {
        LeafStep &leaf = p_->leaves[p_->leaf_count];
        leaf = step;
        leaf.source = &leaf.constant;
        p_->order[p_->order_count++] = -static_cast<int32_t>(++p_->leaf_count);
    }

    [[gnu::always_inline]] void operation(const Frame &f, NodeData *d) {
        if (d->op == OP_FUNCTION) {
            // Its arguments and its body's value give way to that value.
            const int32_t n = reinterpret_cast<const FunctionData *>(d)->n_params;
            for (int32_t k = 0; k <= n; ++k) results_.pop();
            p_->ops[emit(d, OP_SCOPE)].target = n;
            results_.push(Result{false, 0.0f});
            return;
        }
        const CallData *call = d->op == OP_CALL ? call_of(d) : nullptr;
        const size_t n = call != nullptr ? static_cast<size_t>(call->n_args) : static_cast<size_t>(kind_of(d->op).arity);
        bool constant = call != nullptr ? call->pure : kind_of(d->op).foldable;
        float operands[PARSER_NATIVE_MAX_ARGS > 2 ? PARSER_NATIVE_MAX_ARGS : 2];
        bool constant_right = false;
        for (size_t k = n; k-- > 0;) {
            const Result r = results_.pop();
            constant = constant && r.constant;
            operands[k] = r.value;
            if (k == n - 1) constant_right = r.constant;
        }
        if (!constant) {
            if (call != nullptr) {
                p_->calls[p_->call_count] = CallStep{call, static_cast<uint32_t>(n)};
                p_->host_call_count += !call->own;
            }
            // x ^ 2 as x * x (OP_SQUARE), the same float without a call of pow.
            const bool square = d->op == OP_POW && constant_right && operands[1] == 2.0f;
            emit(d, square ? OP_SQUARE : d->op, call != nullptr ? static_cast<int32_t>(p_->call_count++) : -1);
            results_.push(Result{false, 0.0f});
            return;
        }
        // A call with the wrong number of arguments has no function: 0.
        const float value = call == nullptr          ? compute(d->op, operands)
                            : call->fn != nullptr    ? call->fn(call->ctx, operands, static_cast<int>(n))
                                                     : 0.0f;
        p_->order_count = f.order_start;
        p_->leaf_count = f.leaf_start;
        keep_constant(value);
        push_leaf(LeafStep{f.node, nullptr, value, false, false, f.constant_start,
                           static_cast<uint32_t>(p_->constant_count)});
        results_.push(Result{true, value});
    }

    Program *p_;
    CheckPoint &check_;
    const Shapes *shapes_; // the table each node is checked against, or null when a count checked them
    SmallStack<Frame> frames_;
    SmallStack<Result> results_;
};

// A name reads the variable it names by prefix; without one, the node keeps
// its own value.
void bind_leaf(LeafStep *leaf, const VarIndex *vars, const NameSupply *supply = nullptr) {
    const char *name = leaf->node()->expr;
    const Variable *v = leaf->exact ? var_index_find_any(vars, name) : variable_by_prefix(vars, name);
    if (v == nullptr && supply != nullptr) v = (*supply)(name);
    leaf->source = v != nullptr ? &v->value : &leaf->node()->value;
}

void bind_names(Program *program, const VarIndex *vars, uint64_t generation, CheckPoint &check,
                const NameSupply *supply = nullptr) {
    for (size_t i = 0; i < program->leaf_count; ++i) {
        if (check.pass(kNodeUnits)) return;
        if (program->leaves[i].is_name) bind_leaf(&program->leaves[i], vars, supply);
    }
    program->generation = generation;
}

} // namespace

Program *program_build(const TreeNode *root, const VarIndex *vars, uint64_t generation, Program *reuse,
                       CheckPoint &check, const NameSupply *supply, const NodeOrder *order) {
    // A listed order ends at its root; its length is the room the arrays
    // need, a step or a leaf per node.
    const bool listed = root != nullptr && order != nullptr && order->usable && order->count != 0 &&
                        order->nodes[order->count - 1] == root;
    // A bound a builder gave saves the count.
    const bool bounded = !listed && root != nullptr && order != nullptr && order->room != 0;
    size_t total = listed ? order->count : bounded ? order->room : root != nullptr ? count_nodes(root, check) : 0;
    if (total == 0) {
        program_free(reuse);
        return nullptr;
    }
    Program *p = reuse != nullptr ? reuse : static_cast<Program *>(lp_calloc(1, sizeof(Program)));
    prepare(p, total);
    p->root = root;
    p->root_data = static_cast<NodeData *>(root->data);
    Flattener::Outcome outcome = listed ? Flattener(p, check).run_in_order(*order) : Flattener::Outcome::MALFORMED;
    if (outcome == Flattener::Outcome::MALFORMED) { // not listed, or not a list the tree's walk would give
        if (impossible(listed)) prepare(p, total = count_nodes(root, check));
        outcome = total != 0 && Flattener(p, check, bounded).run(root) ? Flattener::Outcome::DONE
                                                                       : Flattener::Outcome::STOPPED;
    }
    if (outcome != Flattener::Outcome::DONE) {
        program_free(p);
        return nullptr;
    }
    // A program not yet run has no records to bring up to date. A name the
    // host supplies is defined meanwhile, after GENERATION: the first run
    // binds every name again, so a prefix read bound before it finds it.
    bind_names(p, vars, generation, check, supply);
    if (check.stopped()) {
        program_free(p);
        return nullptr;
    }
    program_tape_room(p); // the tape itself is made at its second run (program_execute)
    return p;
}

void program_write_constants(const Program &program, const LeafStep &leaf) {
    // The flattening went through a subtree left to right, each node after
    // its operands (a call's in argument order): read backwards, that is
    // each node before its operands, taken right to left.
    const float *values = program.constant_values + leaf.constants_from;
    size_t left = leaf.constants_to - leaf.constants_from;
    if (left == 0) return;
    SmallStack<const TreeNode *> pending;
    pending.push(leaf.tree);
    while (!pending.empty() && left > 0) {
        const TreeNode *n = pending.pop();
        auto *d = static_cast<NodeData *>(n->data);
        d->state = DONE;
        d->value = values[--left];
        if (d->op == OP_CALL) {
            for (const TreeNode *link = n->right; link != nullptr; link = link->right) pending.push(link->left);
        } else if (!is_leaf(d->op)) {
            if (kind_of(d->op).arity == 2) pending.push(n->left);
            pending.push(n->right);
        }
    }
    impossible(left != 0 || !pending.empty()); // a folded subtree has a value for each node
}

void program_free(Program *program) {
    if (program == nullptr) return;
    native_release(program->native);
    drop_kernels(program);
    free_arrays(program);
    std::free(program);
}

void program_bind(Program *program, const VarIndex *vars, uint64_t generation) {
    program_drop_native(program);
    drop_kernels(program);
    CheckPoint unstoppable(nullptr); // a tree's evaluation is never stopped
    bind_names(program, vars, generation, unstoppable);
    // The tape reads the names' old places: it is made again at the next run.
    program->tape_count = 0;
    program->load_count = 0;
    program->shared_count = 0;
}

BulkFn program_bulk_kernel(Program *program, const ColumnFeed *feeds) {
    const size_t n = program->leaf_count;
    for (size_t k = 0; k < program->kernel_count; ++k) {
        const BulkKernel &kernel = program->kernels[k];
        bool same = kernel.avx == native_bulk_avx2;
        for (size_t i = 0; i < n && same; ++i)
            same = kernel.feeds[i].column == feeds[i].column && kernel.feeds[i].source == feeds[i].source;
        if (same) return kernel.code;
    }
    const BulkFn code = native_bulk_compile(program, feeds);
    if (code == nullptr) return nullptr;
    if (program->kernel_count == kBulkKernels) { // the oldest layout gives way
        native_bulk_release(program->kernels[0].code);
        std::free(program->kernels[0].feeds);
        std::memmove(static_cast<void *>(program->kernels), program->kernels + 1,
                     (kBulkKernels - 1) * sizeof(BulkKernel));
        program->kernel_count -= 1;
    }
    auto *copy = static_cast<ColumnFeed *>(lp_malloc(std::max<size_t>(1, n) * sizeof(ColumnFeed)));
    if (n > 0) std::memcpy(copy, feeds, n * sizeof(ColumnFeed));
    program->kernels[program->kernel_count++] = BulkKernel{copy, native_bulk_avx2, code};
    return code;
}

void program_compile(Program *program) {
    // The kept values are the interpreter's last run's, which machine code
    // goes on keeping.
    program_share_names(program);
    program->native = native_compile(program);
}

void program_drop_native(Program *program) {
    program_sync_records(program);
    native_release(program->native);
    program->native = nullptr;
    program->runs = 0;
}

} // namespace lp
