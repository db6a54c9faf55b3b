// test_locate.cpp - bracket lists and stripping, choice of the operation to split at, and their messages.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

using Positions = std::vector<int32_t>;

struct Located {
    uint8_t bracket_error = 0;
    std::string text; // the node's text after stripping
    Positions brackets;
    uint8_t op_error = 0;
    int32_t id = -1; // -1: no operation found
    Positions ops;
    std::vector<int> codes;
};

// Runs the two location calls in the order that expansion uses them.
Located locate(const std::string &text, Capture &cap) {
    Located r;
    TreePtr node(text_node(text.c_str()));
    r.bracket_error = 7;
    ListPtr brackets(lp::find_extern_brakets(node.get(), &r.bracket_error));
    r.text = data_of(node.get())->expr;
    r.brackets = positions(brackets.get());
    EXPECT_EQ(brackets == nullptr, r.brackets.empty()) << "an empty list is never handed out: " << text;
    if (r.bracket_error == 0) {
        int32_t id = -1;
        ListPtr ops(lp::find_extern_highest_prio_op(brackets.get(), r.text.c_str(), &id, &r.op_error));
        r.id = ops != nullptr ? id : -1;
        r.ops = positions(ops.get());
    }
    r.codes = cap.codes;
    return r;
}

// Bracket search by its definition, a pair at a time: mark the top-level
// pairs; when one pair encloses the whole text, strip it and start over.
Located literal_scan(std::string text) {
    for (;;) {
        Located r;
        int depth = 0;
        bool single = true;
        const int n = static_cast<int>(text.size());
        for (int p = 0; p < n && depth >= 0; ++p) {
            const int before = depth;
            depth += text[p] == '(' ? 1 : text[p] == ')' ? -1 : 0;
            if ((before == 0 && depth == 1) || (before == 1 && depth == 0)) r.brackets.push_back(p);
            if (before == 1 && depth == 0 && p != n - 1) single = false;
        }
        r.bracket_error = depth != 0;
        if (!r.bracket_error && single && n >= 2 && text[0] == '(' && text[n - 1] == ')') {
            text = text.substr(1, text.size() - 2);
            continue;
        }
        r.text = text;
        return r;
    }
}

class Locate : public ::testing::Test {
protected:
    ParserPtr parser{parser_new()}; // fills the operation table
};

} // namespace

TEST_F(Locate, BracketListsAndStripping) {
    struct Case {
        std::string text;
        uint8_t error;
        std::string stripped;
        Positions brackets;
    };
    const std::string deep = std::string(10000, '(') + "x+1" + std::string(10000, ')');
    const Case cases[] = {
        {"a+b*c", 0, "a+b*c", {}},          {"", 0, "", {}},
        {"(a+b)*c", 0, "(a+b)*c", {0, 4}},  {"((a))", 0, "a", {}},
        {"()", 0, "", {}},                  {"(())", 0, "", {}},
        {"(a)(b)", 0, "(a)(b)", {0, 2, 3, 5}}, {"((a)(b))", 0, "(a)(b)", {0, 2, 3, 5}},
        {"(a)+b", 0, "(a)+b", {0, 2}},      {"((a)+(b))", 0, "(a)+(b)", {0, 2, 4, 6}},
        {"(((x)))+1", 0, "(((x)))+1", {0, 6}}, {"f((1,2),(3))", 0, "f((1,2),(3))", {1, 11}},
        {"(()())", 0, "()()", {0, 1, 2, 3}}, {"x((()))", 0, "x((()))", {1, 6}},
        {deep, 0, "x+1", {}},
        {")(", 1, ")(", {}},  {"a)", 1, "a)", {}},  {"(a", 1, "(a", {}},
        {"(a))(", 1, "(a))(", {}}, {"((a)", 1, "((a)", {}}, {"(a)+(b))", 1, "(a)+(b))", {}},
    };
    for (const Case &c : cases) {
        Capture cap;
        const Located r = locate(c.text, cap);
        EXPECT_EQ(r.bracket_error, c.error) << c.text;
        EXPECT_EQ(r.text, c.stripped) << c.text;
        EXPECT_EQ(r.brackets, c.brackets) << c.text;
    }
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
        {"a+b-", 0, {1}},          {"a-b*", 1, {1}},         {"Cos(x)", -1, {}}, // symbols are case-sensitive
        {"coscos", 6, {0, 3}},
    };
    for (const Case &c : cases) {
        Capture cap;
        const Located r = locate(c.text, cap);
        EXPECT_EQ(r.id, c.id == -2 ? -1 : c.id) << c.text;
        EXPECT_EQ(r.op_error, c.id == -2 ? 1 : 0) << c.text;
        EXPECT_EQ(r.codes, c.id == -2 ? std::vector<int>{2} : std::vector<int>{}) << c.text;
        EXPECT_EQ(cap.files, c.id == -2 ? std::vector<std::string>{"lib_parse"} : std::vector<std::string>{}) << c.text;
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
        {"(a+b)*(c)", 2, 1},
        {"a+", 1, 0},
    };
    for (const Case &c : cases) {
        Capture cap(6);
        locate(c.text, cap);
        EXPECT_EQ(cap.count("Tocken found\n"), c.tokens) << c.text;
        EXPECT_EQ(cap.count("Op is outside brackets\n"), c.outside) << c.text;
        EXPECT_EQ(cap.at(6).size(), c.tokens + c.outside) << c.text;
        EXPECT_EQ(cap.pieces.size(), c.tokens + c.outside) << c.text;
    }
    Capture cap(6);
    locate("x*(y+z)*w", cap);
    EXPECT_EQ(cap.at(6), (std::vector<std::string>{"Tocken found\n", "Tocken found\n", "Tocken found\n",
                                                   "Op is outside brackets\n", "Op is outside brackets\n"}));
}

