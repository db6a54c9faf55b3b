// test_expand.cpp - texts to trees and values: the traces of every path, runaway substitution, deep inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "defined/one_pass.h"
#include "support/arena.h"

using namespace test;

#if defined(__x86_64__) || defined(__i386__)
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

namespace {

// A trace as it was captured before the expansion was rewritten: each piece
// as "L<level> <text>", each reported code as "E<code>\n", with level 8 set
// and neither timestamps nor locations. It is hashed (FNV-1a, 64 bits) as it
// comes, and its first lines are kept to show on a mismatch.
struct Trace {
    uint64_t hash = 1469598103934665603u;
    size_t lines = 0;
    std::string head;

    void add(const char *text) {
        if (lines < 30) head += text;
        for (; *text != 0; ++text) {
            hash = (hash ^ static_cast<unsigned char>(*text)) * 1099511628211u;
            lines += *text == '\n';
        }
    }
    static void sink(void *ctx, int level, const char *text) {
        const char prefix[] = {'L', static_cast<char>('0' + level), ' ', 0}; // levels are single digits
        static_cast<Trace *>(ctx)->add(prefix);
        static_cast<Trace *>(ctx)->add(text);
    }
    static void handler(void *ctx, const char *, int, int code) {
        static_cast<Trace *>(ctx)->add(("E" + std::to_string(code) + "\n").c_str());
    }
};

} // namespace

