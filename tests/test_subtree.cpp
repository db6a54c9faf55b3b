// test_subtree.cpp - cutting a range at operator positions and the three expanders' layouts.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "arena.h"
#include "core_test_support.h"
#include "locate.h"
#include "subtree.h"

using namespace test;

namespace {

// The outcome of a split: the tree rendered with the pieces the leaves took,
// and the records made, in order ("operator data : -\n" gives "-").
struct Layout {
    std::string tree;
    std::string records;
};

// split_range over the whole of TEXT at AT, the occurrences of operation ID.
Layout split(const std::string &text, const std::vector<int32_t> &at, int32_t id) {
    lp::parser_init();
    lp::SourceText source(text.data(), text.size(), nullptr);
    lp::Arena arena; // releases the subtree
    lp::Pieces pieces;
    pieces.arena = &arena;
    Capture cap(8);
    TreeNode *root = lp::split_range(source.data(), lp::Range{0, 0, source.size()}, id, at, &pieces);
    Layout out;
    for (const std::string &piece : cap.at(8)) {
        const size_t from = piece.find(" : ") + 3;
        out.records += (out.records.empty() ? "" : " ") + piece.substr(from, piece.size() - from - 1);
    }
    EXPECT_TRUE(cap.codes.empty()) << text;
    // The leaves, read left to right, take the taken pieces in text order.
    // Operators wait for calculation, leaves for expansion.
    std::vector<std::string> texts;
    for (size_t k = 0; k < pieces.ranges.size(); ++k)
        if (pieces.taken[k]) texts.emplace_back(source.view(pieces.ranges[k].from, pieces.ranges[k].to));
    size_t next = 0;
    const std::function<void(TreeNode *)> visit = [&](TreeNode *n) {
        if (n == nullptr) return;
        visit(n->left);
        lp::NodeData *d = data_of(n);
        EXPECT_EQ(d->state, d->op == lp::OP_OPERAND ? lp::EXPAND : lp::CALCULATE) << text;
        if (d->op == lp::OP_OPERAND && next < texts.size()) d->expr = arena.copy(texts[next].data(), texts[next].size());
        next += d->op == lp::OP_OPERAND;
        visit(n->right);
    };
    visit(root);
    EXPECT_EQ(next, texts.size()) << "one taken piece per leaf: " << text;
    out.tree = render(root);
    return out;
}

} // namespace

// The records and the tree for every chain length 'a-b-c...'; records are
// made in node array order, node 0 first. "-" and "^" rows stand for their
// operations: "/" lays out like "-" with "*" for "+", "+" and "*" pair with
// themselves, and "%" like "^".
TEST(Subtree, ChainLayouts) {
    struct Case {
        int m;
        const char *records;
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
            if (c.records[0] != op.row) continue;
            std::string records = c.records, tree = c.tree, text = "a";
            for (std::string *s : {&records, &tree})
                for (char &ch : *s) ch = ch == op.row ? op.own : ch == '+' ? op.companion : ch;
            std::vector<int32_t> at;
            for (int i = 1; i < c.m; ++i) {
                at.push_back(static_cast<int32_t>(text.size()));
                text += std::string{op.own, static_cast<char>('a' + i)};
            }
            const Layout got = split(text, at, op.id);
            EXPECT_EQ(got.records, records) << text;
            EXPECT_EQ(got.tree, tree) << text;
        }
    }
}

// Cuts with empty pieces, functions (which drop what stands before their
// name and take only the next piece) and symbols longer than a byte.
TEST(Subtree, SplitTexts) {
    struct Case {
        const char *text;
        std::vector<int32_t> at;
        int32_t id;
        const char *tree;
    };
    const Case cases[] = {
        {"2*(x+1)-cos(y)", {7}, lp::OP_SUB, "(2*(x+1)-cos(y))"},
        {"cos(y)", {0}, lp::OP_COS, "cos((y))"},
        {"-x", {0}, lp::OP_SUB, "(''-x)"},
        {"a--b", {1, 2}, lp::OP_SUB, "((a-'')-b)"},
        {"xcos", {1}, lp::OP_COS, "cos('')"},
        {"2cos(y)", {1}, lp::OP_COS, "cos((y))"},
        {"cos(x)cos(y)", {0, 6}, lp::OP_COS, "cos((x))"},
        {"log10(x)+1", {0}, lp::OP_LOG10, "log10((x)+1)"},
    };
    for (const Case &c : cases) EXPECT_EQ(split(c.text, c.at, c.id).tree, c.tree) << c.text;
}
