// test_operation_table.cpp - the operation table, the node record constructors and their diagnostics.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core_test_support.h"

using namespace test;

namespace {

struct Row {
    const char *name;
    lp::Expander expand;
};
const Row kRows[lp::OP_COUNT] = {
    {"+", lp::expand_std_2op_func},  {"-", lp::expand_std_2op_func},   {"^", lp::expand_alt_2op_func},
    {"*", lp::expand_std_2op_func},  {"/", lp::expand_std_2op_func},   {"%", lp::expand_alt_2op_func},
    {"cos", lp::expand_1op_func},    {"sin", lp::expand_1op_func},     {"atan", lp::expand_1op_func},
    {"tan", lp::expand_1op_func},    {"exp", lp::expand_1op_func},     {"logn", lp::expand_1op_func},
    {"log2", lp::expand_1op_func},   {"log10", lp::expand_1op_func},
};

void expect_table(const char *when) {
    for (int id = 0; id < lp::OP_COUNT; ++id) {
        const lp::OperationEntry &row = lp::operation[id];
        EXPECT_EQ(row.id, id) << when;
        EXPECT_STREQ(row.name, kRows[id].name) << when << " row " << id;
        EXPECT_EQ(row.expand, kRows[id].expand) << when << " row " << id;
        EXPECT_STREQ(parser_op_symbol(id), kRows[id].name) << when;
    }
}

} // namespace

TEST(OperationTable, SameAfterOneAndTwoParsers) {
    ParserPtr first(parser_new());
    expect_table("after one parser_new");
    const char *names[lp::OP_COUNT];
    for (int id = 0; id < lp::OP_COUNT; ++id) names[id] = lp::operation[id].name;
    ParserPtr second(parser_new());
    first.reset();
    expect_table("after a second parser_new and a destroy");
    for (int id = 0; id < lp::OP_COUNT; ++id) EXPECT_EQ(lp::operation[id].name, names[id]) << "symbols are never reallocated";
}

TEST(OperationTable, OperatorNodeOwnsACopyOfTheSymbol) {
    ParserPtr p(parser_new());
    for (int id = 0; id < lp::OP_COUNT; ++id) {
        lp::NodeData *d = lp::fill_operator_node(id);
        EXPECT_STREQ(d->expr, kRows[id].name);
        EXPECT_NE(d->expr, lp::operation[id].name) << "row " << id;
        EXPECT_EQ(d->op, id);
        EXPECT_EQ(d->state, lp::CALCULATE);
        EXPECT_EQ(bits(d->value), 0u);
        lp::parser_bt_node_free(d);
    }
}

TEST(OperationTable, OperandNodeKeepsTheTextItself) {
    for (const char *text : {"x1", ""}) {
        char *t = copy_text(text);
        lp::NodeData *d = lp::fill_operand_node(t);
        EXPECT_EQ(d->expr, t) << "no copy of '" << text << "'";
        EXPECT_EQ(d->op, lp::OP_OPERAND);
        EXPECT_EQ(d->state, lp::EXPAND);
        EXPECT_EQ(bits(d->value), 0u);
        lp::parser_bt_node_free(d); // releases t as well
    }
}

TEST(OperationTable, ConstructorMessagesAtLevelEight) {
    ParserPtr p(parser_new());
    struct Case {
        int level;
        size_t pieces;
    };
    for (const Case c : {Case{7, 0}, Case{8, 2}}) {
        Capture cap(c.level);
        lp::parser_bt_node_free(lp::fill_operator_node(lp::OP_LOG10));
        lp::parser_bt_node_free(lp::fill_operand_node(copy_text("")));
        ASSERT_EQ(cap.pieces.size(), c.pieces) << "level " << c.level;
        if (c.pieces == 0) continue;
        EXPECT_EQ(cap.pieces[0].level, 8);
        EXPECT_EQ(cap.pieces[0].text, "operator data : log10\n");
        EXPECT_EQ(cap.pieces[1].level, 8);
        EXPECT_EQ(cap.pieces[1].text, "operand data : \n");
    }
}

// With timestamps and locations on, each message is three pieces at one
// level: the time, "lib_parse:<line>: ", then the message.
TEST(OperationTable, DiagnosticCallPattern) {
    ParserPtr p(parser_new());
    Capture cap(8, true, true);
    lp::parser_bt_node_free(lp::fill_operator_node(lp::OP_ATAN));
    lp::parser_bt_node_free(lp::fill_operand_node(copy_text("x1")));
    ASSERT_EQ(cap.pieces.size(), 6u);
    const std::regex time(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    const std::regex place(R"(lib_parse:[1-9]\d*: )");
    const char *messages[] = {"operator data : atan\n", "operand data : x1\n"};
    for (int m = 0; m < 2; ++m) {
        for (int k = 0; k < 3; ++k) EXPECT_EQ(cap.pieces[3 * m + k].level, 8);
        EXPECT_TRUE(std::regex_match(cap.pieces[3 * m].text, time)) << cap.pieces[3 * m].text;
        EXPECT_TRUE(std::regex_match(cap.pieces[3 * m + 1].text, place)) << cap.pieces[3 * m + 1].text;
        EXPECT_EQ(cap.pieces[3 * m + 2].text, messages[m]);
    }
    EXPECT_NE(cap.pieces[1].text, cap.pieces[4].text) << "each constructor reports its own line";
}
