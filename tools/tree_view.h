// tree_view.h - the three pictures of an expanded tree: indented lines, full brackets, Graphviz DOT.
#ifndef LPARSE_TREE_VIEW_H
#define LPARSE_TREE_VIEW_H

#include <string>

#include "calculator.h"
#include "expression_tree.h"

namespace lparse {

// One node a line, indented under its parent: text, what it is, value.
std::string render_tree(const ExpressionTree &tree, const Calculator &calculator);

// The expression with every operation bracketed as the library grouped it:
// '2*3^2' gives '((2*3)^2)', 'costly' gives 'cos(tly)'; a text that could
// not be split stays as it is, quoted: '2*-3' gives ('2*'-3). In the
// STANDARD grammar '2*3^2' gives '(2*(3^2))', and a text with an error is
// one leaf, quoted.
std::string explain(const ExpressionTree &tree, bool standard = false);

// The tree as a Graphviz digraph.
std::string render_dot(const ExpressionTree &tree);

} // namespace lparse

#endif // LPARSE_TREE_VIEW_H
