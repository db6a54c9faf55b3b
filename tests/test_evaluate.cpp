// test_evaluate.cpp - evaluating trees in 32-bit floats: numbers, variable lookup, operations, stored values.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float calc(TreeNode *root, List *vars) {
    lp::parser_clean(root);
    return lp::parser_bt_calc(root, vars);
}

void expect_same(float got, float want, const std::string &what) {
    EXPECT_TRUE(same_value(got, want)) << what << ": got " << got << ", want " << want;
}

// Number texts as leaves, and in texts that parser_calc compiles, read in
// whatever locale is set.
void expect_numbers(const char *locale) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "A", 9.0f); // never consulted: 'A' is a number text
    parser_var(p.get(), "x", 3.0f);
    struct Case {
        std::string text;
        float value;
    };
    const Case cases[] = {
        {"2.5", 2.5f}, {"0.1", 0.100000001490116119384765625f}, {"16777217", 16777216.0f}, // 2^24 + 1 rounds to 2^24
        {"", 0.0f},   {"A", 0.0f},  {"5A", 5.0f}, {"  42", 42.0f}, {"\t\n7", 7.0f}, {"4 2", 4.0f},
        {"1.5.3", 1.5f}, {".5", 0.5f}, {"-.5", -0.5f}, {"+5", 5.0f}, {"1,5", 1.0f},
        {"--5", 0.0f}, {"+-5", 0.0f}, {"-+5", 0.0f}, {"- 5", 0.0f}, // one sign at most, next to the digits
        {"340282346638528859811704183484516925440", 3.40282347e38f}, // the largest float
        {"340282366920938463463374607431768211456", kInf},          // 2^128 rounds up
        {"0.000000000000000000000000000000000000000000000001", 0.0f},
        {"1" + std::string(400, '0'), kInf}, {"-1" + std::string(400, '0'), -kInf}, {"0." + std::string(400, '0') + "1", 0.0f},
    };
    for (const Case &c : cases) {
        TreePtr n(leaf(c.text.c_str()));
        expect_same(calc(n.get(), p->vars), c.value, std::string(locale) + " '" + c.text + "'");
    }
    for (const Case &c : {Case{"x*0.5", 1.5f}, Case{"1.5+1.25", 2.75f}, Case{"2,5", 2.0f}})
        expect_same(parser_calc(p.get(), c.text.c_str()), c.value, std::string(locale) + " " + c.text);
}

} // namespace

TEST(Evaluate, NumberTexts) { expect_numbers("C"); }

// A decimal comma in the host's locale changes nothing.
TEST(Evaluate, NumbersIgnoreTheProcessLocale) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed; generate it to run this test";
    expect_numbers("de_DE.UTF-8");
    std::setlocale(LC_ALL, "C");
}

TEST(Evaluate, NamesLookUpByPrefixNewestFirst) {
    struct Case {
        std::vector<std::pair<const char *, float>> defs;
        const char *text;
        float value;
    };
    const Case cases[] = {
        {{{"xy", 5}}, "x", 5},
        {{{"x", 5}}, "xy", 0},
        {{{"x", 1}, {"xy", 5}}, "x", 5},
        {{{"xy", 5}, {"x", 1}}, "x", 1},
        {{{"x", 1}, {"xy", 5}, {"x", 2}}, "x", 5}, // an update does not move x forward
        {{{"x", 3}}, "x ", 0},
        {{{"B", 4}}, "B", 4},
        {{}, "1e3", 0}, // 'e' makes it a name
        {{{"1e3", 7}}, "1e3", 7},
        {{{"_", 6}}, "_", 6},
        {{{"\xc3\xa9", 2}}, "\xc3\xa9", 2},
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        for (const auto &d : c.defs) parser_var(p.get(), d.first, d.second);
        TreePtr n(leaf(c.text));
        expect_same(calc(n.get(), p->vars), c.value, std::string("'") + c.text + "'");
        EXPECT_EQ(data_of(n.get())->state, lp::DONE) << c.text;
    }
    // A name without a variable keeps the value its node holds.
    ParserPtr p(parser_new());
    TreePtr n(leaf("q"));
    data_of(n.get())->value = 3.0f;
    EXPECT_EQ(calc(n.get(), p->vars), 3.0f);
}

