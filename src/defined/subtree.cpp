// subtree.cpp - cutting a range at operator positions and building the operation's subtree over the pieces.
#include "defined/subtree.h"

#include <new>

#include "containers/memory.h"
#include "lib_parse.h"
#include "support/arena.h"
#include "support/error_log.h"
#include "support/trace.h"

namespace lp {

namespace {

// Links node K of a complete binary tree in array order to its parent.
void link_to_parent(TreeNode *nodes, size_t k) {
    TreeNode *parent = &nodes[(k - 1) / 2];
    if (k % 2 == 1)
        parent->left = &nodes[k];
    else
        parent->right = &nodes[k];
}

// The operation used off the leftmost path of a chain: "a-b-c-d" is
// ((a-b)-(c+d)), so inner pairs on the right are summed, and likewise
// multiplied for "/".
int32_t companion_of(int32_t id) {
    if (id == OP_SUB) return OP_ADD;
    if (id == OP_DIV) return OP_MUL;
    return id;
}

// An operator's record points at its row's symbol, shared, not copied: no
// one writes a record's text. Inline, as place_operand is: a split of two
// operands makes three nodes, and the calls cost as much as their records.
[[gnu::always_inline]] inline TreeNode *place_operator(TreeNode *node, Pieces *pieces, int32_t id) {
    auto *data = new (pieces->arena->allocate(sizeof(NodeData)))
        NodeData{const_cast<char *>(operation[id].name), static_cast<int16_t>(id), CALCULATE, 0.0f};
    if (pieces->traced) LP_DIAG(kTraceFine, "operator data : %s\n", data->expr);
    node->data = data;
    return node;
}

// An operand's record gets its text once its piece is expanded; until then
// the trace shows the piece. Fills NODE with the operand record of piece K,
// or of the empty text when there is no such piece.
[[gnu::always_inline]] inline TreeNode *place_operand(TreeNode *node, Pieces *pieces, size_t k) {
    node->data = new (pieces->arena->allocate(sizeof(NodeData))) NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f};
    if (k < pieces->count) {
        if (pieces->traced) { // the ranges are kept whenever the records are traced
            const Range &r = pieces->ranges[k];
            LP_DIAG(kTraceFine, "operand data : %.*s\n", static_cast<int>(r.to - r.from), pieces->text + r.from);
        }
    } else {
        if (pieces->traced) LP_DIAG(kTraceFine, "operand data : %.*s\n", 0, "");
        pieces->empty_taken = true;
    }
    return node;
}

// The complete binary tree of 2m - 1 nodes in array order that
// lay_out_balanced makes of M operands: its last level begins at node
// last_level - 1 (a power of two less one) and holds `on_last_level` operands.
struct BalancedShape {
    size_t last_level, on_last_level;
};
BalancedShape balanced_shape(size_t m) {
    size_t last_level = 1;
    while (last_level * 2 <= 2 * m - 1) last_level *= 2;
    return BalancedShape{last_level, 2 * m - last_level};
}

// Each lays out the subtree of one split over NODES, writing each node
// whole, and returns its root.
TreeNode *lay_out_balanced(const OperationEntry *row, TreeNode *nodes, Pieces *pieces) {
    const size_t m = pieces->count;
    nodes[0] = TreeNode{nullptr, nullptr, nullptr};
    // Fewer than two operands: the subtree is a single operand.
    if (impossible(m < 2)) return place_operand(&nodes[0], pieces, 0);
    pieces->taken_to = m;

    // Operators first, then the operands.
    const size_t total = 2 * m - 1;
    const auto [last_level, on_last_level] = balanced_shape(m);

    CheckPoint &check = *pieces->check;
    size_t leftmost = 0; // next index on the leftmost path: 0, 1, 3, 7, ...
    for (size_t k = 0; k + 1 < m; ++k) {
        if (check.pass(kNodeUnits)) return &nodes[0];
        int32_t id = row->id;
        if (k == leftmost)
            leftmost = 2 * leftmost + 1;
        else
            id = companion_of(row->id);
        if (k > 0) nodes[k] = TreeNode{nullptr, nullptr, nullptr};
        place_operator(&nodes[k], pieces, id);
        if (k > 0) link_to_parent(nodes, k);
    }
    // Operand nodes on the level above the last take the operands after the
    // first w; the last level takes the first w. Read left to right, the
    // leaves then hold the operands in text order.
    size_t next_high = on_last_level, next_low = 0;
    for (size_t k = m - 1; k < total; ++k) {
        if (check.pass(kNodeUnits)) return &nodes[0];
        nodes[k] = TreeNode{nullptr, nullptr, nullptr};
        place_operand(&nodes[k], pieces, k < last_level - 1 ? next_high++ : next_low++);
        link_to_parent(nodes, k);
    }
    return &nodes[0];
}

TreeNode *lay_out_left_deep(const OperationEntry *row, TreeNode *nodes, Pieces *pieces) {
    const size_t m = pieces->count;
    nodes[0] = TreeNode{nullptr, nullptr, nullptr};
    if (impossible(m < 2)) return place_operand(&nodes[0], pieces, 0);
    pieces->taken_to = m;

    // A left-deep chain: each operator takes the last remaining operand on its
    // right, so "a^b^c" is ((a^b)^c).
    place_operator(&nodes[0], pieces, row->id);
    for (size_t j = 0; j + 2 <= m; ++j) {
        if (pieces->check->pass(2 * kNodeUnits)) return &nodes[0];
        TreeNode *op_node = &nodes[2 * j];
        nodes[2 * j + 1] = nodes[2 * j + 2] = TreeNode{nullptr, nullptr, nullptr};
        op_node->right = place_operand(&nodes[2 * j + 1], pieces, m - 1 - j);
        TreeNode *left = &nodes[2 * j + 2];
        op_node->left = j + 2 < m ? place_operator(left, pieces, row->id) : place_operand(left, pieces, 0);
    }
    return &nodes[0];
}

TreeNode *lay_out_function(const OperationEntry *row, TreeNode *nodes, Pieces *pieces) {
    // A function takes the text after its name as its only (right) operand;
    // anything before the name is dropped.
    nodes[0] = nodes[1] = TreeNode{nullptr, nullptr, nullptr};
    place_operator(&nodes[0], pieces, row->id);
    nodes[0].right = place_operand(&nodes[1], pieces, 1);
    nodes[0].left = nullptr;
    pieces->taken_from = 1; // none when there is no such piece
    pieces->taken_to = pieces->count > 1 ? 2 : 1;
    return &nodes[0];
}

// Hands the operands of a chain over NODES, laid out by lay_out_balanced
// or lay_out_left_deep, to the sink in text order: piece J of RANGE ends
// where the J-th of POSITIONS stands, the last at the range's end.
void hand_operands(const OperationEntry &row, Range range, const Vector<int32_t> &positions, TreeNode *nodes,
                   Pieces *pieces) {
    const size_t m = pieces->count;
    const auto [last_level, on_last_level] = balanced_shape(m);
    CheckPoint &check = *pieces->check;
    for (size_t j = 0; j < m; ++j) {
        if (check.pass(kNodeUnits)) return;
        size_t k; // piece J's node
        if (row.layout == Layout::LEFT_DEEP)
            k = j == 0 ? 2 * m - 2 : 2 * (m - 1 - j) + 1;
        else
            k = j < on_last_level ? last_level - 1 + j : m - 1 + (j - on_last_level);
        const int32_t from = j == 0 ? range.from : positions[j - 1] + static_cast<int32_t>(row.length);
        const int32_t to = j + 1 < m ? positions[j] : range.to;
        pieces->sink->operand(&nodes[k], Range{range.source, from, to});
    }
}

} // namespace

