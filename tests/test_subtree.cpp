// test_subtree.cpp - cutting texts at operator positions and the three expanders' layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

// The outcome of a split: the rendered tree, its node count, and the texts
// of the root's two children.
struct Layout {
    std::string tree;
    size_t nodes = 0;
    std::vector<std::string> children;
};

// generate_subtree on a node holding TEXT, cut at AT.
Layout split(const char *text, const std::vector<int32_t> &at, int32_t id) {
    ListPtr list(list_of(at));
    TreePtr root(lp::generate_subtree(text_node(text), list.get(), id));
    Layout out;
    out.tree = render(root.get(), &out.nodes);
    EXPECT_EQ(positions(list.get()), at) << "the positions stay the caller's: " << text;
    // Operator nodes wait for calculation, operand nodes for expansion.
    std::vector<const TreeNode *> stack{root.get()};
    while (!stack.empty()) {
        const TreeNode *n = stack.back();
        stack.pop_back();
        if (n == nullptr) continue;
        EXPECT_EQ(data_of(n)->state, data_of(n)->op == lp::OP_OPERAND ? lp::EXPAND : lp::CALCULATE) << text;
        stack.insert(stack.end(), {n->left, n->right});
    }
    if (root->left != nullptr && root->right != nullptr) out.children = {data_of(root->left)->expr, data_of(root->right)->expr};
    return out;
}

class Subtree : public ::testing::Test {
protected:
    ParserPtr parser{parser_new()};
};

} // namespace

// The node array and the tree for every chain length 'a-b-c...'; records are
// made in array order, node 0 first. "-" and "^" rows stand for their
// operations: "/" lays out like "-" with "*" for "+", "+" and "*" pair with
// themselves, and "%" like "^".
TEST_F(Subtree, ChainLayouts) {
    struct Case {
        int m;
        const char *array;
        const char *tree;
    };
    const Case cases[] = {
        {2, "- a b", "(a-b)"},
        {3, "- - c a b", "((a-b)-c)"},
        {4, "- - + a b c d", "((a-b)-(c+d))"},
        {5, "- - + - c d e a b", "(((a-b)-c)-(d+e))"},
        {6, "- - + - + e f a b c d", "(((a-b)-(c+d))-(e+f))"},
        {7, "- - + - + + g a b c d e f", "(((a-b)-(c+d))-((e+f)+g))"},
        {2, "^ b a", "(a^b)"},
        {3, "^ c ^ b a", "((a^b)^c)"},
        {4, "^ d ^ c ^ b a", "(((a^b)^c)^d)"},
        {5, "^ e ^ d ^ c ^ b a", "((((a^b)^c)^d)^e)"},
        {6, "^ f ^ e ^ d ^ c ^ b a", "(((((a^b)^c)^d)^e)^f)"},
        {7, "^ g ^ f ^ e ^ d ^ c ^ b a", "((((((a^b)^c)^d)^e)^f)^g)"},
    };
    struct Operation {
        int32_t id;
        char row, own, companion;
    };
    const Operation operations[] = {{lp::OP_SUB, '-', '-', '+'}, {lp::OP_DIV, '-', '/', '*'}, {lp::OP_ADD, '-', '+', '+'},
                                    {lp::OP_MUL, '-', '*', '*'}, {lp::OP_POW, '^', '^', '^'}, {lp::OP_MOD, '^', '%', '%'}};
    for (const Operation &op : operations) {
        for (const Case &c : cases) {
            if (c.array[0] != op.row) continue;
            std::string array = c.array, tree = c.tree, text = "a";
            for (std::string *s : {&array, &tree})
                for (char &ch : *s) ch = ch == op.row ? op.own : ch == '+' ? op.companion : ch;
            std::vector<int32_t> at;
            for (int i = 1; i < c.m; ++i) {
                at.push_back(static_cast<int32_t>(text.size()));
                text += std::string{op.own, static_cast<char>('a' + i)};
            }
            Capture cap(8);
            const Layout got = split(text.c_str(), at, op.id);
            std::string records; // "operator data : -\n" gives "-"
            for (const std::string &piece : cap.at(8)) {
                const size_t from = piece.find(" : ") + 3;
                records += (records.empty() ? "" : " ") + piece.substr(from, piece.size() - from - 1);
            }
            EXPECT_EQ(records, array) << text;
            EXPECT_EQ(got.tree, tree) << text;
            EXPECT_EQ(got.nodes, 2u * c.m - 1) << text;
        }
    }
}

