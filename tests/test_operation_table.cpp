// test_operation_table.cpp - the operation table, the node record constructors and their diagnostics.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "core_test_support.h"
#include "subtree.h"

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

} // namespace

TEST(OperationTable, SameAfterOneAndTwoParsers) {
    ParserPtr first(parser_new());
    const char *names[lp::OP_COUNT];
    for (int id = 0; id < lp::OP_COUNT; ++id) names[id] = lp::operation[id].name;
    for (const char *when : {"after one parser_new", "after a second parser_new and a destroy"}) {
        for (int id = 0; id < lp::OP_COUNT; ++id) {
            EXPECT_EQ(lp::operation[id].id, id) << when;
            EXPECT_STREQ(lp::operation[id].name, kRows[id].name) << when << " row " << id;
            EXPECT_EQ(lp::operation[id].length, std::strlen(kRows[id].name)) << when << " row " << id;
            EXPECT_EQ(lp::operation[id].expand, kRows[id].expand) << when << " row " << id;
            EXPECT_EQ(lp::operation[id].name, names[id]) << "symbols are never reallocated";
            EXPECT_STREQ(parser_op_symbol(id), kRows[id].name) << when;
        }
        ParserPtr second(parser_new());
        first.reset();
    }
}

// Operator records point at their row's symbol and wait for calculation; operand
// records wait for expansion without a text of their own and report only
// their piece of the text given. Each reports itself at level 8 as three
// pieces: the time, "lib_parse:<line>: ", the message.
TEST(OperationTable, NodeRecordsAndTheirMessages) {
    ParserPtr p(parser_new());
    for (int id = 0; id < lp::OP_COUNT; ++id) {
        Capture cap(8, true, true);
        lp::NodeData *d = lp::fill_operator_node(id);
        EXPECT_STREQ(d->expr, kRows[id].name);
        EXPECT_EQ(d->expr, lp::operation[id].name) << "row " << id;
        EXPECT_TRUE(d->op == id && d->state == lp::CALCULATE && bits(d->value) == 0u) << "row " << id;
        lp::parser_bt_node_free(d);
        d = lp::fill_operand_node("x1+y", id % 2 ? 2 : 0);
        EXPECT_TRUE(d->expr == nullptr && d->op == lp::OP_OPERAND && d->state == lp::EXPAND && bits(d->value) == 0u);
        lp::parser_bt_node_free(d);

        ASSERT_EQ(cap.pieces.size(), 6u);
        const char *messages[] = {"operator data : ", "operand data : "};
        const std::string texts[] = {kRows[id].name, id % 2 ? "x1" : ""};
        for (int m = 0; m < 2; ++m) {
            for (int k = 0; k < 3; ++k) EXPECT_EQ(cap.pieces[3 * m + k].level, 8);
            EXPECT_TRUE(std::regex_match(cap.pieces[3 * m].text, std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )")));
            EXPECT_TRUE(std::regex_match(cap.pieces[3 * m + 1].text, std::regex(R"(lib_parse:[1-9]\d*: )")));
            EXPECT_EQ(cap.pieces[3 * m + 2].text, messages[m] + texts[m] + "\n");
        }
        EXPECT_NE(cap.pieces[1].text, cap.pieces[4].text) << "each constructor reports its own line";
    }
    Capture quiet(7);
    lp::parser_bt_node_free(lp::fill_operator_node(lp::OP_LOG10));
    lp::parser_bt_node_free(lp::fill_operand_node("", 0));
    EXPECT_TRUE(quiet.pieces.empty());
}
