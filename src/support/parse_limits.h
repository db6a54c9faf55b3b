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
// did not write: at most about 0.15 s and 40 MiB for any text within them.
// Measured in a release build on a 2-core x86-64 machine (CPU time of one
// parser_calc, peak resident memory of the whole process), over the worst
// shapes found:
// - Without user functions, memory follows the tree: about 100 bytes per
//   byte of text for a flat product of names (x*x*...), the worst, so 30 MiB
//   for 256 KiB; sums, mixed texts, host calls and nesting take less. Time
//   is at most 0.04 s.
// - With user functions, the substitution limits below bound the work. The
//   worst found: 50,000 calls of a function whose 4 KiB body uses its
//   parameter 2,049 times (0.14 s, 26 MiB: the 16 MiB a build may write is
//   spent, then every further call is refused); a 60 KiB argument put into
//   a body that uses it 2,000 times (35 MiB); calls of a function of 26
//   parameters (0.09 s); calls nested 87,381 deep (0.07 s, 8 MiB: a
//   substituted text, with its bracket table, is released as soon as its
//   pieces are placed). The substituted texts kept while their pieces wait
//   are at most the 16 MiB substitution may write, and the tree is that of
//   the text plus 128 KiB of growth. The substitution defaults first
//   proposed (100,000 substitutions, 64 MiB written, 512 KiB growth) let a
//   60-byte text take 0.35 s and 360 MiB, more than such a host should accept.
// The standard grammar (parser_syntax) reads a text in one pass, and a user
// function's call inlines its body: the substitution limits count the calls
// inlined, the bodies nested in bodies, the bytes of bodies and prototypes
// read (bytes written) and of bodies inlined (growth). Measured the same way
// (10 MiB of each peak is the measuring program's own):
// - Without user functions, a text takes at most 0.035 s (a check of 131,072
//   unknown names, each an error and a note) and 53 MiB, for 262,144 unary
//   operators in a row (-----x): one node per byte, and a tree that deep
//   keeps a frame per level while it is flattened. Products, comparisons,
//   powers and chains of ?: take 43-47 MiB, && and || 37-40 MiB.
// - With user functions, at most 0.017 s and 30 MiB: 50,000 calls of a body
//   of 4 KiB inline 32 of them, then the growth limit refuses the rest, each
//   at once; a function of 5,000 parameters inlines a 120 KB body in 7 ms
//   (its names found among the sorted parameters); chains of 300 functions
//   and recursion stop at the depth limit and at the first repeated call.
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
    // PARSER_LIMIT_THREADS: 1, no thread unless the host asks; 0, the cores.
    {1, 256},
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
    size_t threads() const { return static_cast<size_t>(value[PARSER_LIMIT_THREADS]); } // 0: the cores
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
