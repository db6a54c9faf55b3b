// subtree.cpp - cutting a node's text at operator positions and building the operation's subtree.
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "diagnostics.h"
#include "lib_parse_internal.h"
#include "memory.h"

namespace lp {

namespace {

char *empty_text() { return lp_strndup("", 0); }

void place(TreeNode *node, NodeData *data) { btree_fill(node, data); }

// Links node K of a complete binary tree in array order to its parent.
void link_to_parent(TreeNode **nodes, size_t k) {
    TreeNode *parent = nodes[(k - 1) / 2];
    if (k % 2 == 1)
        parent->left = nodes[k];
    else
        parent->right = nodes[k];
}

// The operation used off the leftmost path of a chain: "a-b-c-d" is
// ((a-b)-(c+d)), so inner pairs on the right are summed, and likewise
// multiplied for "/".
int32_t companion_of(int32_t id) {
    if (id == OP_SUB) return OP_ADD;
    if (id == OP_DIV) return OP_MUL;
    return id;
}

// Fewer than two operands: the subtree is a single operand.
TreeNode *single_operand(TreeNode **nodes, List *operands) {
    char *text = list_count(operands) > 0 ? static_cast<char *>(list_pop_index(operands, 0)) : empty_text();
    place(nodes[0], fill_operand_node(text));
    return nodes[0];
}

} // namespace

TreeNode *expand_std_2op_func(const OperationEntry *row, TreeNode **nodes, List *operands) {
    const int m = list_count(operands);
    if (m - 1 <= 0) return single_operand(nodes, operands);

    // Take the texts out in order once; handing them out by index keeps the
    // layout linear in m (removing from the middle of the list would not).
    std::vector<char *> texts;
    texts.reserve(static_cast<size_t>(m));
    while (list_count(operands) > 0) texts.push_back(static_cast<char *>(list_pop_index(operands, 0)));

    const size_t total = 2 * static_cast<size_t>(m) - 1;
    size_t last_level = 1; // 2^h, the first node index of the last level plus one
    while (last_level * 2 <= total) last_level *= 2;
    const size_t on_last_level = 2 * static_cast<size_t>(m) - last_level; // w

    size_t leftmost = 0; // next index on the leftmost path: 0, 1, 3, 7, ...
    for (size_t k = 0; k + 1 < static_cast<size_t>(m); ++k) {
        int32_t id = row->id;
        if (k == leftmost)
            leftmost = 2 * leftmost + 1;
        else
            id = companion_of(row->id);
        place(nodes[k], fill_operator_node(id));
        if (k > 0) link_to_parent(nodes, k);
    }
    // Operand nodes on the level above the last take the operands after the
    // first w; the last level takes the first w. Read left to right, the
    // leaves then hold the operands in text order.
    size_t next_high = on_last_level, next_low = 0;
    for (size_t k = static_cast<size_t>(m) - 1; k < total; ++k) {
        char *text = k < last_level - 1 ? texts[next_high++] : texts[next_low++];
        place(nodes[k], fill_operand_node(text));
        link_to_parent(nodes, k);
    }
    return nodes[0];
}

TreeNode *expand_alt_2op_func(const OperationEntry *row, TreeNode **nodes, List *operands) {
    const int m = list_count(operands);
    if (m - 1 <= 0) return single_operand(nodes, operands);

    // A left-deep chain: each operator takes the last remaining operand on its
    // right, so "a^b^c" is ((a^b)^c).
    place(nodes[0], fill_operator_node(row->id));
    list_reverse(operands);
    for (int j = 0; j <= m - 2; ++j) {
        TreeNode *op_node = nodes[2 * j];
        TreeNode *right = nodes[2 * j + 1];
        place(right, fill_operand_node(static_cast<char *>(list_pop_index(operands, 0))));
        op_node->right = right;
        TreeNode *left = nodes[2 * j + 2];
        if (j < m - 2)
            place(left, fill_operator_node(row->id));
        else
            place(left, fill_operand_node(static_cast<char *>(list_pop_index(operands, 0))));
        op_node->left = left;
    }
    return nodes[0];
}

TreeNode *expand_1op_func(const OperationEntry *row, TreeNode **nodes, List *operands) {
    // A function takes the text after its name as its only (right) operand;
    // anything before the name is dropped.
    place(nodes[0], fill_operator_node(row->id));
    char *argument = static_cast<char *>(list_pop_index(operands, 1));
    place(nodes[1], fill_operand_node(argument != nullptr ? argument : empty_text()));
    nodes[0]->right = nodes[1];
    nodes[0]->left = nullptr;
    return nodes[0];
}

TreeNode *generate_subtree(TreeNode *node, List *positions, int32_t id) {
    auto *data = static_cast<NodeData *>(node->data);
    const int n = list_count(positions);
    if (n <= 0) {
        LP_DIAG(7, "Nothing to expand... updating state to CALCULATE\n");
        data->state = CALCULATE;
        return node;
    }
    if (id < 0 || id >= OP_COUNT) {
        // No row to read: keep the node whole, as one operand.
        LP_REPORT(PARSER_ERR_BAD_OPERATION);
        data->op = OP_OPERAND;
        return node;
    }

    const char *text = data->expr;
    const int32_t length = lngth(text);
    const int32_t symbol_length = lngth(operation[id].name);
    // Copies text[from, to) clamped to the text, so a stray position never
    // reads outside it.
    auto piece = [&](int64_t from, int64_t to) {
        from = std::clamp<int64_t>(from, 0, length);
        to = std::clamp<int64_t>(to, from, length);
        return lp_strndup(text + from, static_cast<size_t>(to - from));
    };

    List *operands = list_new();
    int32_t previous_end = -1; // last character of the previous occurrence
    int32_t p = -1;
    for (ListNode *at = positions->head; at != nullptr; at = at->next) {
        p = *static_cast<int32_t *>(at->data);
        const int64_t k = static_cast<int64_t>(p) - previous_end;
        if (k <= 0) {
            LP_REPORT(PARSER_ERR_CUT_ORDER);
            break;
        }
        list_push(operands, piece(previous_end + 1, p), 0);
        previous_end = p + symbol_length - 1;
    }
    if (length - 1 > p) list_push(operands, piece(static_cast<int64_t>(p) + symbol_length, length), 0);
    list_reverse(operands);

    btree_free(node, parser_bt_node_free); // releases the old text too

    TreeNode *root = run_expander(id, static_cast<size_t>(n), operands);
    list_free(operands, std::free);
    return root;
}

TreeNode *run_expander(int32_t id, size_t positions, List *operands) {
    // 2n + 1 nodes are enough for any operation over n positions; the
    // expander fills those it needs and the rest are scratch.
    const size_t count = 2 * positions + 1;
    auto **nodes = static_cast<TreeNode **>(lp_malloc(count * sizeof(TreeNode *)));
    for (size_t i = 0; i < count; ++i) {
        nodes[i] = btree_new();
        *nodes[i] = TreeNode{nullptr, nullptr, nullptr};
    }
    const OperationEntry *row = &operation[id];
    TreeNode *root = row->expand(row, nodes, operands);
    for (size_t i = 0; i < count; ++i)
        if (nodes[i]->data == nullptr) std::free(nodes[i]);
    std::free(nodes);
    return root;
}

} // namespace lp
