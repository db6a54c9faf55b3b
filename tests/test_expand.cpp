// test_expand.cpp - texts to trees and values: shapes, traces, tracing on and off, runaway substitution, deep inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "location.h"
#include "reference_eval.h"

using namespace test;

namespace {

float fcos(double x) { return static_cast<float>(std::cos(x)); }

bool balanced(const std::string &text) {
    lp::SourceText source;
    source.read(text.data(), text.size());
    return source.balanced();
}

// Every node of an expanded tree: operators wait for calculation, operands
// (also those left whole after a failure) for evaluation. When the expansion
// finished cleanly, operands are plain texts with no symbol and no bracket.
void expect_expanded(const TreeNode *root, const std::string &text, bool clean) {
    std::vector<const TreeNode *> stack{root};
    while (!stack.empty()) {
        const TreeNode *n = stack.back();
        stack.pop_back();
        if (n == nullptr) continue;
        const lp::NodeData *d = data_of(n);
        if (d->op == lp::OP_OPERAND) {
            EXPECT_EQ(d->state, lp::EXPAND) << text;
            EXPECT_TRUE(n->left == nullptr && n->right == nullptr) << text;
            ASSERT_NE(d->expr, nullptr) << text;
            const std::string e = d->expr;
            EXPECT_FALSE(clean && e.find_first_of("()") != std::string::npos) << text << " leaf " << e;
            for (const lp::OperationEntry &row : lp::operation)
                EXPECT_FALSE(clean && e.find(row.name) != std::string::npos) << text << " leaf " << e;
        } else {
            EXPECT_EQ(d->state, lp::CALCULATE) << text;
            EXPECT_STREQ(d->expr, lp::operation[d->op].name) << text;
        }
        stack.insert(stack.end(), {n->left, n->right});
    }
}

} // namespace

// Each text's tree after parser_expand, the errors reported on the way, and
// its value from parser_calc. Unsplit texts stay whole and are read as one
// operand. Variables x = 1, y = 0, tly = 2; f(x) = x*2.
TEST(Expand, TreeAndValueOfEachText) {
    struct Case {
        const char *text;
        const char *tree;
        float value;
        std::vector<int> codes;
    };
    const Case cases[] = {
        {"((x))", "x", 1, {}}, {"()", "''", 0, {}}, {"(a)+(b)", "(a+b)", 0, {}},
        // Precedence follows the table: "+", "-", "^", "*", "/", "%", functions.
        {"1+2*3", "(1+(2*3))", 7, {}}, {"2*3^2", "((2*3)^2)", 36, {}}, {"2^3*2", "(2^(3*2))", 64, {}},
        {"2*7%4", "(2*(7%4))", 6, {}}, {"8/6%4", "(8/(6%4))", 4, {}},
        {"cos(x)+1", "(cos(x)+1)", fcos(1) + 1.0f, {}},
        {"costly", "cos(tly)", fcos(2), {}}, // a name holding a symbol is split there
        {"2cos(y)", "cos(y)", 1, {}},        // the '2' is dropped
        {"2*(x+1)-cos(y)", "((2*(x+1))-cos(y))", 3, {}}, {"x*(y+z)*w", "((x*(y+z))*w)", 0, {}},
        // Chains.
        {"1-2-3-4-5", "(((1-2)-3)-(4+5))", -13, {}}, {"8/2/2/2", "((8/2)/(2*2))", 1, {}},
        {"2^3^2", "((2^3)^2)", 64, {}}, {"7%4%2", "((7%4)%2)", 1, {}},
        // Unary minus: an empty left operand is 0.
        {"-x", "(''-x)", -1, {}}, {"--x", "((''-'')-x)", -1, {}}, {"-(-x)", "(''-(''-x))", 1, {}},
        {"3--2", "((3-'')-2)", 1, {}}, {"-2^2", "(''-(2^2))", -4, {}},
        {"2^-1", "(2^-1)", -1, {2}}, // split at "-" first; '2^' is a name ('^' is above 'A')
        {"2*-3", "(2*-3)", -1, {2}}, // '2*' reads as the number 2
        // Numbers and names.
        {" 1 + 2 ", "( 1 + 2 )", 3, {}},
        // User functions.
        {"f(2)", "(2*2)", 4, {}}, {"(f(2))", "(2*2)", 4, {}}, {"f(f(2))", "((2*2)*2)", 8, {}},
        {"2(3)", "2(3)", 2, {4}}, {"g(2)", "g(2)", 0, {4}}, {"(a)(b)", "(a)(b)", 0, {4}},
        {"1+g(2)+h(3)", "((1+g(2))+h(3))", 1, {4, 4}}, {"g(1)+h(2)+1-", "((g(1)+h(2))+1-)", 1, {4, 4, 2}}, // in tree order
        // Failures leave the text whole, as far as it was stripped.
        {"x+", "x+", 0, {2}}, {"a+b-", "(a+b-)", 0, {2}}, {"((a+b)-)", "(a+b)-", 0, {2}},
        {"--5-", "--5-", 0, {2}}, // at most one sign
        {"(x", "(x", 0, {}}, {"2)", "2)", 2, {}}, {"((x)", "((x)", 0, {}},
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        parser_func(p.get(), "f(x)", "x*2");
        parser_var(p.get(), "x", 1);
        parser_var(p.get(), "y", 0);
        parser_var(p.get(), "tly", 2);
        Capture cap;
        parser_expand(p.get(), c.text);
        EXPECT_EQ(render(p->tree), c.tree) << c.text;
        expect_expanded(p->tree, c.text, c.codes.empty() && balanced(c.text));
        EXPECT_EQ(cap.codes, c.codes) << c.text;
        const float value = parser_calc(p.get(), c.text);
        EXPECT_EQ(bits(value), bits(c.value)) << c.text << " gave " << value;
        int first = -1;
        EXPECT_EQ(parser_errors(p.get(), &first), static_cast<int>(c.codes.size())) << c.text;
        EXPECT_EQ(first, c.codes.empty() ? -1 : c.codes[0]) << c.text;
    }
}

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
        EXPECT_TRUE(bits(value) == bits(c.value) || (std::isnan(value) && std::isnan(c.value) &&
                                                     std::signbit(value) == std::signbit(c.value)))
            << c.text << " gave " << value;
        EXPECT_EQ(trace.lines, c.lines) << c.text;
        EXPECT_EQ(trace.hash, c.hash) << c.text << "\n" << trace.head;
    }
}

