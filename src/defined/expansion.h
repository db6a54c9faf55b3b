// expansion.h - building the expression tree of a whole text, user-function calls included.
#ifndef LIB_PARSE_EXPAND_H
#define LIB_PARSE_EXPAND_H

#include <cstddef>

#include "containers/containers.h"
#include "support/parse_limits.h"

namespace lp {

class Arena;
class CallState;
class NameList;
class NoteList;
struct HostTable;
struct NameTrie;

// What an expansion reports besides its tree, and what can stop it.
struct ExpandWatch {
    NoteList *notes = nullptr;      // the traps of the language met on the way
    NameList *names = nullptr;      // each name a leaf reads and each call, in text order
    const CallState *call = nullptr; // when interrupted, the expansion stops
};

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
                      const HostTable *hosts, const Limits &limits, const ExpandWatch &watch = {});

} // namespace lp

#endif // LIB_PARSE_EXPAND_H
