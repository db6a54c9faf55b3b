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

// Bytes of substituted text produced in one expansion. A 1 MiB input may
// legitimately grow a few times over; 64 MiB keeps the process within a few
// hundred MiB even with the tree built over that text.
constexpr size_t kMaxSubstitutedBytes = size_t{64} << 20;

} // namespace lp

#endif // LIB_PARSE_LIMITS_H
