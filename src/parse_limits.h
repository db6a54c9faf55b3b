// parse_limits.h - the bounds a handle puts on its work, their defaults and hard maxima.
#ifndef LIB_PARSE_LIMITS_H
#define LIB_PARSE_LIMITS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib_parse.h"

namespace lp {

// Positions in a text are 32-bit, so no text that expansion works on, given
// or made by substitution, may be longer than this.
constexpr long long kMaxTextBytes = INT32_MAX;

// The default of each limit, and the most it may be raised to.
//
// The defaults bound what one text can cost a host that evaluates formulas it
// did not write. Measured in a release build (x86-64), peak memory above the
// process's own:
// - A text costs at most about 160 bytes of memory per byte while its tree
//   is built (a flat product of names, x*x*...: about 3 nodes per 2 bytes;
//   sums 134, deep nesting 87, mixed texts 55, bracket runs 9), and about
//   0.3 s per MiB. A 256 KiB text therefore stays under about 40 MiB and
//   0.1 s. (Measured before a tree's nodes came from one arena: a flat sum
//   now costs about 60 bytes per byte and 0.14 s per MiB.)
// - A short text with a few short functions is bounded by the substitution
//   limits. With the defaults below the worst found (a body that calls its
//   function twice around a run of operators, "f(x)" = "f(x)+++...+f(x)")
//   takes about 0.1 s and 30 MiB. The bounds behind that: the substituted
//   texts kept while their pieces wait are at most the 16 MiB substitution
//   may write (plus 8 bytes per "(" they hold), and the tree is that of the
//   text plus 128 KiB of growth, about 20 MiB. The substitution defaults first
//   proposed (100,000 substitutions, 64 MiB written, 512 KiB growth) let a
//   60-byte text take 0.35 s and 360 MiB, more than such a host should accept.
struct LimitSpec {
    long long initial;
    long long maximum;
};

constexpr LimitSpec kLimitSpecs[PARSER_LIMIT_COUNT] = {
    // PARSER_LIMIT_TEXT_BYTES: see above.
    {256LL << 10, kMaxTextBytes},
    // PARSER_LIMIT_SUBST_DEPTH: a function calling itself, f(x) = 1+f(x), is
    // stopped here. 256 levels is far deeper than any sensible chain of helper
    // functions, yet shallow enough to stop within microseconds.
    {256, INT32_MAX},
    // PARSER_LIMIT_SUBST_COUNT: substitutions in one tree over all paths:
    // f(x) = x+x nested a dozen deep doubles the work at every level without
    // ever getting deep. Each costs a few microseconds and two nodes.
    {10000, INT32_MAX},
    // PARSER_LIMIT_SUBST_BYTES: bytes substitution may write in one tree,
    // counting every pass over a body (one per parameter), not only the final
    // texts: a pass may grow a text a thousandfold and a later one shrink it
    // again. Bounds the time substitution takes, and the substituted texts
    // kept while their pieces wait to be expanded.
    {16LL << 20, kMaxTextBytes},
    // PARSER_LIMIT_TREE_GROWTH: bytes by which substitution may lengthen the
    // texts of one tree; what stays in the tree is what costs memory.
    {128LL << 10, kMaxTextBytes},
    // PARSER_LIMIT_NATIVE_CODE: a switch.
    {1, 1},
};

// A handle's limits, as parser_limit sets them.
struct Limits {
    long long value[PARSER_LIMIT_COUNT];

    Limits() {
        for (int i = 0; i < PARSER_LIMIT_COUNT; ++i) value[i] = kLimitSpecs[i].initial;
    }
    size_t text_bytes() const { return static_cast<size_t>(value[PARSER_LIMIT_TEXT_BYTES]); }
    long long depth() const { return value[PARSER_LIMIT_SUBST_DEPTH]; }
    long long substitutions() const { return value[PARSER_LIMIT_SUBST_COUNT]; }
    size_t written_bytes() const { return static_cast<size_t>(value[PARSER_LIMIT_SUBST_BYTES]); }
    size_t growth() const { return static_cast<size_t>(value[PARSER_LIMIT_TREE_GROWTH]); }
    bool native_code() const { return value[PARSER_LIMIT_NATIVE_CODE] != 0; }
};

// True when TEXT is no longer than the text limit, with its length in
// *LENGTH; otherwise *LENGTH is limit + 1. Reads at most limit + 1 bytes.
inline bool text_length_within(const Limits &limits, const char *text, size_t *length) {
    const size_t limit = limits.text_bytes();
    *length = strnlen(text, limit + 1);
    return *length <= limit;
}

} // namespace lp

#endif // LIB_PARSE_LIMITS_H
