// one_pass.h - the tree of a short plain text, read without the walk's sources and stack of ranges.
#ifndef LIB_PARSE_ONE_PASS_H
#define LIB_PARSE_ONE_PASS_H

#include <cstddef>
#include <cstdint>

#include "containers/containers.h"
#include "defined/subtree.h"
#include "support/check_point.h"
#include "support/checked_memory.h"

namespace lp {

class Arena;

// Texts longer than this are left to the walk, whose every loop passes
// check points by the stride.
constexpr size_t kOnePassBytes = 2048;

// The tree the expansion walk builds of TEXT, untraced and unnoted, built in
// one reading of its brackets and one pass over each node's top level. Null
// when the text is not one this reading takes, before or after making nodes
// in ARENA: it is longer than kOnePassBytes, unbalanced, calls anything but
// the table's functions written "cos(...)", or meets an error the walk
// reports (a trailing operator); and when CHECK was stopped. The walk then
// builds the text's tree as ever. PARTNERS, POSITIONS and PIECES are working
// memory, kept by the caller from one text to the next.
TreeNode *read_in_one_pass(Arena *arena, const char *text, size_t length, Vector<int32_t> *partners,
                           Vector<int32_t> *positions, Pieces *pieces, CheckPoint &check);

} // namespace lp

#endif // LIB_PARSE_ONE_PASS_H
