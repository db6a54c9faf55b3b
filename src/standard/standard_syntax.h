// standard_syntax.h - building the tree of a text in the standard grammar, with explicit stacks.
#ifndef LIB_PARSE_STANDARD_SYNTAX_H
#define LIB_PARSE_STANDARD_SYNTAX_H

#include <cstddef>

#include "containers/containers.h"
#include "support/parse_limits.h"
#include "tree/build_watch.h"

namespace lp {

struct NameSupply;

class Arena;
class HostTable;
struct NameTrie;
struct VarIndex;

// What the names of a text are matched against, each exactly.
struct Definitions {
    const VarIndex *vars;
    const NameTrie *funcs;  // user functions by name
    const HostTable *hosts; // may be null
    // parser_math was called: `log` and `ln` read as the natural logarithm,
    // `pi` and `e`, unless variables, as the constants.
    bool math;
    const NameSupply *supply = nullptr; // asked for a name no variable has; null: none asked
};

// The tree of TEXT (LENGTH bytes) in the standard grammar, built of the node
// kinds every evaluator runs; user functions are inlined, their parameters
// bound by value, within LIMITS. Errors go to report_error with their place
// in TEXT (inside a function's body, the place of the outermost call), and a
// text with an error is one NaN leaf. *UNKNOWN_NAME is set when a name read
// no variable: one defined later may let the text build. The nodes come from
// ARENA. Honours WATCH as expand_text does: null when interrupted.
TreeNode *standard_text(Arena *arena, const char *text, size_t length, const Definitions &definitions,
                        const Limits &limits, const BuildWatch &watch, bool *unknown_name);

// The tree of a text the standard grammar could not read at all (refused as
// too long, or its build stopped): one NaN leaf, as for any text with an error.
TreeNode *standard_error_tree(Arena *arena);

} // namespace lp

#endif // LIB_PARSE_STANDARD_SYNTAX_H
