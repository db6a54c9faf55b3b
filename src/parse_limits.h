// parse_limits.h - bounds on user-function substitution, so no text can make expansion run away.
#ifndef LIB_PARSE_LIMITS_H
#define LIB_PARSE_LIMITS_H

#include <cstddef>

namespace lp {

// Substitutions on one path from the root: a function calling itself, such as
// f(x) = 1+f(x), is stopped here. 256 levels is far deeper than any sensible
// chain of helper functions, yet shallow enough to stop within microseconds.
constexpr int kMaxSubstitutionDepth = 256;

// Substitutions in one expansion, over all paths: f(x) = x+x nested a few dozen
// deep doubles the work at every level without ever getting deep.
constexpr long kMaxSubstitutions = 100000;

// Bytes that substitution may write in one expansion, counting every pass over
// a body (one per parameter) and not only the final texts: a pass may grow a
// text a thousandfold and a later one shrink it again. This bounds the time
// substitution takes, to well under a second.
constexpr size_t kMaxSubstitutedBytes = size_t{64} << 20;

// Bytes by which substitution may lengthen the texts of one tree: what stays
// in the tree is what costs memory. A tree holds up to two nodes per byte of
// text, about 150 bytes each while it is built, so 512 KiB of growth costs at
// most some 150 MiB; with a 1 MiB input the process stays under 500 MiB.
constexpr size_t kMaxSubstitutionGrowth = size_t{512} << 10;

} // namespace lp

#endif // LIB_PARSE_LIMITS_H
