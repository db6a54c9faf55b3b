// test_subtree.cpp - cutting texts at operator positions and the three expanders' layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

const char *const kLetters[] = {"a", "b", "c", "d", "e", "f", "g"};

// Runs an expander directly on a fresh node array of 2m-1 nodes and M
// operands a, b, c, ...; returns the texts of the array in array order and the
// rendered tree.
struct Layout {
    std::vector<std::string> array;
    std::string tree;
    size_t reachable;
    int operands_left;
};

Layout run_expander(int32_t id, int m) {
    // generate_subtree never hands over fewer than three nodes.
    const size_t count = std::max<size_t>(2 * static_cast<size_t>(m) - 1, 3);
    std::vector<TreeNode *> nodes(count);
    for (TreeNode *&n : nodes) n = btree_new();
    List *operands = list_new();
    for (int i = m - 1; i >= 0; --i) list_push(operands, copy_text(kLetters[i]), 0);
    TreeNode *root = lp::operation[id].expand(&lp::operation[id], nodes.data(), operands);
    Layout out;
    for (TreeNode *n : nodes) out.array.push_back(n->data != nullptr ? data_of(n)->expr : "<none>");
    out.tree = render(root);
    out.reachable = count_nodes(root);
    out.operands_left = list_count(operands);
    list_free(operands, std::free);
    for (TreeNode *n : nodes)
        if (n->data == nullptr) std::free(n);
    btree_free(root, lp::parser_bt_node_free);
    return out;
}

std::vector<std::string> words(const std::string &spaced) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < spaced.size()) {
        const size_t end = spaced.find(' ', at);
        out.push_back(spaced.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? spaced.size() : end + 1;
    }
    return out;
}

class Subtree : public ::testing::Test {
protected:
    ParserPtr parser{parser_new()};
};

} // namespace

// The array order and the tree for every chain length; "/" and "*" follow
// the same layout as "-" and "+", so they are derived by substitution.
TEST_F(Subtree, StandardLayouts) {
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
    };
    struct Operation {
        int32_t id;
        char own, companion;
    };
    for (const Operation op : {Operation{lp::OP_SUB, '-', '+'}, Operation{lp::OP_DIV, '/', '*'},
                               Operation{lp::OP_ADD, '+', '+'}, Operation{lp::OP_MUL, '*', '*'}}) {
        for (const Case &c : cases) {
            std::string array = c.array, tree = c.tree;
            for (std::string *s : {&array, &tree})
                for (char &ch : *s) ch = ch == '-' ? op.own : ch == '+' ? op.companion : ch;
            const Layout got = run_expander(op.id, c.m);
            EXPECT_EQ(got.array, words(array)) << op.own << " m=" << c.m;
            EXPECT_EQ(got.tree, tree) << op.own << " m=" << c.m;
            EXPECT_EQ(got.reachable, 2u * c.m - 1) << op.own << " m=" << c.m;
            EXPECT_EQ(got.operands_left, 0) << op.own << " m=" << c.m;
        }
    }
}

TEST_F(Subtree, AlternativeLayouts) {
    struct Case {
        int m;
        const char *array;
        const char *tree;
    };
    const Case cases[] = {
        {2, "^ b a", "(a^b)"},
        {3, "^ c ^ b a", "((a^b)^c)"},
        {4, "^ d ^ c ^ b a", "(((a^b)^c)^d)"},
        {5, "^ e ^ d ^ c ^ b a", "((((a^b)^c)^d)^e)"},
        {6, "^ f ^ e ^ d ^ c ^ b a", "(((((a^b)^c)^d)^e)^f)"},
        {7, "^ g ^ f ^ e ^ d ^ c ^ b a", "((((((a^b)^c)^d)^e)^f)^g)"},
    };
    for (const auto &op : {std::pair<int32_t, char>{lp::OP_POW, '^'}, {lp::OP_MOD, '%'}}) {
        for (const Case &c : cases) {
            std::string array = c.array, tree = c.tree;
            for (std::string *s : {&array, &tree})
                for (char &ch : *s) ch = ch == '^' ? op.second : ch;
            const Layout got = run_expander(op.first, c.m);
            EXPECT_EQ(got.array, words(array)) << op.second << " m=" << c.m;
            EXPECT_EQ(got.tree, tree) << op.second << " m=" << c.m;
            EXPECT_EQ(got.reachable, 2u * c.m - 1) << op.second << " m=" << c.m;
            EXPECT_EQ(got.operands_left, 0) << op.second << " m=" << c.m;
        }
    }
}

