// test_calc.cpp - texts to values through parser_calc, the expression cache, errors, walks and the C++ wrapper.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "core_test_support.h"
#include "lib_parse.hpp"

using namespace test;

namespace {

float fcos(double x) { return static_cast<float>(std::cos(x)); }

// Expansion calls made by the calls in between, counted by their banners.
size_t expansions(const Capture &cap) { return cap.count("_____________new expand_tree______________\n"); }

} // namespace

// Variables: x = 1, y = 0, tly = 2.
TEST(Calc, Values) {
    struct Case {
        const char *text;
        float value;
        int code; // first error code, or -1
    };
    const Case cases[] = {
        // Precedence follows the table: "+", "-", "^", "*", "/", "%", functions.
        {"1+2*3", 7, -1},
        {"2*3^2", 36, -1}, // ((2*3)^2)
        {"2^3*2", 64, -1}, // 2^(3*2)
        {"2*7%4", 6, -1},  // 2*(7%4)
        {"8/6%4", 4, -1},  // 8/(6%4)
        {"cos(x)^2", static_cast<float>(std::pow(static_cast<double>(fcos(1)), 2.0)), -1},
        {"cos(y)*2", 2, -1},
        {"costly", fcos(2), -1}, // cos of the name 'tly'
        {"2cos(y)", 1, -1},       // the '2' is dropped
        {"cos(y)cos(x)", 1, -1},
        {"2*(x+1)-cos(y)", 3, -1},
        // Chains.
        {"1-2-3-4", -8, -1},
        {"1-2-3-4-5", -13, -1},
        {"8/2/2/2", 1, -1},
        {"2^3^2", 64, -1},
        {"7%4%2", 1, -1},
        {"1+2+3+4+5+6+7", 28, -1},
        // Unary minus: an empty left operand is 0.
        {"-x", -1, -1},
        {"--x", -1, -1},
        {"-(-x)", 1, -1},
        {"3--2", 1, -1},
        {"-2^2", -4, -1},
        {"2^-1", -1, 2}, // split at "-" first: '2^' - 1; '2^' is a name ('^' is above 'A')
        {"2*-3", -1, 2},  // '2*' - 3; '2*' reads as the number 2
        // Numbers and names.
        {"0.1+0.2", 0.300000011920928955078125f, -1},
        {"16777217", 16777216, -1},
        {"1e3", 0, -1},
        {"A", 0, -1},
        {" 1 + 2 ", 3, -1},
        {"1/0", std::numeric_limits<float>::infinity(), -1},
        {"log2(8)+log10(1000)+exp(y)+logn(x)+atan(y)+tan(y)+sin(y)", 7, -1},
        // Texts left whole are read as one operand.
        {"2)", 2, -1},
        {"x+", 0, 2},
        {"a+b-", 0, 2},
        {"(x", 0, -1},
        {")(", 0, -1},
        {"2(3)", 2, 4},
        {"--5-", 0, 2}, // the whole text as a number: at most one sign
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        parser_var(p.get(), "x", 1);
        parser_var(p.get(), "y", 0);
        parser_var(p.get(), "tly", 2);
        Capture cap;
        EXPECT_EQ(bits(parser_calc(p.get(), c.text)), bits(c.value)) << c.text << " gave " << parser_calc(p.get(), c.text);
        int first = -1;
        EXPECT_EQ(parser_errors(p.get(), &first) > 0, c.code >= 0) << c.text;
        EXPECT_EQ(first, c.code) << c.text;
    }
}

TEST(Calc, CacheRebuildsOnlyWhenNeeded) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 1);
    Capture cap(8);
    auto calc = [&](const char *text, float value, size_t banners, const char *what) {
        cap.clear();
        EXPECT_EQ(parser_calc(p.get(), text), value) << what;
        EXPECT_EQ(expansions(cap), banners) << what;
        EXPECT_STREQ(p->cache->last, text) << what;
        EXPECT_EQ(p->cache->dirty, 0) << what;
    };
    calc("x+1", 2, 3, "first call expands");
    calc("x+1", 2, 0, "same text: no expansion");
    parser_var(p.get(), "x", 5);
    calc("x+1", 6, 0, "new variable value, same tree");
    parser_var(p.get(), "xz", 40);
    calc("x+1", 41, 0, "a newer variable whose name begins with x is found first");
    parser_var(p.get(), "xz", 4);
    parser_var(p.get(), "x", 0);
    calc("x+1", 5, 0, "updates leave the order alone");

    const char *buffer = p->cache->last;
    calc("x+2", 6, 3, "same length, one byte differs");
    EXPECT_EQ(p->cache->last, buffer) << "the buffer of the same length is reused";
    calc("x+20", 24, 3, "other length");

    parser_func(p.get(), "f(a)", "a*2");
    EXPECT_EQ(p->cache->dirty, 1);
    calc("f(x)", 8, 4, "after parser_func");
    parser_func(p.get(), "f(a)", "a*3");
    calc("f(x)", 12, 4, "redefinition takes effect with the same text");

    // parser_expand makes its text the cached one, so the cache never names
    // a text whose tree is gone.
    parser_expand(p.get(), "x*100");
    EXPECT_STREQ(p->cache->last, "x*100");
    EXPECT_EQ(p->cache->dirty, 0);
    calc("f(x)", 12, 4, "another text after parser_expand rebuilds");
    parser_expand(p.get(), "x*100");
    calc("x*100", 400, 0, "the expanded text itself is a cache hit");
}