// generate_subtree end to end: cut, release the old node, build, release scratch.
TEST_F(Subtree, SplitTexts) {
    struct Case {
        const char *text;
        std::vector<int32_t> at;
        int32_t id;
        const char *tree;
        size_t nodes;
    };
    const Case cases[] = {
        {"2*(x+1)-cos(y)", {7}, lp::OP_SUB, "(2*(x+1)-cos(y))", 3},
        {"cos(y)", {0}, lp::OP_COS, "cos((y))", 2},
        {"-x", {0}, lp::OP_SUB, "(''-x)", 3},
        {"a--b", {1, 2}, lp::OP_SUB, "((a-'')-b)", 5},
        {"1-2-3-4", {1, 3, 5}, lp::OP_SUB, "((1-2)-(3+4))", 7},
        {"8/2/2/2", {1, 3, 5}, lp::OP_DIV, "((8/2)/(2*2))", 7},
        {"2^3^2", {1, 3}, lp::OP_POW, "((2^3)^2)", 5},
        {"7%4%2", {1, 3}, lp::OP_MOD, "((7%4)%2)", 5},
        {"xcos", {1}, lp::OP_COS, "cos('')", 2},
        {"2cos(y)", {1}, lp::OP_COS, "cos((y))", 2},
        {"cos(x)cos(y)", {0, 6}, lp::OP_COS, "cos((x))", 2},
        {"log10(x)+1", {0}, lp::OP_LOG10, "log10((x)+1)", 2},
        {"a+b+c+d+e+f+g", {1, 3, 5, 7, 9, 11}, lp::OP_ADD, "(((a+b)+(c+d))+((e+f)+g))", 13},
    };
    for (const Case &c : cases) {
        Capture cap;
        const Layout got = split(c.text, c.at, c.id);
        EXPECT_EQ(got.tree, c.tree) << c.text;
        EXPECT_EQ(got.nodes, c.nodes) << c.text;
        EXPECT_TRUE(cap.codes.empty()) << c.text;
    }
}

// Positions that do not lie beyond the previous occurrence: code 0, and the
// trailing piece is taken after the offending position.
TEST_F(Subtree, PositionsOutOfOrderReportCodeZero) {
    struct Case {
        const char *text;
        std::vector<int32_t> at;
        int32_t id;
        const char *tree;
    };
    const Case cases[] = {
        {"a+b+c", {3, 1}, lp::OP_ADD, "(a+b+b+c)"}, // operands 'a+b' and 'b+c'
        {"a+b", {1, 1}, lp::OP_ADD, "(a+b)"},
        {"a-b-c", {1, 3, 2}, lp::OP_SUB, "((a-b)--c)"},
        {"ab", {-1}, lp::OP_SUB, "ab"}, // a single operand from position 0 on
    };
    for (const Case &c : cases) {
        Capture cap;
        const Layout got = split(c.text, c.at, c.id);
        EXPECT_EQ(got.tree, c.tree) << c.text;
        EXPECT_EQ(cap.codes, std::vector<int>{0}) << c.text;
        if (c.at[0] == 3) {
            EXPECT_EQ(got.children, (std::vector<std::string>{"a+b", "b+c"}));
        }
    }
}

// The node itself comes back whole. With no positions it waits for
// calculation, keeping its text and op; with an id outside the table (code 3,
// no row read, no record made) it stays an operand.
TEST_F(Subtree, NothingToSplitKeepsTheNode) {
    struct Case {
        std::vector<int32_t> at;
        int32_t id, op, state;
        std::vector<int> codes;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {{}, lp::OP_ADD, lp::OP_MUL, lp::CALCULATE, {}, {"Nothing to expand... updating state to CALCULATE\n"}},
        {{1}, -1, lp::OP_OPERAND, lp::EXPAND, {3}, {}},
        {{1}, 14, lp::OP_OPERAND, lp::EXPAND, {3}, {}},
        {{1}, 1000, lp::OP_OPERAND, lp::EXPAND, {3}, {}},
    };
    for (const Case &c : cases) {
        Capture cap(8);
        TreeNode *node = text_node("a+b");
        data_of(node)->op = c.op;
        ListPtr at(list_of(c.at));
        TreePtr root(lp::generate_subtree(node, at.get(), c.id));
        EXPECT_EQ(root.get(), node) << c.id;
        EXPECT_STREQ(data_of(node)->expr, "a+b") << c.id;
        EXPECT_EQ(data_of(node)->op, c.op) << c.id;
        EXPECT_EQ(data_of(node)->state, c.state) << c.id;
        EXPECT_TRUE(node->left == nullptr && node->right == nullptr) << c.id;
        EXPECT_EQ(cap.codes, c.codes) << c.id;
        std::vector<std::string> messages;
        for (const auto &piece : cap.pieces) messages.push_back(piece.text);
        EXPECT_EQ(messages, c.messages) << c.id;
    }
}
