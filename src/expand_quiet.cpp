// expand_quiet.cpp - expanding a whole text when no diagnostics are emitted: nodes are cut as index ranges of one copy.
//
// expand_tree gives every node a text of its own and reads it whole: a text
// nested deep is copied and scanned once per level, which is quadratic. When
// no message is emitted nobody sees those texts, so this walk, node for node
// the same as expand_tree's, keeps each pending operand as a range of a
// source text whose brackets are matched once. A text is made only for the
// leaves, and for a call, which substitution needs as text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "expand_budget.h"
#include "lib_parse_internal.h"
#include "memory.h"

namespace lp {

namespace {

NodeData *data_of(const TreeNode *node) { return static_cast<NodeData *>(node->data); }

// A text that nodes are cut from, with the partner of every bracket. It is
// released as soon as no pending range refers to it, so the copies made for
// substituted calls do not pile up.
struct Source {
    std::string_view text;
    std::unique_ptr<char[]> storage;
    std::vector<int32_t> partner; // of each "(" and ")", when balanced
    bool balanced = true;
    long refs = 0;
};

std::unique_ptr<Source> make_source(const char *text) {
    auto source = std::make_unique<Source>();
    const size_t n = std::strlen(text);
    source->storage.reset(new char[n + 1]);
    std::memcpy(source->storage.get(), text, n + 1);
    source->text = std::string_view(source->storage.get(), n);
    source->partner.assign(n, -1);
    std::vector<int32_t> open;
    for (size_t p = 0; p < n; ++p) {
        if (text[p] == '(') {
            open.push_back(static_cast<int32_t>(p));
        } else if (text[p] == ')') {
            if (open.empty()) {
                source->balanced = false;
                break;
            }
            source->partner[static_cast<size_t>(open.back())] = static_cast<int32_t>(p);
            source->partner[p] = open.back();
            open.pop_back();
        }
    }
    if (!open.empty()) source->balanced = false;
    return source;
}

// An operand not yet expanded: its range of a source. The record's `expr`
// points at `empty`, so it reads as an empty text until the leaf's own text
// replaces it.
struct Pending {
    char empty = 0;
    size_t source;
    int64_t from, to;
};

const Pending *pending_of(const NodeData *data) { return reinterpret_cast<const Pending *>(data->expr); }

// Gives the node the text of [from, to), releasing what it held.
void settle(NodeData *data, const Source &source, int64_t from, int64_t to) {
    char *text = lp_strndup(source.text.data() + from, static_cast<size_t>(to - from));
    std::free(data->expr);
    data->expr = text;
}

class QuietExpansion {
public:
    explicit QuietExpansion(List *funcs) : funcs_(funcs) {}

    TreeNode *run(TreeNode *root) {
        // The root's text becomes the first source; from then on every node
        // in EXPAND that the walk meets is a pending range.
        NodeData *data = data_of(root);
        if (data->state == EXPAND && data->expr != nullptr) {
            sources_.push_back(make_source(data->expr));
            std::free(data->expr);
            data->expr = new_pending(0, 0, static_cast<int64_t>(sources_[0]->text.size()));
        }
        struct Step {
            TreeNode **slot;
            int depth;
            bool right_side;
        };
        TreeNode *top = root;
        std::vector<Step> pending{Step{&top, 0, false}};
        while (!pending.empty()) {
            Step step = pending.back();
            pending.pop_back();
            if (step.right_side) {
                TreeNode *parent = *step.slot;
                if (parent->right != nullptr && parent->right->data != nullptr && data_of(parent->right)->expr != nullptr)
                    pending.push_back(Step{&parent->right, step.depth, false});
                continue;
            }
            TreeNode *expanded = expand_node(step.slot, &step.depth);
            pending.push_back(Step{step.slot, step.depth, true});
            if (expanded->left != nullptr && expanded->left->data != nullptr && data_of(expanded->left)->expr != nullptr)
                pending.push_back(Step{&expanded->left, step.depth, false});
        }
        return top;
    }

private:
    char *new_pending(size_t source, int64_t from, int64_t to) {
        sources_[source]->refs += 1;
        auto *p = static_cast<Pending *>(lp_malloc(sizeof(Pending)));
        *p = Pending{0, source, from, to};
        return &p->empty; // the first member: converts back to the record
    }

    void drop(size_t source) {
        if (--sources_[source]->refs == 0) sources_[source].reset();
    }