namespace {

// A small deterministic generator, so the texts are the same on every platform.
struct Random {
    uint64_t state;
    size_t below(size_t n) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<size_t>(state >> 16) % n;
    }
    template <size_t N>
    const char *pick(const char *const (&items)[N]) { return items[below(N)]; }
};

const char *const kNumbers[] = {"0", "1", "2", "2.5", "0.1", "10", "3.", ".5", "-1", "1e3", "A", "", " 7",
                                "16777217", "1e39", "99999999999999999999999999999999999999999"};
const char *const kNames[] = {"x", "y", "xy", "z", "zz", "B", "x1", "q", "x ", "_", "f(1)", "g(x,2)", "h(3)",
                              "k()", "g(1)", "f(f(2))", "xcos", "2cos(y)", "(a)(b)"};
const char *const kBinary[] = {"+", "-", "*", "/", "%", "^"};
const char *const kFunctions[] = {"cos", "sin", "atan", "tan", "exp", "logn", "log2", "log10"};
const char *const kJunk[] = {"(", ")", "+", "-", "^", "x", "2", "cos", ",", " ", "\xff", "e", "%", "f(", "g(", "rec(",
                             "1,2)", "((", "))", ".5"};

// A well-formed text of depth at most 4, or (one time in eight) a random
// sequence of pieces that may be anything.
std::string random_text(Random &rng, int depth) {
    if (depth == 0 && rng.below(8) == 0) {
        std::string junk;
        for (size_t n = rng.below(14); n > 0; --n) junk += rng.pick(kJunk);
        return junk;
    }
    switch (depth >= 4 ? 0 : rng.below(6)) {
    case 0: return rng.below(2) ? rng.pick(kNumbers) : rng.pick(kNames);
    case 1: return "(" + random_text(rng, depth + 1) + ")";
    case 2: return std::string(rng.pick(kFunctions)) + "(" + random_text(rng, depth + 1) + ")";
    default: {
        std::string text = random_text(rng, depth + 1);
        for (size_t n = 1 + rng.below(3); n > 0; --n) text += rng.pick(kBinary) + random_text(rng, depth + 1);
        return text;
    }
    }
}

