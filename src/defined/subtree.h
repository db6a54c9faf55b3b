// subtree.h - cutting a range at an operation's positions and laying the operation's subtree out over the pieces.
#ifndef LIB_PARSE_SUBTREE_H
#define LIB_PARSE_SUBTREE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "containers/containers.h"
#include "support/check_point.h"
#include "support/checked_memory.h"
#include "support/error_log.h"
#include "tree/operation_table.h"

namespace lp {

class Arena;

// A stretch [from, to) of source text number `source`.
struct Range {
    uint32_t source;
    int32_t from, to;
};

// Where RANGE stands in the text given: itself in that text (source 0), the
// place of the outermost call it came from in a substituted one, as ORIGINS
// gives per source.
inline Span place_in_text(const Vector<Span> &origins, Range range) {
    if (range.source == 0) return Span{static_cast<size_t>(range.from), static_cast<size_t>(range.to - range.from)};
    return origins[range.source];
}

// Takes the operand pieces of a split, one by one in text order, as the
// split lays them out: NODE is the operand node laid out for PIECE.
class OperandSink {
public:
    virtual void operand(TreeNode *node, Range piece) = 0;

protected:
    ~OperandSink() = default;
};

// The pieces of one split, in text order, and which of them the expander
// gave an operand node: a run of them, [taken_from, taken_to). Every
// expander lays its operands out so that, read left to right, they stand in
// text order: the walk hands the taken pieces to the leaves in that order.
struct Pieces {
    const char *text; // the bytes of the pieces' source
    size_t count = 0; // how many
    Vector<Range> ranges; // the pieces, unless a sink takes them
    size_t taken_from = 0, taken_to = 0;
    bool empty_taken = false; // an operand with no piece: the empty text
    bool traced = false;      // the records made are traced (read once per expansion)
    Arena *arena = nullptr;   // where the nodes and records come from
    CheckPoint *check = nullptr; // the expansion's: a split of a long text passes check points
    OperandSink *sink = nullptr; // not null: the pieces are handed to it, not kept
};

// Cuts RANGE of the source TEXT at POSITIONS, the occurrences of operation ID,
// into PIECES and returns the root of the operation's subtree.
// The subtree's nodes and records come from PIECES' arena. Stopped at a
// check point, the subtree is left unfinished, or not made (null).
TreeNode *split_range(const char *text, Range range, int32_t id, const Vector<int32_t> &positions,
                      Pieces *pieces);


} // namespace lp

#endif // LIB_PARSE_SUBTREE_H
