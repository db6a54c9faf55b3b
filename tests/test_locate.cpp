// test_locate.cpp - bracket lists and stripping, choice of the operation to split at, and their messages.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

using Positions = std::vector<int32_t>;

struct Located {
    uint8_t bracket_error = 0;
    std::string text; // the node's text after stripping
    Positions brackets;
    bool op_searched = false;
    uint8_t op_error = 0;
    bool op_found = false;
    int32_t id = -1;
    Positions ops;
    std::vector<int> codes;
};

// Runs the two location calls in the order that expansion uses them.
Located locate(const char *text, Capture &cap) {
    Located r;
    TreePtr node(text_node(text));
    ListPtr brackets(lp::find_extern_brakets(node.get(), &r.bracket_error));
    r.text = data_of(node.get())->expr;
    r.brackets = positions(brackets.get());
    if (r.bracket_error == 0) {
        r.op_searched = true;
        int32_t id = -1;
        ListPtr ops(lp::find_extern_highest_prio_op(brackets.get(), data_of(node.get())->expr, &id, &r.op_error));
        r.op_found = ops != nullptr;
        if (r.op_found) r.id = id;
        r.ops = positions(ops.get());
    }
    r.codes = cap.codes;
    return r;
}

class Locate : public ::testing::Test {
protected:
    ParserPtr parser{parser_new()}; // fills the operation table
};

} // namespace

TEST_F(Locate, LengthAndFind) {
    EXPECT_EQ(lp::lngth(""), 0);
    EXPECT_EQ(lp::lngth("log10"), 5);

    Capture cap(6);
    ListPtr list(list_new());
    EXPECT_EQ(lp::find("aa", "aaa", list.get()), list.get());
    EXPECT_EQ(positions(list.get()), (Positions{1, 0})); // overlapping, last first
    EXPECT_EQ(cap.at(6), (std::vector<std::string>{"Tocken found\n", "Tocken found\n"}));

    ListPtr other(list_of({7}));
    EXPECT_EQ(lp::find("abcd", "abc", other.get()), nullptr);
    EXPECT_EQ(lp::find("x", "", other.get()), nullptr);
    EXPECT_EQ(lp::find("Cos", "cos", other.get()), nullptr); // case-sensitive
    EXPECT_EQ(positions(other.get()), (Positions{7}));
    EXPECT_EQ(cap.pieces.size(), 2u);
}

TEST_F(Locate, BracketListsAndStripping) {
    struct Case {
        const char *text;
        uint8_t error;
        const char *stripped;
        Positions brackets;
    };
    const Case cases[] = {
        {"a+b*c", 0, "a+b*c", {}},
        {"", 0, "", {}},
        {"(a+b)*c", 0, "(a+b)*c", {0, 4}},
        {"((a))", 0, "a", {}},
        {"((a+b))", 0, "a+b", {}},
        {"()", 0, "", {}},
        {"(())", 0, "", {}},
        {"(a)(b)", 0, "(a)(b)", {0, 2, 3, 5}},
        {"((a)(b))", 0, "(a)(b)", {0, 2, 3, 5}},
        {"(a)+b", 0, "(a)+b", {0, 2}},
        {"((a)+(b))", 0, "(a)+(b)", {0, 2, 4, 6}},
        {"(((x)))+1", 0, "(((x)))+1", {0, 6}},
        {"f((1,2),(3))", 0, "f((1,2),(3))", {1, 11}},
        {")(", 1, ")(", {}},
        {"a)", 1, "a)", {}},
        {"(a", 1, "(a", {}},
        {"(a))(", 1, "(a))(", {}},
        {"((a)", 1, "((a)", {}},
    };
    for (const Case &c : cases) {
        Capture cap(6);
        TreePtr node(text_node(c.text));
        uint8_t error = 7;
        ListPtr brackets(lp::find_extern_brakets(node.get(), &error));
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_STREQ(data_of(node.get())->expr, c.stripped) << c.text;
        EXPECT_EQ(positions(brackets.get()), c.brackets) << c.text;
        EXPECT_EQ(brackets == nullptr, c.brackets.empty()) << "an empty list is never handed out: " << c.text;
        EXPECT_TRUE(cap.pieces.empty()) << "bracket search prints nothing: " << c.text;
    }
}

TEST_F(Locate, DeepEnclosingBracketsStripToTheCore) {
    const int depth = 10000;
    const std::string text = std::string(depth, '(') + "x+1" + std::string(depth, ')');
    TreePtr node(text_node(text.c_str()));
    uint8_t error = 1;
    ListPtr brackets(lp::find_extern_brakets(node.get(), &error));
    EXPECT_EQ(error, 0);
    EXPECT_EQ(brackets, nullptr);
    EXPECT_STREQ(data_of(node.get())->expr, "x+1");
}

