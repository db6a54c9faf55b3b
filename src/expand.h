// expand.h - building the expression tree of a whole text, user-function calls included.
#ifndef LIB_PARSE_EXPAND_H
#define LIB_PARSE_EXPAND_H

#include <cstddef>

#include "containers.h"
#include "parse_limits.h"

namespace lp {

class Arena;
class NoteList;
struct HostTable;
struct NameTrie;

// Working memory kept from one expansion to the next.
struct ExpandScratch;
ExpandScratch *expand_scratch_new();
void expand_scratch_free(ExpandScratch *scratch);

// The tree of TEXT (LENGTH bytes, at most kMaxTextBytes) with the user
// functions FUNCS (by name, handle.h) and the host functions HOSTS (may be null), substituted within LIMITS. Errors go to report_error,
// with their place in TEXT; with diagnostics enabled every step is traced.
// Given NOTES, the traps of the language met on the way are added to it.
// The nodes, their records and their texts come from ARENA: the tree is
// released by resetting it. SCRATCH, when given, lends its memory.
TreeNode *expand_text(Arena *arena, ExpandScratch *scratch, const char *text, size_t length, const NameTrie *funcs,
                      const HostTable *hosts, const Limits &limits, NoteList *notes = nullptr);

} // namespace lp

#endif // LIB_PARSE_EXPAND_H
