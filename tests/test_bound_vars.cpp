// test_bound_vars.cpp - variables set through their addresses and the current tree evaluated without its text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "reference_eval.h"

namespace {

using namespace test;

TEST(BoundVars, AddressesSurviveLaterDefinitions) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "y", 7.0f);
    float *x = parser_var_ref(p.get(), "x");
    float *y = parser_var_ref(p.get(), "y");
    ASSERT_TRUE(x != nullptr && y != nullptr);
    EXPECT_EQ(bits(*x), bits(0.0f)) << "a new variable starts at 0";
    EXPECT_EQ(*y, 7.0f) << "an existing variable keeps its value";
    // Many later variables grow the index and the list. (None begins with x
    // or y: the text "x" would find the newest such name.)
    for (int i = 0; i < 2000; ++i) {
        const std::string name = (i % 3 == 0 ? "w" : "v") + std::to_string(i);
        *parser_var_ref(p.get(), name.c_str()) = static_cast<float>(i);
    }
    EXPECT_EQ(parser_var_ref(p.get(), "x"), x);
    EXPECT_EQ(parser_var_ref(p.get(), "y"), y);
    *x = 1.5f;
    EXPECT_EQ(parser_calc(p.get(), "x+y"), 8.5f);
    parser_var(p.get(), "x", 2.5f);
    EXPECT_EQ(*x, 2.5f) << "parser_var and the address name one record";
    EXPECT_EQ(parser_eval(p.get()), 9.5f);
}

// Bulk sets the variables row by row: the addresses hold the last row.
TEST(BoundVars, BulkWritesThroughTheAddresses) {
    ParserPtr bound(parser_new());
    float *x = parser_var_ref(bound.get(), "x"), *y = parser_var_ref(bound.get(), "y");
    parser_calc(bound.get(), "2*(x+1)-cos(y)+x/y");
    const float xs[] = {1.0f, 2.0f, 3.0f, 4.0f}, ys[] = {5.0f, 6.0f, 7.0f, 8.0f};
    const char *names[] = {"x", "y"};
    const float *columns[] = {xs, ys};
    float out[4];
    ASSERT_EQ(parser_calc_bulk(bound.get(), "x*y", names, columns, 2, 4, out), 0);
    EXPECT_EQ(*x, 4.0f);
    EXPECT_EQ(*y, 8.0f);
    *y = 0.5f;
    EXPECT_EQ(parser_eval(bound.get()), 2.0f) << "eval runs the tree bulk left";
}

TEST(BoundVars, EvalRebuildsAfterAFunctionDefinition) {
    ParserPtr p(parser_new());
    *parser_var_ref(p.get(), "x") = 3.0f;
    parser_calc(p.get(), "f(x)+1");
    EXPECT_EQ(parser_errors(p.get(), nullptr), 1) << "f is not defined yet";
    const struct {
        const char *body;
        float expected;
    } definitions[] = {{"a*2", 7.0f}, {"a*a", 10.0f}, {"a-a", 1.0f}};
    for (const auto &d : definitions) {
        parser_func(p.get(), "f(a)", d.body);
        EXPECT_EQ(parser_eval(p.get()), d.expected) << "f(a)=" << d.body;
        EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
    }
    // A tree built by parser_expand is evaluated as it stands.
    parser_expand(p.get(), "f(x)*10");
    EXPECT_EQ(parser_eval(p.get()), 0.0f);
}

