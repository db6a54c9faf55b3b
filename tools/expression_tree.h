// expression_tree.h - a handle's tree copied out through parser_walk, with what the calculator reads off it.
#ifndef LPARSE_EXPRESSION_TREE_H
#define LPARSE_EXPRESSION_TREE_H

#include <string>
#include <string_view>
#include <vector>

#include "lib_parse.h"

namespace lparse {

// What a leaf of the tree is.
enum class LeafKind {
    NUMBER,            // a number text (no byte above 'A', as the library reads it)
    NAME,              // a variable name
    UNBALANCED,        // left unsplit: its brackets do not balance
    TRAILING_OPERATOR, // left unsplit: an operator at its end
    UNRESOLVED_CALL,   // left unsplit: a call that could not be substituted
};

struct ExprNode {
    std::string text; // operand text, or the operator's symbol
    int op;           // operation id, or PARSER_OP_OPERAND
    int state;
    float value;
    int depth;
    int parent = -1; // indexes into the node list, or -1
    int left = -1;
    int right = -1;
    std::vector<int> args; // the parts of a call or a ?: (has_parts): in text order, a user function's body last
};

// True for the operations whose children are parts in text order rather than
// a left and a right one: calls, ?: and the standard grammar's user functions.
inline bool has_parts(int op) { return op == PARSER_OP_CALL || op == PARSER_OP_SELECT || op == PARSER_OP_FUNCTION; }

// The tree in pre-order (root first); empty when the handle has no tree.
struct ExpressionTree {
    std::vector<ExprNode> nodes;

    static ExpressionTree of(const Parser *parser);
};

// The kind of an operand (leaf) text.
LeafKind leaf_kind(std::string_view text);

// True for the leaf kinds that mark a text the library could not split.
bool is_unsplit(LeafKind kind);

} // namespace lparse

#endif // LPARSE_EXPRESSION_TREE_H