// The traces, reports and values of the engine before its rewrite, for texts
// that take every path: chains, functions, stripping, calls (nested, empty,
// runaway, exponential), failures. Every handle has x = 3 and y = 0.5, and
// the substitution limits the traces were captured with.
TEST(Expand, GoldenTraces) {
    struct Case {
        std::vector<std::pair<const char *, const char *>> funcs;
        const char *text;
        size_t lines;
        uint64_t hash;
        float value;
    };
    const Case cases[] = {
        {{}, "2*(x+1)-cos(y)", 35, 0x24d9439a06efec9fu, 0x1.c7d5bp+2f},
        {{}, "x", 1, 0x18840cf41fb2cb9bu, 0x1.8p+1f},
        {{}, "a+b+c+d+e+f+g", 49, 0x63ad24cd1c55d667u, 0x0p+0f},
        {{}, "a-b-c-d-e", 33, 0x7a54e17dbb49008bu, 0x0p+0f},
        {{}, "a^b^c^d", 25, 0x4308daa1a00fd650u, 0x1p+0f},
        {{}, "a*b*c*d*e*f", 41, 0x2968c80db1aceb58u, 0x0p+0f},
        {{}, "a/b/c/d", 25, 0xd6bd4d32bc7fe7c5u, -NAN},
        {{}, "a%b%c%d", 25, 0x9a3b76215aeca5d7u, 0x0p+0f},
        {{}, "cos(sin(atan(tan(exp(logn(log2(log10(x))))))))", 49, 0xe515d13a8ddee653u, -NAN},
        {{}, "2cos(x)cos(y)", 9, 0x6a92b97600ff4c13u, -0x1.fae04cp-1f},
        {{}, "xcos", 6, 0x852dfefe29153f19u, 0x1p+0f},
        {{}, "costly+atan(1)-tan(1)", 36, 0xe96ced499eae2216u, 0x1.d2eca8p-3f},
        {{}, "(a)+(b)", 10, 0xc22c0d667235498eu, 0x0p+0f},
        {{}, "((1+(2*(3-(4/(5))))))", 38, 0xd47641c7160a6596u, 0x1.59999ap+2f},
        {{}, "(x+1)*(y-(2^(x%3)))/((2))", 58, 0x00865a2071a0215fu, -0x1p+0f},
        {{}, "-x+--y", 33, 0x7c0f1e26fd00c461u, -0x1.cp+1f},
        {{}, "1e3*2", 9, 0x33c4e6dab0a57718u, 0x0p+0f},
        {{{"f(x)", "x*2"}, {"g(a,b)", "a-b+a*b"}, {"h(a,b,c)", "a*(b+c)-c"}}, "g(f(2),3)+h(1,(2),x+1)", 109,
         0x89d7277d0027c06fu, 0x1.1p+4f},
        {{{"f(x)", "x*2"}}, "(f(2))", 10, 0x52b3339cd73d9de8u, 0x1p+2f},
        {{{"k()", "5"}, {"ff(x)", "x*10"}, {"f(a)", "a+1"}}, "k()+ff(3)", 20, 0xed8bced826635c92u, 0x1.2p+3f},
        {{{"r(x)", "1+r(x)"}}, "r(1)", 2562, 0xdc4d839dc35b4335u, 0x1p+8f},
        {{{"d(x)", "d(x)+d(x)"}}, "d(1)", 1100002, 0xa61e36e3b18fdc25u, 0x0p+0f},
        {{{"w(x)", "x+x+x+x+x+x+x+x"}}, "w(w(w(1)))", 4225, 0x7da36322093121ecu, 0x1p+9f},
        {{}, "q(2)+2(3)-(a)(b)", 22, 0x8b6b33d3b63d4eacu, 0x1p+1f},
        {{}, "(x", 1, 0x18840cf41fb2cb9bu, 0x0p+0f},
        {{}, "x+", 3, 0x82f1cea2343d0c22u, 0x0p+0f},
        {{}, "a+b-", 11, 0x513b13e07c4058fcu, 0x0p+0f},
        {{}, "(x+1)^", 4, 0x64a3a1e59b8f3726u, 0x0p+0f},
        {{}, "1+(2", 1, 0x18840cf41fb2cb9bu, 0x1p+0f},
        {{{"u(x)", "(x"}}, "u(1)+2", 11, 0x5aaf6e23b2306054u, 0x1p+1f},
        {{}, "x+(x+(x+(x+(1))))", 43, 0xa14286030ec31d4bu, 0x1.ap+3f},
        {{}, "a+b*c-d/e^f%g", 49, 0x2024232337c0849bu, -0x1p+0f},
        {{}, "log10(x)+log2(x)*logn(x)-exp(x)", 52, 0x5b1a5970b15233e7u, -0x1.1ddfep+4f},
        {{{"p(a,b)", "a*b"}}, "p(x+1,p(2,y))^2", 40, 0x8b0025a2a4b46bc1u, 0x1p+4f},
        {{{"s(x)", "cos(x)+s"}}, "s(s(1))", 33, 0x544550978c2532f9u, 0x1.b71138p-1f},
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        parser_var(p.get(), "x", 3);
        parser_var(p.get(), "y", 0.5f);
        for (const auto &f : c.funcs) parser_func(p.get(), f.first, f.second);
        parser_limit(p.get(), PARSER_LIMIT_SUBST_DEPTH, 256);
        parser_limit(p.get(), PARSER_LIMIT_SUBST_COUNT, 100000);
        parser_limit(p.get(), PARSER_LIMIT_SUBST_BYTES, 64 << 20);
        parser_limit(p.get(), PARSER_LIMIT_TREE_GROWTH, 512 << 10);
        Trace trace;
        Capture defaults(8); // no timestamps nor locations; all restored after the case
        dbg_set_sink(&Trace::sink, &trace);
        exception_set_handler(&Trace::handler, &trace);
        const float value = parser_calc(p.get(), c.text);
        // A NaN made from numbers (0/0) has the processor's own sign: the
        // pinned signs are x86-64's.
        EXPECT_TRUE(bits(value) == bits(c.value) ||
                    (std::isnan(value) && std::isnan(c.value) &&
                     (std::signbit(value) == std::signbit(c.value) || !kX86)))
            << c.text << " gave " << value;
        EXPECT_EQ(trace.lines, c.lines) << c.text;
        EXPECT_EQ(trace.hash, c.hash) << c.text << "\n" << trace.head;
    }
}

