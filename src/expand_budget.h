// expand_budget.h - what substitution may still do in one expansion, and the substitution step both expansions share.
#ifndef LIB_PARSE_EXPAND_BUDGET_H
#define LIB_PARSE_EXPAND_BUDGET_H

#include <cstddef>

#include "lib_parse_internal.h"
#include "parse_limits.h"

namespace lp {

// What substitution may still do in this expansion.
struct Budget {
    long substitutions = 0;
    size_t writable = kMaxSubstitutedBytes; // bytes the passes over bodies may write
    size_t growth = 0;                      // bytes substitution has added to the tree's texts
};

// Replaces the call text of NODE by the called function's body. False when no
// substitution was made; the node is then left as one operand.
bool substitute(List *funcs, NodeData *data, int depth, Budget *budget);

} // namespace lp

#endif // LIB_PARSE_EXPAND_BUDGET_H