    // What expand_tree's expand_node does to one node, on its range. The node
    // holds one reference to its source until its range is settled or split.
    TreeNode *expand_node(TreeNode **slot, int *depth) {
        TreeNode *node = *slot;
        NodeData *data = data_of(node);
        if (data->state != EXPAND) return node;
        const Pending *p = pending_of(data);
        size_t s = p->source;
        int64_t from = p->from, to = p->to;
        for (;;) {
            const Source &source = *sources_[s];
            if (!source.balanced) { // only a whole source can be unbalanced
                settle(data, source, from, to);
                drop(s);
                return node;
            }
            // Pairs enclosing the whole range.
            while (to - from >= 2 && source.text[static_cast<size_t>(from)] == '(' &&
                   source.partner[static_cast<size_t>(from)] == to - 1) {
                ++from;
                --to;
            }
            // The top-level pairs, stepping over each one.
            pairs_.clear();
            for (int64_t q = from; q < to;) {
                if (source.text[static_cast<size_t>(q)] == '(') {
                    pairs_.push_back(q);
                    q = source.partner[static_cast<size_t>(q)] + 1;
                } else {
                    ++q;
                }
            }
            int32_t id = -1;
            if (!find_operation(source, from, to, &id)) {
                settle(data, source, from, to); // an operation at the end: left as it is
                drop(s);
                return node;
            }
            if (id >= 0) {
                node = split(node, s, from, to, id);
                drop(s);
                *slot = node;
                return node;
            }
            settle(data, source, from, to);
            drop(s);
            if (pairs_.empty()) {
                data->op = OP_OPERAND; // a number or a name
                return node;
            }
            // Brackets but no operation outside them: a call.
            if (!substitute(funcs_, data, *depth, &budget_)) return node;
            *depth += 1;
            sources_.push_back(make_source(data->expr));
            s = sources_.size() - 1;
            sources_[s]->refs = 1; // held by the node
            from = 0;
            to = static_cast<int64_t>(sources_[s]->text.size());
        }
    }

    // The search of find_extern_highest_prio_op on the stretches outside
    // pairs_: false after reporting an operation at the range's end; else
    // true, with *ID the row found (positions_ filled, relative to FROM) or -1.
    bool find_operation(const Source &source, int64_t from, int64_t to, int32_t *id) {
        const std::string_view t = source.text.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
        bool outside[256] = {};
        for_each_stretch(source, from, to, [&](int64_t a, int64_t b) {
            for (int64_t i = a; i < b; ++i) outside[static_cast<unsigned char>(source.text[static_cast<size_t>(i)])] = true;
        });
        for (int32_t row = 0; row < OP_COUNT; ++row) {
            const std::string_view symbol(operation[row].name);
            if (symbol.size() == 1 && !t.empty() && t.back() == symbol[0]) {
                LP_REPORT(PARSER_ERR_TRAILING_OPERATOR);
                return false;
            }
            if (symbol.empty() || !outside[static_cast<unsigned char>(symbol[0])]) continue;
            positions_.clear();
            for_each_stretch(source, from, to, [&](int64_t a, int64_t b) {
                const std::string_view stretch = source.text.substr(static_cast<size_t>(a), static_cast<size_t>(b - a));
                for (size_t at = stretch.find(symbol); at != std::string_view::npos; at = stretch.find(symbol, at + 1))
                    positions_.push_back(a - from + static_cast<int64_t>(at));
            });
            if (!positions_.empty()) {
                *id = operation[row].id;
                return true;
            }
        }
        *id = -1;
        return true;
    }

    // Calls VISIT(a, b) for each stretch of [from, to) outside pairs_.
    template <class Visit>
    void for_each_stretch(const Source &source, int64_t from, int64_t to, Visit visit) const {
        int64_t a = from;
        for (const int64_t open : pairs_) {
            visit(a, open);
            a = source.partner[static_cast<size_t>(open)] + 1;
        }
        visit(a, to);
    }

    // generate_subtree on a range: the pieces become pending ranges, the
    // operation's expander lays the subtree out as for any text.
    TreeNode *split(TreeNode *node, size_t s, int64_t from, int64_t to, int32_t id) {
        const int64_t length = to - from;
        const int64_t symbol_length = static_cast<int64_t>(std::strlen(operation[id].name));
        std::vector<std::pair<int64_t, int64_t>> pieces;
        int64_t previous_end = -1, p = -1;
        for (const int64_t position : positions_) {
            p = position;
            if (p - previous_end <= 0) {
                LP_REPORT(PARSER_ERR_CUT_ORDER);
                break;
            }
            pieces.emplace_back(previous_end + 1, p);
            previous_end = p + symbol_length - 1;
        }
        if (length - 1 > p) pieces.emplace_back(p + symbol_length, length);
        List *operands = list_new();
        for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
            const int64_t a = std::clamp<int64_t>(it->first, 0, length);
            const int64_t b = std::clamp<int64_t>(it->second, a, length);
            list_push(operands, new_pending(s, from + a, from + b), 0);
        }

        btree_free(node, parser_bt_node_free);
        TreeNode *root = run_expander(id, positions_.size(), operands);
        // Pieces no node took (a function keeps one of its operands).
        while (list_count(operands) > 0) {
            auto *unused = static_cast<Pending *>(list_pop_index(operands, 0));
            drop(unused->source);
            std::free(unused);
        }
        list_free(operands, nullptr);
        return root;
    }

    List *funcs_;
    Budget budget_;
    std::vector<std::unique_ptr<Source>> sources_;
    std::vector<int64_t> pairs_, positions_;
};

} // namespace

TreeNode *expand_text_quiet(List *funcs, TreeNode *root) {
    parser_init(); // the expanders read the operation table
    QuietExpansion expansion(funcs);
    return expansion.run(root);
}

} // namespace lp