// The trace changes nothing but the messages: traced, every text is built
// by the walk, searched symbol by symbol; quiet, a short text without calls
// is read in one pass and any other walked with one search over its top
// level. Random texts give the same tree, values, states and errors both
// ways: strings of the grammar's pieces, brackets unbalanced too, and well
// formed texts (blanks, empty operands, names holding a function's name,
// functions' calls) with a byte changed in some, which the one pass mostly takes.
TEST(Expand, TracedAndUntracedBuildTheSameTree) {
    const char *pieces[] = {"x", "y", "1", "2.5", "+", "-", "*", "/", "^", "%", "(", ")", "cos", "sin",
                            "atan", "tan", "exp", "logn", "log2", "log10", "f(", "g(", ",", " ", "lt(", "if("};
    const char *operands[] = {"x", "y", "1", "2.5", "1e-3", "e", "", " y", "x ", "cost", "\t1"};
    const char *operators[] = {"+", "-", "*", "/", "^", "%", " + ", "- "};
    const char *functions[] = {"cos", "sin", "atan", "tan", "exp", "logn", "log2", "log10", " sin", "f", "lt"};
    uint64_t state = 0x9e3779b97f4a7c15u;
    auto next = [&state](uint64_t n) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state % n;
    };
    auto pick = [&next](const auto &list) { return std::string(list[next(std::size(list))]); };
    std::function<std::string(int)> formed = [&](int depth) -> std::string {
        switch (depth == 0 ? 0 : next(6)) {
        case 0: return pick(operands);
        case 1: return "(" + formed(depth - 1) + ")";
        case 2: return pick(functions) + "(" + formed(depth - 1) + ")";
        default: return formed(depth - 1) + pick(operators) + formed(depth - 1);
        }
    };
    struct Result {
        float value;
        std::vector<Visit> tree;
        std::vector<int> codes;
    };
    auto handle = [] {
        ParserPtr p(parser_new());
        parser_math(p.get());
        parser_var(p.get(), "x", 3);
        parser_var(p.get(), "y", 0.5f);
        parser_func(p.get(), "f(a)", "a*2-1");
        parser_func(p.get(), "g(a,b)", "(a+b)^2");
        return p;
    };
    auto build = [&handle](const std::string &text, int level) {
        ParserPtr p = handle();
        Capture capture(level);
        Result r{parser_calc(p.get(), text.c_str()), walk(p.get()), capture.codes};
        return r;
    };
    // Texts the one pass must read as the walk does or leave to it: names
    // around a function's, bytes of any kind, a bracket after a blank.
    const char *fixed[] = {"acos(x)", "asin(x)+1", "xsin(y)", "sincos(x)", "cossin(x)", "log2log10(x)", "2cos(x)",
                           "tan(x)tan", "cos(x)cos(y)", "expo", "xcos", "log2x", "atanh", "log100(x)", "x+ (y)",
                           "\xc3\xa9+1", "\r\nx\r*\ny", " atan( (y) )", "log10((x))^2", "x^-y%-2", "--x", "()", "(())-1"};
    // One handle reads every text after the others, so that what the walk
    // and the one pass keep between texts meets every kind of text.
    ParserPtr shared = handle();
    for (size_t n = 0; n < 6000 + std::size(fixed); ++n) {
        std::string text;
        if (n >= 6000) {
            text = fixed[n - 6000];
        } else if (n % 2 == 0) {
            for (uint64_t k = 1 + next(16); k > 0; --k) text += pick(pieces);
        } else {
            text = formed(1 + static_cast<int>(next(5)));
            if (next(4) == 0 && !text.empty()) text[next(text.size())] = pick(pieces)[0];
        }
        const Result quiet = build(text, 0), traced = build(text, 8);
        EXPECT_EQ(bits(quiet.value), bits(traced.value)) << text;
        EXPECT_EQ(quiet.tree, traced.tree) << text;
        EXPECT_EQ(quiet.codes, traced.codes) << text;
        parser_calc(shared.get(), "0"); // a text repeated is not built again
        Capture capture;
        EXPECT_EQ(bits(parser_calc(shared.get(), text.c_str())), bits(quiet.value)) << text;
        EXPECT_EQ(walk(shared.get()), quiet.tree) << text;
        EXPECT_EQ(capture.codes, quiet.codes) << text;
    }
}