// A function takes operand element 1 only; the rest stays in the list.
TEST_F(Subtree, FunctionLayout) {
    for (int m = 1; m <= 4; ++m) {
        const Layout got = run_expander(lp::OP_LOG2, m);
        EXPECT_EQ(got.tree, m >= 2 ? "log2(b)" : "log2('')") << "m=" << m;
        EXPECT_EQ(got.reachable, 2u) << "m=" << m;
        EXPECT_EQ(got.operands_left, m >= 2 ? m - 1 : 1) << "m=" << m;
    }
}

// With fewer than two operands the two-operand expanders still give a node
// with a record: the single operand.
TEST_F(Subtree, SingleOperandChains) {
    for (int32_t id : {lp::OP_ADD, lp::OP_SUB, lp::OP_POW, lp::OP_MOD}) {
        const Layout got = run_expander(id, 1);
        EXPECT_EQ(got.tree, "a") << id;
        EXPECT_EQ(got.reachable, 1u) << id;
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
        ListPtr at(list_of(c.at));
        TreePtr root(lp::generate_subtree(text_node(c.text), at.get(), c.id));
        EXPECT_EQ(render(root.get()), c.tree) << c.text;
        EXPECT_EQ(count_nodes(root.get()), c.nodes) << c.text;
        EXPECT_TRUE(cap.codes.empty()) << c.text;
        EXPECT_EQ(positions(at.get()), c.at) << "the positions stay the caller's: " << c.text;
        // Operator nodes wait for calculation, operand nodes for expansion.
        std::vector<const TreeNode *> stack{root.get()};
        while (!stack.empty()) {
            const TreeNode *n = stack.back();
            stack.pop_back();
            if (n == nullptr) continue;
            const bool operand = data_of(n)->op == lp::OP_OPERAND;
            EXPECT_EQ(data_of(n)->state, operand ? lp::EXPAND : lp::CALCULATE) << c.text;
            stack.push_back(n->left);
            stack.push_back(n->right);
        }
    }
}

// Records are made in array order, node 0 first.
TEST_F(Subtree, RecordsAreMadeInArrayOrder) {
    Capture cap(8);
    ListPtr at(list_of({1, 3}));
    TreePtr root(lp::generate_subtree(text_node("a-b-c"), at.get(), lp::OP_SUB));
    const std::vector<std::string> expected = {"operator data : -\n", "operator data : -\n", "operand data : c\n",
                                               "operand data : a\n", "operand data : b\n"};
    EXPECT_EQ(cap.at(8), expected);
}

TEST_F(Subtree, EmptyPositionsKeepTheNode) {
    Capture cap(7);
    TreeNode *node = text_node("a+b");
    data_of(node)->op = lp::OP_MUL;
    ListPtr none(list_new());
    TreePtr root(lp::generate_subtree(node, none.get(), lp::OP_ADD));
    EXPECT_EQ(root.get(), node);
    EXPECT_STREQ(data_of(node)->expr, "a+b");
    EXPECT_EQ(data_of(node)->op, lp::OP_MUL);
    EXPECT_EQ(data_of(node)->state, lp::CALCULATE);
    EXPECT_EQ(cap.at(7), std::vector<std::string>{"Nothing to expand... updating state to CALCULATE\n"});
    EXPECT_TRUE(cap.codes.empty());
}

// Positions that do not lie beyond the previous occurrence: code 0, the
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
        ListPtr at(list_of(c.at));
        TreePtr root(lp::generate_subtree(text_node(c.text), at.get(), c.id));
        EXPECT_EQ(render(root.get()), c.tree) << c.text;
        EXPECT_EQ(cap.codes, std::vector<int>{0}) << c.text;
    }
    Capture cap;
    ListPtr at(list_of({3, 1}));
    TreePtr root(lp::generate_subtree(text_node("a+b+c"), at.get(), lp::OP_ADD));
    EXPECT_STREQ(data_of(root->left)->expr, "a+b");
    EXPECT_STREQ(data_of(root->right)->expr, "b+c");
}

// An id outside the table: code 3, no row is read, the node stays whole as an operand.
TEST_F(Subtree, BadIdReportsCodeThree) {
    for (int32_t id : {-1, 14, 1000}) {
        Capture cap(8);
        TreeNode *node = text_node("a+b");
        ListPtr at(list_of({1}));
        TreePtr root(lp::generate_subtree(node, at.get(), id));
        EXPECT_EQ(root.get(), node) << id;
        EXPECT_STREQ(data_of(node)->expr, "a+b") << id;
        EXPECT_EQ(data_of(node)->op, lp::OP_OPERAND) << id;
        EXPECT_EQ(data_of(node)->state, lp::EXPAND) << id;
        EXPECT_EQ(node->left, nullptr);
        EXPECT_EQ(cap.codes, std::vector<int>{3}) << id;
        EXPECT_EQ(cap.files, std::vector<std::string>{"lib_parse"}) << id;
        EXPECT_TRUE(cap.pieces.empty()) << "no record made: " << id;
    }
}
