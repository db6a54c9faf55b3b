// expansion.h - building the expression tree of a whole text, user-function calls included.
#ifndef LIB_PARSE_EXPAND_H
#define LIB_PARSE_EXPAND_H

#include <cstddef>

#include "containers/containers.h"
#include "support/parse_limits.h"
#include "tree/build_watch.h"

namespace lp {

class Arena;
class HostTable;
struct NameTrie;

// Working memory kept from one expansion to the next.
struct ExpandScratch;
ExpandScratch *expand_scratch_new();
void expand_scratch_free(ExpandScratch *scratch);

// The tree of TEXT (LENGTH bytes, at most kMaxTextBytes) with the user
// functions FUNCS (by name, handle.h) and the host functions HOSTS (may be
// null), substituted within LIMITS. Errors go to report_error, with their place in TEXT; with
// diagnostics enabled every step is traced. The nodes, their records and
// their texts come from ARENA: the tree is released by resetting it.
// SCRATCH, when given, lends its memory. When WATCH's call is interrupted the
// expansion stops at its next node, reports PARSER_ERR_INTERRUPTED there and
// returns null, the tree left unfinished.
TreeNode *expand_text(Arena *arena, ExpandScratch *scratch, const char *text, size_t length, const NameTrie *funcs,
                      const HostTable *hosts, const Limits &limits, const BuildWatch &watch = {});

} // namespace lp

#endif // LIB_PARSE_EXPAND_H