// The one pass takes the texts it is for, and leaves to the walk every text
// whose reading needs more than it knows: calls, substitution, the errors
// the walk reports, names of functions read inside operands, long texts.
TEST(Expand, OnePassTakesPlainTextsAlone) {
    lp::parser_init();
    lp::Arena arena;
    lp::Vector<int32_t> partners, positions;
    lp::Pieces pieces;
    lp::CheckPoint check(nullptr);
    auto taken = [&](const std::string &text) {
        return lp::read_in_one_pass(&arena, text.data(), text.size(), &partners, &positions, &pieces, check) != nullptr;
    };
    for (const char *text : {"2*(x+1)-cos(y)", "x", "", "-x", "a-b-c-d-e", "a^b^c", "((x))", "( x )+ y", "1e-3*e",
                             "log10(x)^2", " atan((1))", "cos(sin(x))/tan(y)%2"})
        EXPECT_TRUE(taken(text)) << text;
    for (const char *text : {"f(2)", "clamp(x,0,1)", "lt(x)", "x+", "(x+1)*", "(x", "x)", ")(", "cosy", "xcos", "2cos(x)",
                             "cos (x)", "cos(x) ", "cos(x)y", "(x)(y)", "2 * (3+1)"})
        EXPECT_FALSE(taken(text)) << text;
    EXPECT_TRUE(taken(std::string(lp::kOnePassBytes / 2, '(') + std::string(lp::kOnePassBytes / 2, ')')));
    EXPECT_FALSE(taken(std::string(lp::kOnePassBytes / 2 + 1, '(') + std::string(lp::kOnePassBytes / 2 + 1, ')')));
}

// Deep and long inputs build, evaluate, walk and release without exhausting
// the stack, each a test of its own so that they run side by side. The long
// texts are 512 KiB, the text limit raised to let them in: a quarter-million-
// deep chain rules out any recursion on depth, and stays quick under sanitizers.
namespace {

Parser *expect_value(const std::string &text, float value) {
    Parser *p = parser_new();
    parser_limit(p, PARSER_LIMIT_TEXT_BYTES, static_cast<long long>(text.size()));
    parser_var(p, "x", 3.0f);
    EXPECT_EQ(parser_calc(p, text.c_str()), value);
    EXPECT_EQ(parser_errors(p, nullptr), 0);
    return p;
}

std::string chain(char op, size_t bytes) {
    std::string text = "1";
    while (text.size() + 2 <= bytes) text += std::string{op, '1'};
    return text;
}

} // namespace

// The power chain is a left-deep tree: the walk goes all the way down too.
TEST(ExpandDeep, PowerChain) {
    const std::string text = chain('^', size_t{512} << 10);
    ParserPtr p(expect_value(text, 1.0f));
    const std::vector<Visit> visits = walk(p.get());
    ASSERT_EQ(visits.size(), text.size());
    const int deepest = static_cast<int>(text.size() / 2); // the first operand, on the left
    EXPECT_EQ(visits[deepest], Visit(deepest, 1, "1", PARSER_OP_OPERAND, PARSER_STATE_DONE, bits(1.0f)));
}

// Nested pairs, and a right-deep tree whose every level holds a pair:
// brackets are matched once per text, not once per level.
TEST(ExpandDeep, Nested) {
    parser_destroy(expect_value(std::string(100000, '(') + "x" + std::string(100000, ')'), 3.0f));
    const int depth = 100000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "x+(";
    parser_destroy(expect_value(text + "x" + std::string(depth, ')'), 3.0f * (depth + 1)));
}
