// test_var_index.cpp - defining variables through the flat name index: exact names, one record each.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "lib_parse_internal.h"
#include "var_index.h"

namespace {

struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;

// The list itself, read without the index.
std::map<std::string, float> records(const Parser *p, int *count) {
    std::map<std::string, float> out;
    *count = 0;
    for (const ListNode *n = p->vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        out[v->name] = v->value;
        ++*count;
    }
    return out;
}

TEST(VarIndex, EachExactNameHasOneRecordHoldingItsLastValue) {
    // Names around the eight bytes kept in the index, prefixes of one
    // another, empty, and with bytes above 127.
    const char *const names[] = {"x",         "xy",        "abcdefgh",   "abcdefghi", "abcdefgh", "abcdefgha",
                                 "abcdefghi", "",          "x",          "\xff\xfe",  "abcdefg",  "abcdefghij",
                                 "",          "\xff\xfe",  "y2345678901", "y2345678902", "xy", "abcdefghij"};
    ParserPtr p(parser_new());
    std::map<std::string, float> model;
    float value = 1.0f;
    for (const char *name : names) {
        parser_var(p.get(), name, value);
        model[name] = value;
        int count = 0;
        const std::map<std::string, float> got = records(p.get(), &count);
        ASSERT_EQ(count, static_cast<int>(model.size())) << "after defining '" << name << "'";
        ASSERT_EQ(got, model) << "after defining '" << name << "'";
        value += 1.0f;
    }
}

// Records pushed onto the list by other means are found too: the index
// notices the list has grown and reads it again.
TEST(VarIndex, FollowsRecordsAddedToTheListDirectly) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "a", 1.0f);
    auto *v = static_cast<Variable *>(std::malloc(sizeof(Variable)));
    v->name = static_cast<char *>(std::malloc(10));
    std::strcpy(v->name, "longer_b1");
    v->value = 2.0f;
    list_push(p->vars, v, 0);
    parser_var(p.get(), "longer_b1", 5.0f);
    EXPECT_EQ(v->value, 5.0f);
    EXPECT_EQ(list_count(p->vars), 2);
    EXPECT_EQ(parser_calc(p.get(), "a+longer_b1"), 6.0f);
}

} // namespace
