// build_tree.h - the tree of a text in the grammar its handle reads: the one place that chooses a grammar.
#ifndef LIB_PARSE_BUILD_TREE_H
#define LIB_PARSE_BUILD_TREE_H

#include <cstddef>

#include "containers/containers.h"
#include "tree/build_watch.h"

struct Parser;

namespace lp {

class Arena;
struct NameSupply;

// TREE: the handle's own tree, built with its scratch memory, and its record
// of whether a new variable must rebuild it. ASIDE: a tree a check or a
// listing builds and drops, which leaves the handle as it was.
enum class BuildFor { TREE, ASIDE };

// The tree of TEXT (LENGTH bytes, within the text limit) in PARSER's grammar,
// with its functions and limits, from ARENA; null when WATCH's call was
// interrupted. SUPPLY, when given, is asked for names no variable has. Errors go to report_error, as expand_text says.
TreeNode *build_tree(Parser *parser, BuildFor purpose, Arena *arena, const char *text, size_t length,
                     const BuildWatch &watch = {}, const NameSupply *supply = nullptr);

// The handle's tree for a text it could not read (refused as too long, or
// its build stopped): the empty text's in the defined grammar, value 0; a
// NaN leaf in the standard grammar, where a text with any error is NaN.
TreeNode *unread_tree(Parser *parser, Arena *arena);

} // namespace lp

#endif // LIB_PARSE_BUILD_TREE_H
