// expand.cpp - the walk that builds a text's tree: nodes are cut as ranges of texts whose brackets are matched once.
//
// A pending operand is a range of a source text, kept on the walk's own
// stack until the walk reaches its leaf; a text is made only for a leaf, and
// for a call, which substitution needs as text. So a text nested deep is not
// copied and scanned again at every level, and the walk is the same whether
// or not its steps are traced: a message formats its piece of text from the
// range, only when it is emitted.
#include "expand.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "handle.h"
#include "locate.h"
#include "memory.h"
#include "operation_table.h"
#include "report.h"
#include "substitute.h"
#include "subtree.h"
#include "trace.h"

namespace lp {

namespace {

NodeData *data_of(const TreeNode *node) { return static_cast<NodeData *>(node->data); }

// What substitution may still do in this expansion.
struct Budget {
    long long substitutions = 0;
    size_t writable; // bytes the passes over bodies may still write
    size_t growth = 0; // bytes substitution has added to the tree's texts
};

class Expansion {
public:
    Expansion(List *funcs, const Limits &limits) : funcs_(funcs), limits_(limits) {
        budget_.writable = limits.written_bytes();
    }

    TreeNode *run(const char *text, size_t length) {
        TreeNode *root = btree_new();
        auto *data = static_cast<NodeData *>(lp_malloc(sizeof(NodeData)));
        *data = NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f};
        btree_fill(root, data);
        const uint32_t source = add_source(text, length, nullptr);
        push_range(Range{source, 0, sources_[source]->size()});

        // Pre-order with an explicit stack, so messages come out node, left
        // subtree, right subtree, and deep trees cannot exhaust the C stack.
        std::vector<Step> steps{Step{&root, 0, Side::ROOT}};
        while (!steps.empty()) {
            const Step step = steps.back();
            steps.pop_back();
            if (step.side == Side::AFTER_LEFT) {
                TreeNode *parent = *step.slot;
                if (parent->right != nullptr) steps.push_back(Step{&parent->right, step.depth, Side::RIGHT});
                continue;
            }
            if (step.side != Side::ROOT) trace_descent(*step.slot, step.side);
            int depth = step.depth;
            TreeNode *node = expand_node(step.slot, &depth);
            steps.push_back(Step{step.slot, depth, Side::AFTER_LEFT});
            if (node->left != nullptr) steps.push_back(Step{&node->left, depth, Side::LEFT});
        }
        return root;
    }

private:
    enum class Side { ROOT, LEFT, RIGHT, AFTER_LEFT };

    // Expand the node hanging at SLOT (its parent's left or right, or the
    // root); AFTER_LEFT: its left subtree is done, go on to its right child.
    struct Step {
        TreeNode **slot;
        int depth; // substitutions made on the path to this node
        Side side;
    };

    uint32_t add_source(const char *text, size_t length, char *owned) {
        // Substitution never makes a text longer than the bytes it may write.
        if (impossible(length > static_cast<size_t>(kMaxTextBytes))) length = static_cast<size_t>(kMaxTextBytes);
        sources_.push_back(std::make_unique<SourceText>(text, length, owned));
        return static_cast<uint32_t>(sources_.size() - 1);
    }

    void push_range(Range range) {
        sources_[range.source]->refs += 1;
        ranges_.push_back(range);
    }

    // A range leaves the stack when its leaf is reached; its source goes
    // once no range reads it, so the texts of substituted calls do not pile up.
    void release(Range range) {
        if (--sources_[range.source]->refs == 0) sources_[range.source].reset();
    }

    // Gives the leaf the text of RANGE.
    void settle(NodeData *data, Range range) {
        const SourceText &source = *sources_[range.source];
        std::free(data->expr);
        data->expr = lp_strndup(source.data() + range.from, static_cast<size_t>(range.to - range.from));
        release(range);
    }

    // "Expanding left node expr: ..." before a child is expanded: its text is
    // an operator's symbol, or the piece of a leaf not yet reached, which is
    // the range on top of the stack (leaves are reached in text order).
    void trace_descent(const TreeNode *child, Side side) const {
        if (!dbg_is_enabled(kTraceSteps)) return;
        const char *text = data_of(child)->expr;
        int length = text != nullptr ? static_cast<int>(std::strlen(text)) : 0;
        if (text == nullptr && !ranges_.empty()) {
            const Range &r = ranges_.back();
            text = sources_[r.source]->data() + r.from;
            length = r.to - r.from;
        }
        if (side == Side::LEFT)
            LP_DIAG(kTraceSteps, "Expanding left node expr: \"%.*s\"\n", length, text);
        else
            LP_DIAG(kTraceSteps, "Expanding right node expr: \"%.*s\"\n", length, text);
    }