TEST(Calc, ErrorsFollowTheCurrentTree) {
    ParserPtr p(parser_new());
    Capture cap;
    struct Step {
        const char *text;
        bool expand_only;
        int count, code;
    };
    const Step steps[] = {
        {"x+", false, 1, 2},
        {"x+", false, 1, 2}, // cache hit: the same tree, the same count
        {"1+1", false, 0, -1},
        {"g(1)+h(2)+1-", true, 3, 4}, // in tree order: g, h, then the trailing "-"
        {"g(1)+h(2)", true, 2, 4},
        {"1", false, 0, -1},
    };
    for (const Step &s : steps) {
        if (s.expand_only)
            parser_expand(p.get(), s.text);
        else
            parser_calc(p.get(), s.text);
        int code = -1;
        EXPECT_EQ(parser_errors(p.get(), &code), s.count) << s.text;
        EXPECT_EQ(code, s.code) << s.text;
    }
}

namespace {

using Visit = std::tuple<int, int, std::string, int, int, float>;

void record_visit(void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
    static_cast<std::vector<Visit> *>(ctx)->emplace_back(depth, side, expr ? expr : "<null>", op, state, value);
}

} // namespace

TEST(Calc, WalkVisitsInPreOrder) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 1);
    parser_var(p.get(), "y", 0);
    EXPECT_EQ(parser_calc(p.get(), "2*(x+1)-cos(y)"), 3.0f);
    std::vector<Visit> visits;
    parser_walk(p.get(), record_visit, &visits);
    const int done = PARSER_STATE_DONE, leaf = PARSER_OP_OPERAND;
    const std::vector<Visit> expected = {
        {0, 0, "-", 1, done, 3},    {1, 1, "*", 3, done, 4},   {2, 1, "2", leaf, done, 2},
        {2, 2, "+", 0, done, 2},    {3, 1, "x", leaf, done, 1}, {3, 2, "1", leaf, done, 1},
        {1, 2, "cos", 6, done, 1},  {2, 2, "y", leaf, done, 0},
    };
    EXPECT_EQ(visits, expected);

    parser_expand(p.get(), "a-b");
    visits.clear();
    parser_walk(p.get(), record_visit, &visits);
    const std::vector<Visit> unevaluated = {{0, 0, "-", 1, PARSER_STATE_CALCULATE, 0},
                                            {1, 1, "a", leaf, PARSER_STATE_EXPAND, 0},
                                            {1, 2, "b", leaf, PARSER_STATE_EXPAND, 0}};
    EXPECT_EQ(visits, unevaluated);

    // A deep tree: a left-deep chain of 20001 operands.
    std::string chain = "1";
    for (int i = 0; i < 20000; ++i) chain += "^1";
    parser_expand(p.get(), chain.c_str());
    visits.clear();
    parser_walk(p.get(), record_visit, &visits);
    ASSERT_EQ(visits.size(), 40001u);
    EXPECT_EQ(std::get<0>(visits[20000]), 20000); // the deepest operand, on the left
    EXPECT_EQ(std::get<1>(visits[20000]), 1);
}

TEST(Calc, CppWrapper) {
    lib_parse::Parser p;
    ASSERT_NE(p.get(), nullptr);
    p.var("x", 2.0f);
    p.var(std::string("y"), 3.0f);
    p.func("g(a,b)", "a-b");
    p.func(std::string("f(x)"), std::string("x*x"));
    EXPECT_EQ(p.calc("g(f(x),y)"), 1.0f);
    EXPECT_EQ(p.calc(std::string("x^y")), 8.0f);
    EXPECT_EQ(p.errors(), 0);
    p.calc("x+");
    int code = -1;
    EXPECT_EQ(p.errors(&code), 1);
    EXPECT_EQ(code, 2);

    p.expand(std::string("x*y"));
    std::vector<std::string> texts;
    p.walk([&](int, int, const char *expr, int, int, float) { texts.emplace_back(expr); });
    EXPECT_EQ(texts, (std::vector<std::string>{"*", "x", "y"}));
    int nodes = 0;
    const auto count = [&nodes](int, int, const char *, int, int, float) { ++nodes; };
    p.walk(count); // a named, const callable
    EXPECT_EQ(nodes, 3);

    lib_parse::Parser moved(std::move(p));
    EXPECT_EQ(p.get(), nullptr);
    EXPECT_TRUE(std::isnan(p.calc("1")));
    EXPECT_EQ(p.errors(), 0);
    EXPECT_EQ(moved.calc("x+y"), 5.0f);

    lib_parse::Parser other;
    other.var("x", 7.0f);
    moved = std::move(other); // releases the first handle
    EXPECT_EQ(moved.calc("x"), 7.0f);
    EXPECT_EQ(other.get(), nullptr);
}