// Each operation over leaves; a missing child counts as 0, and a function
// looks at its right child only, leaving a left one unevaluated.
TEST(Evaluate, Operations) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "nan", kNaN);
    parser_var(p.get(), "inf", kInf);
    parser_var(p.get(), "ninf", -kInf);
    parser_var(p.get(), "big", 3e9f);
    struct Case {
        int32_t op;
        const char *l, *r;
        float value;
    };
    const Case cases[] = {
        {lp::OP_ADD, "0.1", "0.2", 0.300000011920928955078125f}, {lp::OP_SUB, "1", "0.1", 0.89999997615814208984375f},
        {lp::OP_MUL, "0.1", "3", 0.300000011920928955078125f},   {lp::OP_DIV, "1", "3", 0.3333333432674407958984375f},
        {lp::OP_DIV, "1", "0", kInf}, {lp::OP_DIV, "0", "0", kNaN}, {lp::OP_POW, "2", "-1", 0.5f},
        {lp::OP_POW, "2", "0.5", 1.41421353816986083984375f},
        // "%" on 32-bit integers, saturating.
        {lp::OP_MOD, "7.9", "2.5", 1.0f}, {lp::OP_MOD, "-7.5", "2", -1.0f}, {lp::OP_MOD, "5", "0", 5.0f},
        {lp::OP_MOD, "2", "0.5", 2.0f},   {lp::OP_MOD, "9", "-1", 0.0f},    {lp::OP_MOD, "-2147483648", "-1", 0.0f},
        {lp::OP_MOD, "nan", "3", -2.0f},
        {lp::OP_MOD, "inf", "7", 1.0f},        // 2147483647 % 7
        {lp::OP_MOD, "ninf", "10", -8.0f},     // -2147483648 % 10
        {lp::OP_MOD, "big", "1000", 647.0f},   // saturates to 2147483647
        {lp::OP_MOD, "inf", "2000000000", 147483648.0f}, // 147483647 rounded to float
        {lp::OP_COS, nullptr, "0", 1.0f}, {lp::OP_SIN, nullptr, "1", 0.8414709568023681640625f},
        {lp::OP_ATAN, nullptr, "1", 0.785398185253143310546875f}, {lp::OP_TAN, nullptr, "1", 1.55740773677825927734375f},
        {lp::OP_EXP, nullptr, "1", 2.71828174591064453125f}, {lp::OP_LOGN, nullptr, "0.5", -0.693147182464599609375f},
        {lp::OP_LOGN, nullptr, "0", -kInf}, {lp::OP_LOG2, nullptr, "8", 3.0f}, {lp::OP_LOG10, nullptr, "1000", 3.0f},
        {lp::OP_LOG10, nullptr, "-1", kNaN},
        // Missing children and a function's left child.
        {lp::OP_COS, "5", "0", 1.0f}, {lp::OP_SUB, nullptr, "5", -5.0f}, {lp::OP_ADD, nullptr, nullptr, 0.0f},
        {lp::OP_DIV, "1", nullptr, kInf}, {lp::OP_POW, "3", nullptr, 1.0f},
        {lp::OP_COS, nullptr, nullptr, 1.0f},
    };
    for (const Case &c : cases) {
        TreePtr root(op_node(c.op, c.l ? leaf(c.l) : nullptr, c.r ? leaf(c.r) : nullptr));
        const std::string what = std::string(c.l ? c.l : "_") + " " + lp::operation[c.op].name + " " + (c.r ? c.r : "_");
        expect_same(calc(root.get(), p->vars), c.value, what);
        expect_same(data_of(root.get())->value, c.value, what + " (stored)");
        EXPECT_EQ(data_of(root.get())->state, lp::DONE) << what;
        EXPECT_TRUE(c.op < lp::OP_COS || c.l == nullptr || data_of(root->left)->state == lp::CALCULATE) << what;
    }
}

TEST(Evaluate, BadOperationReportsCodeThree) {
    ParserPtr p(parser_new());
    for (int32_t bad : {15, -1, 1 << 30}) {
        Capture cap;
        TreeNode *odd = leaf("7");
        data_of(odd)->op = bad;
        data_of(odd)->value = 9.0f;
        TreePtr root(op_node(lp::OP_ADD, odd, leaf("2")));
        EXPECT_EQ(calc(root.get(), p->vars), 2.0f) << bad;
        EXPECT_EQ(data_of(odd)->state, lp::CALCULATE) << bad;
        EXPECT_EQ(data_of(odd)->value, 9.0f) << bad;
        EXPECT_EQ(calc(odd, p->vars), 0.0f) << "at the root: " << bad;
        EXPECT_EQ(cap.codes, (std::vector<int>{3, 3})) << bad;
        EXPECT_EQ(cap.files, (std::vector<std::string>{"lib_parse", "lib_parse"})) << bad;
    }
}

// A calculated tree answers from its stored values until it is cleaned.
TEST(Evaluate, StoredValuesAndClean) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 1.0f);
    TreePtr root(op_node(lp::OP_ADD, op_node(lp::OP_MUL, leaf("x"), leaf("2")), leaf("1")));
    EXPECT_EQ(calc(root.get(), p->vars), 3.0f);
    const std::vector<TreeNode *> all{root.get(), root->left, root->right, root->left->left, root->left->right};
    for (TreeNode *n : all) EXPECT_EQ(data_of(n)->state, lp::DONE);

    parser_var(p.get(), "x", 5.0f);
    EXPECT_EQ(lp::parser_bt_calc(root.get(), p->vars), 3.0f); // no clean: the stored value
    EXPECT_EQ(lp::parser_bt_calc(root->left->left, p->vars), 1.0f);
    lp::parser_clean(root.get());
    for (TreeNode *n : all) EXPECT_EQ(data_of(n)->state, lp::CALCULATE);
    EXPECT_EQ(lp::parser_bt_calc(root.get(), p->vars), 11.0f);

    // A node still in EXPAND is not evaluated either.
    lp::parser_clean(root.get());
    data_of(root->left)->state = lp::EXPAND;
    EXPECT_EQ(lp::parser_bt_calc(root.get(), p->vars), 11.0f); // 10 stored + 1
    lp::parser_clean(nullptr);
}