float random_value(Random &rng) {
    static const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 3.0f, 1e30f, -1e30f, INFINITY, -INFINITY, NAN, 2147483648.0f};
    return rng.below(3) == 0 ? special[rng.below(std::size(special))] : (static_cast<float>(rng.below(20001)) - 10000.0f) / 64.0f;
}

} // namespace

// Every text is built with its messages emitted and without: the same tree
// and the same errors, and a tree built without errors is finished. Its
// compiled program, run by parser_calc, gives the bits and node records of the
// reference evaluation of the tree, with variables defined before the text is
// built and added after it, so that names bind anew (the newest variable
// whose name begins with the text).
TEST(Expand, TracedOrNotAndCompiledAgree) {
    Random rng{20240611};
    bool seen[8] = {};
    int clean = 0, compiled = 0, texts = 0;
    const auto compare = [&](const std::string &text) {
        ++texts;
        ParserPtr quiet(parser_new()), traced(parser_new());
        const auto define = [&](const char *name, float value) {
            parser_var(quiet.get(), name, value);
            parser_var(traced.get(), name, value);
        };
        for (size_t n = rng.below(3); n > 0; --n) define(rng.pick(kNames), random_value(rng));
        std::vector<int> codes[2];
        for (Parser *p : {quiet.get(), traced.get()}) {
            parser_func(p, "f(a)", "a*2");
            parser_func(p, "g(a,b)", "(a-b)/(b)");
            parser_func(p, "rec(x)", "1+rec(x)"); // stopped by the substitution depth bound
            parser_func(p, "k()", "7");
            Capture cap(p == traced.get() ? 8 : 0);
            parser_expand(p, text.c_str());
            codes[p == traced.get()] = cap.codes;
        }
        ASSERT_EQ(walk(quiet.get()), walk(traced.get())) << "'" << text << "'";
        ASSERT_EQ(codes[0], codes[1]) << "'" << text << "'";
        for (int code : codes[0]) seen[code & 7] = true;
        if (codes[0].empty() && balanced(text)) {
            expect_expanded(traced->tree, text, true);
            ++clean;
        }
        Capture silent;
        for (int pass = 0; pass < 3; ++pass) {
            const float got = parser_calc(quiet.get(), text.c_str());
            reference_clean(traced->tree);
            const float want = reference_calc(traced->tree, traced->vars);
            ASSERT_TRUE(same_value(got, want)) << "'" << text << "' pass " << pass << ": " << got << " vs " << want;
            ASSERT_EQ(walk(quiet.get()), walk(traced.get())) << "'" << text << "' pass " << pass;
            define(rng.below(2) ? rng.pick(kNames) : "x", random_value(rng));
        }
        compiled += quiet->program != nullptr;
    };
    // Texts that reach every branch: splits of each layout, stripping,
    // calls (nested, unknown, recursive, empty), errors and odd cuts.
    for (const char *text : {"", "()", "(a)(b)", "x+", "a+b-", "(x", "x)", "a--b", "xcos", "cos(x)cos(y)", "tan(atan(x))",
                             "f(f(2))", "g(x,f(2))*3", "g(1)", "h(3)", "2(3)", "k()", "f(rec(1))+g((1),(2))",
                             "(x+1)*(y-2)/(x*y+3)", "log10(log2(logn(exp(1))))", "f(2)+", "g(1,2)^f(3)%4"})
        compare(text);
    EXPECT_TRUE(seen[PARSER_ERR_TRAILING_OPERATOR] && seen[PARSER_ERR_UNKNOWN_FUNCTION] && seen[PARSER_ERR_SUBSTITUTION_LIMIT]);
    std::string nested = "x";
    for (int i = 0; i < 300; ++i) nested = i % 2 ? "f(" + nested + ")-1" : "(x+" + nested + ")*2";
    compare(nested);
    for (int round = 0; round < 1500 && !HasFailure(); ++round) compare(random_text(rng, 0));
    EXPECT_GT(clean, 400);
    EXPECT_EQ(compiled, texts) << "every expanded tree should run as a program";
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
