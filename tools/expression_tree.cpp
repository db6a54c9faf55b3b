// expression_tree.cpp - copying a handle's tree out and classifying its leaves.
#include "expression_tree.h"

#include <cstdint>
#include <string>

#include "lib_parse.hpp"

namespace lparse {

namespace {

struct Builder {
    ExpressionTree *tree;
    std::vector<int> latest; // index of the last node seen at each depth
};

void visit(void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
    auto *b = static_cast<Builder *>(ctx);
    std::vector<ExprNode> &nodes = b->tree->nodes;
    const int index = static_cast<int>(nodes.size());
    nodes.push_back(ExprNode{expr != nullptr ? expr : "", op, state, value, depth, -1, -1, -1, {}});
    const auto level = static_cast<size_t>(depth);
    if (b->latest.size() <= level) b->latest.resize(level + 1);
    b->latest[level] = index;
    // Pre-order: the parent is the last node seen one level up.
    if (depth > 0) {
        const int parent = b->latest[level - 1];
        nodes.back().parent = parent;
        ExprNode &p = nodes[static_cast<size_t>(parent)];
        if (has_parts(p.op))
            p.args.push_back(index);
        else
            (side == 1 ? p.left : p.right) = index;
    }
}

} // namespace

ExpressionTree ExpressionTree::of(const Parser *parser) {
    ExpressionTree tree;
    Builder builder{&tree, {}};
    parser_walk(parser, visit, &builder);
    return tree;
}

LeafKind leaf_kind(std::string_view text) {
    // What the library says of the leaf's text alone: a handle without
    // variables or functions, so a call left in a leaf is one it could not
    // substitute whatever the definitions.
    static thread_local lib_parse::Parser scratch;
    scratch.limit(PARSER_LIMIT_TEXT_BYTES, INT32_MAX);
    const std::string owned(text);
    for (const lib_parse::Note &note : scratch.check(owned)) {
        if (note.kind == PARSER_NOTE_UNMATCHED_BRACKET) return LeafKind::UNBALANCED;
        if (note.kind == PARSER_ERR_TRAILING_OPERATOR) return LeafKind::TRAILING_OPERATOR;
        if (note.kind == PARSER_ERR_UNKNOWN_FUNCTION || note.kind == PARSER_ERR_SUBSTITUTION_LIMIT)
            return LeafKind::UNRESOLVED_CALL;
    }
    // A name leaf is one name to the library, which tells it from a number.
    return scratch.names(owned).empty() ? LeafKind::NUMBER : LeafKind::NAME;
}

bool is_unsplit(LeafKind kind) {
    return kind == LeafKind::UNBALANCED || kind == LeafKind::TRAILING_OPERATOR || kind == LeafKind::UNRESOLVED_CALL;
}

} // namespace lparse