// Eval through the addresses, calc through parser_var and the plain
// bottom-up evaluation of the same tree all leave the same bits.
TEST(BoundVars, EvalGivesCalcsBitsOverRandomTexts) {
    const char *const pieces[] = {"x", "y", "xy", "z", "1", "0", "2.5", "1e39", "+", "-", "*", "/", "%",
                                  "^", "(", ")", "cos(", "logn(", "f(", ",", " ", "-1"};
    const float values[] = {0.0f, -0.0f, 1.0f, -2.5f, 3.0f, INFINITY, NAN, 1e30f, 0.1f};
    uint32_t state = 20240917;
    auto next = [&state](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    for (int round = 0; round < 400; ++round) {
        std::string text;
        for (uint32_t n = 1 + next(14); n > 0; --n) text += pieces[next(sizeof pieces / sizeof pieces[0])];
        ParserPtr bound(parser_new()), named(parser_new());
        parser_func(bound.get(), "f(a)", "a*2");
        parser_func(named.get(), "f(a)", "a*2");
        float *x = parser_var_ref(bound.get(), "x"), *y = parser_var_ref(bound.get(), "y");
        parser_var(named.get(), "x", 0.0f);
        parser_var(named.get(), "y", 0.0f);
        parser_expand(bound.get(), text.c_str());
        for (int pass = 0; pass < 3; ++pass) {
            *x = values[next(9)];
            *y = values[next(9)];
            parser_var(named.get(), "x", *x);
            parser_var(named.get(), "y", *y);
            const float want = parser_calc(named.get(), text.c_str()), got = parser_eval(bound.get());
            const auto program_nodes = walk(named.get());
            reference_clean(named->tree);
            const float oracle = reference_calc(named->tree, named->vars);
            const std::string what = "'" + text + "' pass " + std::to_string(pass);
            ASSERT_TRUE(same_value(got, want) && same_value(got, oracle)) << what << ": " << got << " vs " << want << ", " << oracle;
            ASSERT_TRUE(walk(bound.get()) == program_nodes && walk(named.get()) == program_nodes) << what;
            if (pass == 1) { // a definition makes both rebuild
                parser_func(bound.get(), "f(a)", "a-1");
                parser_func(named.get(), "f(a)", "a-1");
            }
        }
    }
}

// parser_calc compares a text with the cached one in one pass; short texts
// and long ones take different loops. Every text here ends in an operator,
// so each build reports an error and a rebuild is seen.
TEST(BoundVars, CalcRebuildsForEveryOtherText) {
    const std::string long_text = "123456789012345678901234567890123+";
    const struct {
        std::string cached, next;
        bool rebuilds;
    } rows[] = {
        // Shorter than six bytes: the inline loop.
        {"1+", "1+", false}, {"1+", "12+", true}, {"12+", "1+", true}, {"1+", "1+2+", true},
        {"1234+", "1234+", false}, {"1234+", "1235+", true}, {"1234+", "12345+", true},
        // Six bytes and more: strcmp.
        {"12345+", "12345+", false}, {"12345+", "12346+", true}, {"12345+", "1234+", true},
        {"12345+", "12345+1+", true}, {long_text, long_text, false},
        {long_text, "123456789012345678901234567890124+", true},
        {long_text, long_text + "1+", true}, {long_text + "1+", long_text, true},
    };
    int reports = 0;
    exception_set_handler([](void *ctx, const char *, int, int) { ++*static_cast<int *>(ctx); }, &reports);
    for (const auto &row : rows) {
        ParserPtr p(parser_new()), fresh(parser_new());
        parser_calc(p.get(), row.cached.c_str());
        reports = 0;
        const std::string next = row.next; // another buffer with the same bytes
        const float got = parser_calc(p.get(), next.c_str());
        EXPECT_EQ(reports > 0, row.rebuilds) << "'" << row.cached << "' then '" << row.next << "'";
        EXPECT_EQ(bits(got), bits(parser_calc(fresh.get(), next.c_str()))) << "'" << row.next << "'";
    }
    exception_set_handler(nullptr, nullptr);
}

TEST(BoundVars, NullsAndEmptyHandles) {
    ParserPtr p(parser_new());
    EXPECT_EQ(parser_var_ref(nullptr, "x"), nullptr);
    EXPECT_EQ(parser_var_ref(p.get(), nullptr), nullptr);
    EXPECT_TRUE(std::isnan(parser_eval(nullptr)));
    // No tree yet: the empty text's value, and nothing is built.
    EXPECT_EQ(bits(parser_eval(p.get())), bits(0.0f));
    EXPECT_EQ(walk(p.get()), (std::vector<Visit>{{0, 0, "<null>", PARSER_OP_OPERAND, PARSER_STATE_EXPAND, 0}}));
}

} // namespace