// id -1: no operation outside brackets; id -2: code 2 for a trailing symbol.
TEST_F(Locate, OperatorChoice) {
    struct Case {
        const char *text;
        int32_t id;
        Positions ops;
    };
    const Case cases[] = {
        {"a+b*c", 0, {1}},         {"(a+b)*c", 3, {5}},      {"((a))", -1, {}},
        {"()", -1, {}},            {"(a)(b)", -1, {}},       {"", -1, {}},
        {"x", -1, {}},             {"cos(x)+1", 0, {6}},     {"atan(x)", 8, {0}},
        {"tan(atan(x))", 9, {0}},  {"a+(b+c)", 0, {1}},      {"x*(y+z)*w", 3, {1, 7}},
        {"-x", 1, {0}},            {"a-b-c", 1, {1, 3}},     {"a--b", 1, {1, 2}},
        {"a*b^c", 2, {3}},         {"a^b*c", 2, {1}},        {"cost", 6, {0}},
        {"log10(x)", 13, {0}},     {"x%(2)", 5, {1}},        {"((a)+(b))", 0, {3}},
        {"a(b+c)d+e", 0, {7}},     {"(a+b)+(c+d)+e", 0, {5, 11}},
        {"(a-)+b", 0, {4}},        {"(a+)-b", 1, {4}},       {"2cos(y)", 6, {1}},
        {"cos(x)cos(y)", 6, {0, 6}}, {"xcos", 6, {1}},
        {"a+", -2, {}},            {"a+b+", -2, {}},         {"(a+b)-", -2, {}},
        {"(a)+", -2, {}},          {"cos(a)-", -2, {}},      {"+", -2, {}},
        {"a+b-", 0, {1}},          {"a-b*", 1, {1}},
    };
    for (const Case &c : cases) {
        Capture cap;
        const Located r = locate(c.text, cap);
        ASSERT_TRUE(r.op_searched) << c.text;
        EXPECT_EQ(r.op_found, c.id >= 0) << c.text;
        EXPECT_EQ(r.op_error, c.id == -2 ? 1 : 0) << c.text;
        EXPECT_EQ(r.codes, c.id == -2 ? std::vector<int>{2} : std::vector<int>{}) << c.text;
        EXPECT_EQ(cap.files, c.id == -2 ? std::vector<std::string>{"lib_parse"} : std::vector<std::string>{}) << c.text;
        if (c.id >= 0) {
            EXPECT_EQ(r.id, c.id) << c.text;
        }
        EXPECT_EQ(r.ops, c.ops) << c.text;
    }
}

TEST_F(Locate, SearchMessages) {
    struct Case {
        const char *text;
        size_t tokens, outside;
    };
    const Case cases[] = {
        {"x*(y+z)*w", 3, 2},   // "+" once, "*" twice; one before the pair, one past the last
        {"a+b+c", 2, 0},       // no brackets: nothing is walked
        {"(a)+b+c", 2, 1},     // past the last pair: announced once
        {"a+b+(c)", 2, 2},     // both before the pair
        {"a+(b)+c+(d)", 3, 3}, // before, between, between
        {"(a+b)*(c)", 1 + 1, 1},
        {"a+", 1, 0},
    };
    for (const Case &c : cases) {
        Capture cap(6);
        locate(c.text, cap);
        EXPECT_EQ(cap.count("Tocken found\n"), c.tokens) << c.text;
        EXPECT_EQ(cap.count("Op is outside brackets\n"), c.outside) << c.text;
        EXPECT_EQ(cap.pieces.size(), c.tokens + c.outside) << c.text;
        for (const auto &piece : cap.pieces) EXPECT_EQ(piece.level, 6) << c.text;
    }
    Capture cap(6);
    locate("x*(y+z)*w", cap);
    const std::vector<std::string> expected = {"Tocken found\n", "Tocken found\n", "Tocken found\n",
                                               "Op is outside brackets\n", "Op is outside brackets\n"};
    EXPECT_EQ(cap.at(6), expected);
}

// The search runs a quiet way when its messages are not emitted and a traced
// way when they are; both must give the same answer for every text.
TEST_F(Locate, QuietAndTracedSearchAgree) {
    static const char *const pieces[] = {"x", "y", "1", "2", ".", " ", "+", "-", "^",    "*",    "/",
                                         "%", "(", ")", "(", ")", "cos", "sin", "atan", "tan", "exp",
                                         "logn", "log2", "log10", "a", "n"};
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(0, 14);
    size_t found = 0, trailing = 0, bracketed = 0;
    for (int round = 0; round < 20000; ++round) {
        // Mostly balanced brackets, so that the bracket walk is exercised;
        // now and then a stray one.
        std::string text;
        int open = 0;
        for (size_t n = length(rng); n > 0; --n) {
            const std::string piece = pieces[pick(rng)];
            if (piece == ")" && open == 0 && rng() % 8 != 0) continue;
            open += piece == "(" ? 1 : piece == ")" ? -1 : 0;
            text += piece;
        }
        if (rng() % 8 != 0)
            for (; open > 0; --open) text += ")";
        Located quiet, traced;
        {
            Capture cap(0);
            quiet = locate(text.c_str(), cap);
        }
        {
            Capture cap(6);
            ASSERT_TRUE(dbg_is_enabled(6));
            traced = locate(text.c_str(), cap);
        }
        ASSERT_EQ(quiet.bracket_error, traced.bracket_error) << text;
        ASSERT_EQ(quiet.text, traced.text) << text;
        ASSERT_EQ(quiet.brackets, traced.brackets) << text;
        ASSERT_EQ(quiet.op_error, traced.op_error) << text;
        ASSERT_EQ(quiet.op_found, traced.op_found) << text;
        ASSERT_EQ(quiet.id, traced.id) << text;
        ASSERT_EQ(quiet.ops, traced.ops) << text;
        ASSERT_EQ(quiet.codes, traced.codes) << text;
        found += quiet.op_found;
        trailing += quiet.op_error;
        bracketed += !quiet.brackets.empty() && quiet.op_found;
    }
    // The generator must reach every branch for the comparison to mean much.
    EXPECT_GT(found, 5000u);
    EXPECT_GT(trailing, 1000u);
    EXPECT_GT(bracketed, 1000u);
}