// The search runs a quiet way when its messages are not emitted and a traced
// way when they are; both must give the same answer for every text, and the
// brackets must be those of the pair-at-a-time definition.
TEST_F(Locate, QuietTracedAndLiteralSearchAgree) {
    static const char *const pieces[] = {"x", "y", "1", ".", " ", "+", "-", "^", "*", "/", "%", "(", ")", "((",
                                         "))", "cos", "sin", "atan", "tan", "exp", "logn", "log2", "log10", "n"};
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(0, 14);
    size_t found = 0, trailing = 0, bracketed = 0, stripped = 0;
    for (int round = 0; round < 8000; ++round) {
        // Mostly balanced brackets, now and then a stray one, and now and
        // then the whole wrapped in more.
        std::string text;
        int open = 0;
        for (size_t n = length(rng); n > 0; --n) {
            const std::string piece = pieces[pick(rng)];
            const int change = piece[0] == '(' ? static_cast<int>(piece.size()) : piece[0] == ')' ? -static_cast<int>(piece.size()) : 0;
            if (open + change < 0 && rng() % 8 != 0) continue;
            open += change;
            text += piece;
        }
        if (rng() % 8 != 0 && open > 0) text += std::string(open, ')');
        if (rng() % 4 == 0) text = std::string(rng() % 4, '(') + text + std::string(rng() % 4, ')');
        Located quiet, traced;
        {
            Capture cap(0);
            quiet = locate(text, cap);
        }
        {
            Capture cap(6);
            traced = locate(text, cap);
        }
        const Located literal = literal_scan(text);
        ASSERT_EQ(quiet.bracket_error, literal.bracket_error) << text;
        ASSERT_TRUE(literal.bracket_error || std::tie(quiet.text, quiet.brackets) == std::tie(literal.text, literal.brackets)) << text;
        ASSERT_TRUE(std::tie(quiet.bracket_error, quiet.text, quiet.brackets, quiet.op_error, quiet.id, quiet.ops, quiet.codes) ==
                    std::tie(traced.bracket_error, traced.text, traced.brackets, traced.op_error, traced.id, traced.ops, traced.codes))
            << text;
        found += quiet.id >= 0;
        trailing += quiet.op_error;
        bracketed += !quiet.brackets.empty() && quiet.id >= 0;
        stripped += quiet.text != text && !quiet.bracket_error;
    }
    // The generator must reach every branch for the comparison to mean much.
    EXPECT_GT(found, 2000u);
    EXPECT_GT(trailing, 400u);
    EXPECT_GT(bracketed, 400u);
    EXPECT_GT(stripped, 400u);
}
