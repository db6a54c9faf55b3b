// expand.cpp - expanding a node's text into a complete expression tree, user-function calls included.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diagnostics.h"
#include "lib_parse_internal.h"
#include "expand_budget.h"
#include "parse_limits.h"

namespace lp {

namespace {

NodeData *data_of(const TreeNode *node) { return static_cast<NodeData *>(node->data); }

bool has_text(const TreeNode *node) { return node != nullptr && node->data != nullptr && data_of(node)->expr != nullptr; }

// One pending step of the walk: expand the node held in SLOT, or, once its
// left subtree is done, go on to its right child.
struct Step {
    TreeNode **slot; // where the node hangs: its parent's left/right, or the root
    int depth;       // substitutions made on the path to this node
    bool right_side; // visit the right child of *slot
};

// Expands the node in *SLOT itself (not its children): strips enclosing
// brackets, then splits it at its operation, substitutes its call, or marks it
// as an operand. Returns the node now in *SLOT.
TreeNode *expand_node(List *funcs, Step *step, Budget *budget) {
    TreeNode *node = *step->slot;
    for (;;) {
        LP_DIAG(8, "_____________new expand_tree______________\n");
        NodeData *data = data_of(node);
        if (data->state != EXPAND) {
            LP_DIAG(7, "NOT Expanding\n");
            return node;
        }
        uint8_t error = 0;
        List *brackets = find_extern_brakets(node, &error);
        if (error) return node; // unbalanced: left as it is
        int32_t id = 0;
        List *positions = find_extern_highest_prio_op(brackets, data->expr, &id, &error);
        if (error) {
            list_free(brackets, std::free);
            return node;
        }
        if (positions != nullptr) {
            list_free(brackets, std::free);
            node = generate_subtree(node, positions, id);
            *step->slot = node;
            list_free(positions, std::free);
            return node;
        }
        if (brackets == nullptr) {
            data->op = OP_OPERAND; // a number or a name
            return node;
        }
        // Brackets but no operation outside them: a call such as 'f(2)'.
        list_free(brackets, std::free);
        if (!substitute(funcs, data, step->depth, budget)) return node;
        step->depth += 1; // and expand the same node again with the body
    }
}

} // namespace

bool substitute(List *funcs, NodeData *data, int depth, Budget *budget) {
    if (depth >= kMaxSubstitutionDepth || budget->substitutions >= kMaxSubstitutions) {
        LP_REPORT(PARSER_ERR_SUBSTITUTION_LIMIT);
        data->op = OP_OPERAND;
        return false;
    }
    SubstituteStatus status;
    char *text = substitute_call(data->expr, funcs, &budget->writable, &status);
    const size_t before = std::strlen(data->expr), after = text != nullptr ? std::strlen(text) : 0;
    const size_t growth = after > before ? after - before : 0;
    if (text != nullptr && growth > kMaxSubstitutionGrowth - budget->growth) {
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
    budget->substitutions += 1;
    budget->growth += growth;
    std::free(data->expr);
    data->expr = text;
    return true;
}

TreeNode *expand_tree(List *funcs, TreeNode *node) {
    // Pre-order with an explicit stack, so messages come out node, left
    // subtree, right subtree, and deep trees cannot exhaust the C stack.
    TreeNode *root = node;
    Budget budget;
    std::vector<Step> pending{Step{&root, 0, false}};
    while (!pending.empty()) {
        Step step = pending.back();
        pending.pop_back();
        if (step.right_side) {
            TreeNode *parent = *step.slot;
            if (has_text(parent->right)) {
                LP_DIAG(7, "Expanding right node expr: \"%s\"\n", data_of(parent->right)->expr);
                pending.push_back(Step{&parent->right, step.depth, false});
            }
            continue;
        }
        TreeNode *expanded = expand_node(funcs, &step, &budget);
        pending.push_back(Step{step.slot, step.depth, true});
        if (has_text(expanded->left)) {
            LP_DIAG(7, "Expanding left node expr: \"%s\"\n", data_of(expanded->left)->expr);
            pending.push_back(Step{&expanded->left, step.depth, false});
        }
    }
    return root;
}

} // namespace lp