TreeNode *split_range(const char *text, Range range, int32_t id,
                      const Vector<int32_t> &positions, Pieces *pieces) {
    const OperationEntry &row = operation[id];
    pieces->text = text;
    pieces->ranges.clear();
    // A sink takes its pieces from the positions: a long chain's are not kept.
    const bool keep = pieces->sink == nullptr;
    if (keep && positions.size() >= pieces->ranges.capacity()) pieces->ranges.reserve(positions.size() + 1);
    size_t count = 0;
    pieces->empty_taken = false;
    // The pieces lie between the occurrences: before the first, between each
    // two, and after the last unless the symbol ends the range.
    int64_t previous_end = range.from - 1; // last byte of the previous occurrence
    int64_t p = range.from - 1;
    CheckPoint &check = *pieces->check;
    for (const int32_t position : positions) {
        if (check.pass(1)) break; // the caller sees the stop
        p = position;
        if (impossible(p <= previous_end)) { // occurrences of one symbol never overlap
            LP_REPORT(PARSER_ERR_CUT_ORDER, (Span{static_cast<size_t>(range.from), static_cast<size_t>(range.to - range.from)}));
            break;
        }
        if (keep) pieces->ranges.push_back(Range{range.source, static_cast<int32_t>(previous_end + 1), position});
        ++count;
        previous_end = p + static_cast<int64_t>(row.length) - 1;
    }
    if (range.to - 1 > p) {
        if (keep) pieces->ranges.push_back(Range{range.source, static_cast<int32_t>(p + static_cast<int64_t>(row.length)), range.to});
        ++count;
    }
    pieces->count = count;
    pieces->taken_from = pieces->taken_to = 0; // each layout says which it takes; the first alone when m < 2
    if (count != 0) pieces->taken_to = 1;
    // Stopped within the cuts, so with fewer pieces than the symbol has
    // occurrences: no subtree is laid out over them. The caller sees the
    // stop and leaves the range as it was.
    if (check.stopped()) return nullptr;

    if (row.layout == Layout::FUNCTION)
        return lay_out_function(&row, pieces->arena->nodes(2), pieces);
    // One operator between two operands, the most common split: its three
    // nodes written at once, the tree lay_out_balanced makes of them.
    if (row.layout == Layout::BALANCED && count == 2) {
        TreeNode *nodes = pieces->arena->nodes(3);
        nodes[0] = TreeNode{nullptr, &nodes[1], &nodes[2]};
        nodes[1] = nodes[2] = TreeNode{nullptr, nullptr, nullptr};
        place_operator(&nodes[0], pieces, row.id);
        place_operand(&nodes[1], pieces, 0);
        place_operand(&nodes[2], pieces, 1);
        pieces->taken_to = 2;
        if (pieces->sink != nullptr) hand_operands(row, range, positions, nodes, pieces);
        return &nodes[0];
    }

    // A chain over n positions has 2n + 1 nodes, each written whole as it is
    // placed: a chain stopped halfway reaches none of those not yet placed.
    const size_t node_count = 2 * positions.size() + 1;
    TreeNode *nodes = pieces->arena->nodes(node_count);
    TreeNode *root = row.layout == Layout::BALANCED ? lay_out_balanced(&row, nodes, pieces)
                                                    : lay_out_left_deep(&row, nodes, pieces);
    if (pieces->sink != nullptr && !check.stopped() && count >= 2) hand_operands(row, range, positions, nodes, pieces);
    return root;
}

} // namespace lp
