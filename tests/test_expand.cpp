// test_expand.cpp - texts to trees and values: shapes, messages, failures, the quiet and traced ways, runaway substitution, deep inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

const std::string kBanner = "_____________new expand_tree______________\n";
std::string left_msg(const char *e) { return std::string("Expanding left node expr: \"") + e + "\"\n"; }
std::string right_msg(const char *e) { return std::string("Expanding right node expr: \"") + e + "\"\n"; }

float fcos(double x) { return static_cast<float>(std::cos(x)); }

// The messages of the expansion itself, in order (constructor and search
// messages left out).
std::vector<std::string> expansion_messages(const Capture &cap) {
    std::vector<std::string> out;
    for (const auto &p : cap.pieces)
        if (p.text == kBanner || p.text == "NOT Expanding\n" || p.text.rfind("Expanding ", 0) == 0) out.push_back(p.text);
    return out;
}

bool balanced(const std::string &text) {
    int depth = 0;
    for (char c : text)
        if ((depth += c == '(' ? 1 : c == ')' ? -1 : 0) < 0) return false;
    return depth == 0;
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

TEST(Expand, WorkedExampleTreeAndMessages) {
    ParserPtr p(parser_new());
    Capture cap(8);
    parser_expand(p.get(), "2*(x+1)-cos(y)");
    EXPECT_EQ(render(p->tree), "((2*(x+1))-cos(y))");
    expect_expanded(p->tree, "worked example", true);
    const std::vector<std::string> expected = {
        kBanner, left_msg("2*(x+1)"), kBanner, left_msg("2"),      kBanner, right_msg("(x+1)"), kBanner, left_msg("x"),
        kBanner, right_msg("1"),      kBanner, right_msg("cos(y)"), kBanner, right_msg("(y)"),  kBanner,
    };
    EXPECT_EQ(expansion_messages(cap), expected);
    EXPECT_TRUE(cap.codes.empty());
    for (const auto &piece : cap.pieces) {
        EXPECT_TRUE(piece.text != kBanner || piece.level == 8);
        EXPECT_TRUE(piece.text.rfind("Expanding ", 0) != 0 || piece.level == 7) << piece.text;
    }

    // An inner operator node of a chain gets its own call, which does not expand it.
    Capture inner(7);
    parser_expand(p.get(), "a-b-c");
    EXPECT_EQ(render(p->tree), "((a-b)-c)");
    EXPECT_EQ(expansion_messages(inner),
              (std::vector<std::string>{left_msg("-"), "NOT Expanding\n", left_msg("a"), right_msg("b"), right_msg("c")}));
}

// Each text's tree after parser_expand, the errors reported on the way, and
// its value from parser_calc. Unsplit texts stay whole and are read as one
// operand. Variables x = 1, y = 0, tly = 2; f(x) = x*2.
TEST(Expand, TreeAndValueOfEachText) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    struct Case {
        const char *text;
        const char *tree;
        float value;
        std::vector<int> codes;
    };
    const Case cases[] = {
        {"x", "x", 1, {}}, {"((x))", "x", 1, {}}, {"", "''", 0, {}}, {"()", "''", 0, {}}, {"(a)+(b)", "(a+b)", 0, {}},
        // Precedence follows the table: "+", "-", "^", "*", "/", "%", functions.
        {"1+2*3", "(1+(2*3))", 7, {}}, {"2*3^2", "((2*3)^2)", 36, {}}, {"2^3*2", "(2^(3*2))", 64, {}},
        {"2*7%4", "(2*(7%4))", 6, {}}, {"8/6%4", "(8/(6%4))", 4, {}},
        {"cos(x)+1", "(cos(x)+1)", fcos(1) + 1.0f, {}}, {"cos(y)*2", "(cos(y)*2)", 2, {}},
        {"cos(x)^2", "(cos(x)^2)", static_cast<float>(std::pow(static_cast<double>(fcos(1)), 2.0)), {}},
        {"costly", "cos(tly)", fcos(2), {}}, // a name holding a symbol is split there
        {"2cos(y)", "cos(y)", 1, {}},        // the '2' is dropped
        {"cos(y)cos(x)", "cos(y)", 1, {}},
        {"2*(x+1)-cos(y)", "((2*(x+1))-cos(y))", 3, {}}, {"x*(y+z)*w", "((x*(y+z))*w)", 0, {}},
        {"log2(8)+log10(1000)+exp(y)+logn(x)+atan(y)+tan(y)+sin(y)",
         "(((log2(8)+log10(1000))+(exp(y)+logn(x)))+((atan(y)+tan(y))+sin(y)))", 7, {}},
        // Chains.
        {"1-2-3-4", "((1-2)-(3+4))", -8, {}}, {"1-2-3-4-5", "(((1-2)-3)-(4+5))", -13, {}},
        {"8/2/2/2", "((8/2)/(2*2))", 1, {}}, {"2^3^2", "((2^3)^2)", 64, {}}, {"7%4%2", "((7%4)%2)", 1, {}},
        {"1+2+3+4+5+6+7", "(((1+2)+(3+4))+((5+6)+7))", 28, {}},
        // Unary minus: an empty left operand is 0.
        {"-x", "(''-x)", -1, {}}, {"--x", "((''-'')-x)", -1, {}}, {"-(-x)", "(''-(''-x))", 1, {}},
        {"3--2", "((3-'')-2)", 1, {}}, {"-2^2", "(''-(2^2))", -4, {}},
        {"2^-1", "(2^-1)", -1, {2}}, // split at "-" first; '2^' is a name ('^' is above 'A')
        {"2*-3", "(2*-3)", -1, {2}}, // '2*' reads as the number 2
        // Numbers and names.
        {"0.1+0.2", "(0.1+0.2)", 0.300000011920928955078125f, {}}, {"16777217", "16777217", 16777216, {}},
        {"1e3", "1e3", 0, {}}, {"A", "A", 0, {}}, {" 1 + 2 ", "( 1 + 2 )", 3, {}}, {"1/0", "(1/0)", kInf, {}},
        // User functions.
        {"f(2)", "(2*2)", 4, {}}, {"(f(2))", "(2*2)", 4, {}}, {"f(f(2))", "((2*2)*2)", 8, {}},
        {"2(3)", "2(3)", 2, {4}}, {"g(2)", "g(2)", 0, {4}}, {"(a)(b)", "(a)(b)", 0, {4}},
        {"1+g(2)+h(3)", "((1+g(2))+h(3))", 1, {4, 4}}, {"g(1)+h(2)+1-", "((g(1)+h(2))+1-)", 1, {4, 4, 2}}, // in tree order
        // Failures leave the text whole, as far as it was stripped.
        {"x+", "x+", 0, {2}}, {"a+b-", "(a+b-)", 0, {2}}, {"((a+b)-)", "(a+b)-", 0, {2}},
        {"--5-", "--5-", 0, {2}}, // at most one sign
        {"(x", "(x", 0, {}}, {"2)", "2)", 2, {}}, {")(", ")(", 0, {}}, {"((x)", "((x)", 0, {}}, {"(x+", "(x+", 0, {}},
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

// Every text is built two ways and evaluated two ways, which must agree. With
// its messages emitted, the expansion takes the traced way, without them the
// quiet one: the same tree and the same errors, and a tree built without
// errors is finished. parser_calc runs the tree as a compiled program: the bits
// and node records of the tree evaluation, with variables defined before the
// text is built and added after it, so that names bind anew (the newest
// variable whose name begins with the text).
TEST(Expand, EveryWayAgrees) {
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
            lp::parser_clean(traced->tree);
            const float want = lp::parser_bt_calc(traced->tree, traced->vars);
            ASSERT_TRUE(same_value(got, want)) << "'" << text << "' pass " << pass << ": " << got << " vs " << want;
            ASSERT_EQ(walk(quiet.get()), walk(traced.get())) << "'" << text << "' pass " << pass;
            define(rng.below(2) ? rng.pick(kNames) : "x", random_value(rng));
        }
        compiled += quiet->program != nullptr;
    };
    // Texts that reach every branch: splits of each layout, stripping,
    // calls (nested, unknown, recursive, empty), errors and odd cuts.
    for (const char *text : {"", "x", "()", "((x))", "(a)(b)", "(a)+(b)", "x+", "a+b-", "(x", "x)", "(a+b)-", "a--b",
                             "-x", "1-2-3-4", "8/2/2/2", "2^3^2", "7%4%2", "costly", "xcos", "2cos(y)", "cos(x)cos(y)",
                             "atan(x)", "tan(atan(x))", "2*(x+1)-cos(y)", "(x+1)*(y-2)/(x*y+3)", "f(2)", "(f(2))",
                             "f(f(2))", "g(1,2)", "g(x,f(2))*3", "g(1)", "h(3)", "2(3)", "k()", "rec(1)",
                             "f(rec(1))+g((1),(2))", "x*(y+z)*w", "((a)+(b))", "a^b*c", "a*b^c",
                             "log10(log2(logn(exp(1))))", "f(2)+", "g(1,2)^f(3)%4"})
        compare(text);
    EXPECT_TRUE(seen[PARSER_ERR_TRAILING_OPERATOR] && seen[PARSER_ERR_UNKNOWN_FUNCTION] && seen[PARSER_ERR_SUBSTITUTION_LIMIT]);
    std::string nested = "x";
    for (int i = 0; i < 300; ++i) nested = i % 2 ? "f(" + nested + ")-1" : "(x+" + nested + ")*2";
    compare(nested);
    for (int round = 0; round < 1500 && !HasFailure(); ++round) compare(random_text(rng, 0));
    EXPECT_GT(clean, 400);
    EXPECT_EQ(compiled, texts) << "every expanded tree should run as a program";
}