    // Expands the node at SLOT itself, not its children: strips enclosing
    // brackets, then splits it at its operation, substitutes its call, or
    // settles it as an operand. Returns the node now at SLOT.
    TreeNode *expand_node(TreeNode **slot, int *depth) {
        TreeNode *node = *slot;
        NodeData *data = data_of(node);
        LP_DIAG(kTraceFine, "_____________new expand_tree______________\n");
        if (data->state != EXPAND) {
            LP_DIAG(kTraceSteps, "NOT Expanding\n");
            return node;
        }
        Range range = ranges_.back();
        ranges_.pop_back();
        for (;;) {
            const SourceText &source = *sources_[range.source];
            if (!source.balanced()) { // only a whole text can be unbalanced
                settle(data, range);
                return node;
            }
            strip_enclosing(source, &range.from, &range.to);
            top_level_pairs(source, range.from, range.to, &opens_);
            bool trailing = false;
            const int32_t id = choose_operation(source, range.from, range.to, opens_, &positions_, &trailing);
            if (trailing) { // left as it is
                settle(data, range);
                return node;
            }
            if (id >= 0) {
                node = split_range(node, source.data(), range, id, positions_, &pieces_);
                *slot = node;
                // The leaves take their pieces in text order: the first on top.
                if (pieces_.empty_taken) push_range(Range{range.source, range.to, range.to});
                for (size_t k = pieces_.ranges.size(); k-- > 0;)
                    if (pieces_.taken[k]) push_range(pieces_.ranges[k]);
                release(range);
                return node;
            }
            settle(data, range);
            if (opens_.empty()) {
                data->op = OP_OPERAND; // a number or a name
                return node;
            }
            // Brackets but no operation outside them: a call such as 'f(2)'.
            if (!substitute(data, *depth)) return node;
            *depth += 1;
            const size_t length = std::strlen(data->expr);
            const uint32_t s = add_source(data->expr, length, data->expr); // the source owns the text now
            data->expr = nullptr;
            range = Range{s, 0, sources_[s]->size()};
            sources_[s]->refs += 1;
            LP_DIAG(kTraceFine, "_____________new expand_tree______________\n");
        }
    }

    // Replaces the node's call text by the called function's body. False when
    // no substitution was made; the node is then left as one operand.
    bool substitute(NodeData *data, int depth) {
        if (depth >= limits_.depth() || budget_.substitutions >= limits_.substitutions()) {
            LP_REPORT(PARSER_ERR_SUBSTITUTION_LIMIT);
            data->op = OP_OPERAND;
            return false;
        }
        SubstituteStatus status;
        char *text = substitute_call(data->expr, funcs_, &budget_.writable, &status);
        const size_t before = std::strlen(data->expr), after = text != nullptr ? std::strlen(text) : 0;
        const size_t growth = after > before ? after - before : 0;
        if (text != nullptr && growth > limits_.growth() - budget_.growth) {
            std::free(text); // the tree would outgrow its memory bound
            text = nullptr;
            status = SubstituteStatus::TOO_LARGE;
        }
        if (text == nullptr) {
            LP_REPORT(status == SubstituteStatus::NO_FUNCTION ? PARSER_ERR_UNKNOWN_FUNCTION
                                                              : PARSER_ERR_SUBSTITUTION_LIMIT);
            data->op = OP_OPERAND;
            return false;
        }
        budget_.substitutions += 1;
        budget_.growth += growth;
        std::free(data->expr);
        data->expr = text;
        return true;
    }

    List *funcs_;
    const Limits &limits_;
    Budget budget_;
    std::vector<std::unique_ptr<SourceText>> sources_;
    std::vector<Range> ranges_; // pieces whose leaves the walk has not reached, the next on top
    std::vector<int32_t> opens_, positions_;
    Pieces pieces_;
};

} // namespace

TreeNode *expand_text(const char *text, size_t length, List *funcs, const Limits &limits) {
    parser_init(); // the search and the expanders read the operation table
    Expansion expansion(funcs, limits);
    return expansion.run(text, length);
}

} // namespace lp
