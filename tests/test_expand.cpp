// test_expand.cpp - expanding texts into trees: shapes, messages, failures, runaway substitution, deep inputs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

const std::string kBanner = "_____________new expand_tree______________\n";
const std::string kNot = "NOT Expanding\n";
std::string left_msg(const char *e) { return std::string("Expanding left node expr: \"") + e + "\"\n"; }
std::string right_msg(const char *e) { return std::string("Expanding right node expr: \"") + e + "\"\n"; }

// The messages of the expansion itself, in order (constructor and search
// messages left out).
std::vector<std::string> expansion_messages(const Capture &cap) {
    std::vector<std::string> out;
    for (const auto &p : cap.pieces)
        if (p.text == kBanner || p.text == kNot || p.text.rfind("Expanding ", 0) == 0) out.push_back(p.text);
    return out;
}

// Every node of a tree that expanded without errors: operators wait for
// calculation, operands are plain texts with no symbol and no bracket.
void expect_finished(const TreeNode *root, const std::string &text) {
    std::vector<const TreeNode *> stack{root};
    while (!stack.empty()) {
        const TreeNode *n = stack.back();
        stack.pop_back();
        if (n == nullptr) continue;
        const lp::NodeData *d = data_of(n);
        if (d->op == lp::OP_OPERAND) {
            EXPECT_EQ(d->state, lp::EXPAND) << text;
            const std::string e = d->expr;
            EXPECT_EQ(e.find_first_of("()"), std::string::npos) << text << " leaf " << e;
            for (const lp::OperationEntry &row : lp::operation)
                EXPECT_EQ(e.find(row.name), std::string::npos) << text << " leaf " << e;
        } else {
            EXPECT_EQ(d->state, lp::CALCULATE) << text;
            EXPECT_STREQ(d->expr, lp::operation[d->op].name) << text;
        }
        stack.push_back(n->left);
        stack.push_back(n->right);
    }
}

bool balanced(const std::string &text) {
    int depth = 0;
    for (char c : text) {
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (depth < 0) return false;
    }
    return depth == 0;
}

} // namespace

TEST(Expand, WorkedExampleTreeAndMessages) {
    ParserPtr p(parser_new());
    Capture cap(8);
    parser_expand(p.get(), "2*(x+1)-cos(y)");
    EXPECT_EQ(render(p->tree), "((2*(x+1))-cos(y))");
    expect_finished(p->tree, "worked example");
    const std::vector<std::string> expected = {
        kBanner, left_msg("2*(x+1)"), kBanner, left_msg("2"),      kBanner, right_msg("(x+1)"), kBanner, left_msg("x"),
        kBanner, right_msg("1"),      kBanner, right_msg("cos(y)"), kBanner, right_msg("(y)"),  kBanner,
    };
    EXPECT_EQ(expansion_messages(cap), expected);
    EXPECT_EQ(cap.count(kBanner), 8u);
    EXPECT_TRUE(cap.codes.empty());
    for (const auto &piece : cap.pieces)
        if (piece.text == kBanner) {
            EXPECT_EQ(piece.level, 8);
        } else if (piece.text.rfind("Expanding ", 0) == 0) {
            EXPECT_EQ(piece.level, 7);
        }
}

// An inner operator node of a chain gets its own call, which does not expand it.
TEST(Expand, InnerOperatorNodeIsNotExpanded) {
    ParserPtr p(parser_new());
    Capture cap(7);
    parser_expand(p.get(), "a-b-c");
    EXPECT_EQ(render(p->tree), "((a-b)-c)");
    const std::vector<std::string> expected = {left_msg("-"), kNot,         left_msg("a"),
                                               right_msg("b"), right_msg("c")};
    EXPECT_EQ(expansion_messages(cap), expected);
}

// Shapes, with the codes reported on the way. Unsplit roots keep their text.
TEST(Expand, Shapes) {
    struct Case {
        const char *text;
        const char *tree;
        std::vector<int> codes;
    };
    const Case cases[] = {
        {"x", "x", {}},
        {"((x))", "x", {}},
        {"", "''", {}},
        {"()", "''", {}},
        {"(a)+(b)", "(a+b)", {}},
        {"cos(x)+1", "(cos(x)+1)", {}},
        {"cos(x)^2", "(cos(x)^2)", {}},
        {"2*3^2", "((2*3)^2)", {}},
        {"costly", "cos(tly)", {}},
        {"-x", "(''-x)", {}},
        {"x*(y+z)*w", "((x*(y+z))*w)", {}},
        {"1-2-3-4", "((1-2)-(3+4))", {}},
        {"f(2)", "(2*2)", {}},
        {"(f(2))", "(2*2)", {}},
        {"f(f(2))", "((2*2)*2)", {}},
        {"x+", "x+", {2}},
        {"a+b-", "(a+b-)", {2}},
        {"(x", "(x", {}},
        {")(", ")(", {}},
        {"((x)", "((x)", {}},
        {"(x+", "(x+", {}},
        {"2(3)", "2(3)", {4}},
        {"g(2)", "g(2)", {4}},
        {"(a)(b)", "(a)(b)", {4}},
        {"1+g(2)+h(3)", "((1+g(2))+h(3))", {4, 4}},
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        parser_func(p.get(), "f(x)", "x*2");
        Capture cap;
        parser_expand(p.get(), c.text);
        EXPECT_EQ(render(p->tree), c.tree) << c.text;
        EXPECT_EQ(cap.codes, c.codes) << c.text;
        int first = -1;
        EXPECT_EQ(parser_errors(p.get(), &first), static_cast<int>(c.codes.size())) << c.text;
        EXPECT_EQ(first, c.codes.empty() ? -1 : c.codes[0]) << c.text;
        if (c.codes.empty() && balanced(c.text)) expect_finished(p->tree, c.text);
    }
}