// Runaway substitution is stopped with code 5, quickly.
TEST(Expand, RunawaySubstitution) {
    struct Case {
        std::vector<std::pair<const char *, const char *>> defs;
        float value;
    };
    const Case cases[] = {
        {{{"f(x)", "f(x)"}}, 0},
        {{{"f(x)", "1+f(x)"}}, 256}, // 256 substitutions on the path, then stopped
        {{{"f(x)", "g(x)"}, {"g(x)", "f(x)"}}, 0},
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        for (const auto &d : c.defs) parser_func(p.get(), d.first, d.second);
        Capture cap;
        EXPECT_EQ(parser_calc(p.get(), "f(1)"), c.value) << c.defs[0].second;
        int first = -1;
        EXPECT_GT(parser_errors(p.get(), &first), 0) << c.defs[0].second;
        EXPECT_EQ(first, 5) << c.defs[0].second;
        ASSERT_FALSE(cap.codes.empty());
        EXPECT_EQ(cap.codes.front(), 5) << c.defs[0].second;
    }
}

// Deep and long inputs build, evaluate, walk and release without exhausting
// the stack. Each is a test of its own so that they run side by side. The
// long texts are 512 KiB: a quarter-million-deep chain already rules out any
// recursion on depth, and 1 MiB takes several seconds under sanitizers.
namespace {

Parser *expect_value(const std::string &text, float value) {
    Parser *p = parser_new();
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

TEST(ExpandDeep, FlatSum) {
    const std::string text = chain('+', size_t{512} << 10);
    parser_destroy(expect_value(text, static_cast<float>((text.size() + 1) / 2)));
}

// The power chain is a left-deep tree: the tree evaluation and the walk go
// all the way down too.
TEST(ExpandDeep, PowerChain) {
    const std::string text = chain('^', size_t{512} << 10);
    ParserPtr p(expect_value(text, 1.0f));
    lp::parser_clean(p->tree);
    EXPECT_EQ(lp::parser_bt_calc(p->tree, p->vars), 1.0f);
    const std::vector<Visit> visits = walk(p.get());
    ASSERT_EQ(visits.size(), text.size());
    const int deepest = static_cast<int>(text.size() / 2); // the first operand, on the left
    EXPECT_EQ(visits[deepest], Visit(deepest, 1, "1", PARSER_OP_OPERAND, PARSER_STATE_DONE, bits(1.0f)));
}

TEST(ExpandDeep, NestedBrackets) {
    parser_destroy(expect_value(std::string(10000, '(') + "x" + std::string(10000, ')'), 3.0f));
}

// Each level rescans the rest of the text, so the cost grows with the square
// of the depth; 6000 levels keep it near a second under sanitizers.
TEST(ExpandDeep, NestedSums) {
    const int depth = 6000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "x+(";
    parser_destroy(expect_value(text + "x" + std::string(depth, ')'), 3.0f * (depth + 1)));
}