// Failed texts leave the node as an operand in EXPAND with the text as far as
// it was stripped.
TEST(Expand, FailedNodesStayOperands) {
    for (const char *text : {"x+", "(x", ")(", "((a+b)-)", "g(1)"}) {
        ParserPtr p(parser_new());
        Capture cap;
        parser_expand(p.get(), text);
        const lp::NodeData *root = data_of(p->tree);
        EXPECT_EQ(root->op, lp::OP_OPERAND) << text;
        EXPECT_EQ(root->state, lp::EXPAND) << text;
        EXPECT_EQ(p->tree->left, nullptr) << text;
        EXPECT_EQ(p->tree->right, nullptr) << text;
    }
    ParserPtr p(parser_new());
    Capture cap;
    parser_expand(p.get(), "((a+b)-)");
    EXPECT_STREQ(data_of(p->tree)->expr, "(a+b)-");
}

// Random texts: whenever nothing is reported, the tree is finished.
TEST(Expand, CleanExpansionsAreFinished) {
    static const char *const pieces[] = {"x", "2", "+", "-", "*", "/", "^", "%", "(", ")", "cos", "tan", "atan", "f(1)"};
    std::mt19937 rng(77);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(1, 12);
    int clean = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (size_t n = length(rng); n > 0; --n) text += pieces[pick(rng)];
        ParserPtr p(parser_new());
        parser_func(p.get(), "f(x)", "x-1");
        Capture cap;
        parser_expand(p.get(), text.c_str());
        if (!cap.codes.empty() || !balanced(text)) continue;
        ++clean;
        expect_finished(p->tree, text);
    }
    EXPECT_GT(clean, 300);
}

// Runaway substitution is stopped with code 5, quickly.
TEST(Expand, RunawaySubstitution) {
    struct Case {
        std::vector<std::pair<const char *, const char *>> defs;
        std::string text;
        float value;
    };
    std::string nested = "1";
    for (int i = 0; i < 40; ++i) nested = "f(" + nested + ")";
    const Case cases[] = {
        {{{"f(x)", "f(x)"}}, "f(1)", 0},
        {{{"f(x)", "1+f(x)"}}, "f(1)", 256}, // 256 substitutions on the path, then stopped
        {{{"f(x)", "g(x)"}, {"g(x)", "f(x)"}}, "f(1)", 0},
        {{{"f(x)", "x+x"}}, nested, -1}, // value not checked
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        for (const auto &d : c.defs) parser_func(p.get(), d.first, d.second);
        Capture cap;
        const float value = parser_calc(p.get(), c.text.c_str());
        EXPECT_TRUE(c.value < 0 || value == c.value) << c.text << " gave " << value;
        int first = -1;
        EXPECT_GT(parser_errors(p.get(), &first), 0) << c.text;
        EXPECT_EQ(first, 5) << c.text;
        ASSERT_FALSE(cap.codes.empty());
        EXPECT_EQ(cap.codes.front(), 5) << c.text;
    }
}

// Deep and long inputs build, evaluate and release without exhausting the
// stack. Each is a test of its own so that they run side by side. The two
// long texts are 512 KiB: a quarter-million-deep chain already rules out any
// recursion on depth, and 1 MiB takes several seconds under sanitizers.
namespace {

void expect_value(const std::string &text, float value) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 3.0f);
    EXPECT_EQ(parser_calc(p.get(), text.c_str()), value);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
}

std::string chain(char op, size_t bytes) {
    std::string text = "1";
    while (text.size() + 2 <= bytes) text += std::string{op, '1'};
    return text;
}

} // namespace

TEST(ExpandDeep, FlatSum) {
    const std::string text = chain('+', size_t{512} << 10);
    expect_value(text, static_cast<float>((text.size() + 1) / 2));
}

TEST(ExpandDeep, PowerChain) { expect_value(chain('^', size_t{512} << 10), 1.0f); }

TEST(ExpandDeep, NestedBrackets) {
    const int depth = 10000;
    expect_value(std::string(depth, '(') + "x" + std::string(depth, ')'), 3.0f);
}

// Each level rescans the rest of the text, so the cost grows with the square
// of the depth; 6000 levels keep it near a second under sanitizers.
TEST(ExpandDeep, NestedSums) {
    const int depth = 6000;
    std::string text;
    for (int i = 0; i < depth; ++i) text += "x+(";
    text += "x" + std::string(depth, ')');
    expect_value(text, 3.0f * (depth + 1));
}
