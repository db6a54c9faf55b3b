// test_host.cpp - host functions: registration, choosing a call, its arguments, evaluation everywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_test_support.h"

namespace {

using namespace test;

float clamp3(void *, const float *a, int) { return a[0] < a[1] ? a[1] : a[0] > a[2] ? a[2] : a[0]; }
float sum_all(void *, const float *a, int n) {
    float s = 0.0f;
    for (int k = 0; k < n; ++k) s += a[k];
    return s;
}
float counted(void *ctx, const float *a, int n) { // a[0] + 1 (or 1), counting its calls
    ++*static_cast<int *>(ctx);
    return n > 0 ? a[0] + 1.0f : 1.0f;
}
float half(void *, const float *a, int) { return a[0] / 2.0f; }
float two(void *, const float *, int) { return 2.0f; }

struct Node {
    int depth, side, op;
    std::string expr;
};
std::vector<Node> walk(Parser *p) {
    std::vector<Node> nodes;
    parser_walk(p, [](void *ctx, int depth, int side, const char *expr, int op, int, float) {
        static_cast<std::vector<Node> *>(ctx)->push_back(Node{depth, side, op, expr != nullptr ? expr : ""});
    }, &nodes);
    return nodes;
}

TEST(Host, RegistrationRules) {
    ParserPtr p(parser_new());
    EXPECT_NE(parser_native_func(nullptr, "f", 1, half, nullptr, 0), 0);
    for (const char *bad : {"", "a b", "a(", "a)", "a,b", "a+b", "a-b", "a*", "/a", "a%", "^", "cos", "log10", "a\t"})
        EXPECT_NE(parser_native_func(p.get(), bad, 1, half, nullptr, 0), 0) << bad;
    EXPECT_NE(parser_native_func(p.get(), nullptr, 1, half, nullptr, 0), 0);
    EXPECT_NE(parser_native_func(p.get(), "h", -2, half, nullptr, 0), 0);
    EXPECT_NE(parser_native_func(p.get(), "h", PARSER_NATIVE_MAX_ARGS + 1, half, nullptr, 0), 0);
    EXPECT_NE(parser_native_func(p.get(), "h", 1, half, nullptr, 2u), 0);
    EXPECT_EQ(parser_calc(p.get(), "h(4)"), 0.0f); // nothing was registered
    EXPECT_EQ(parser_native_func(p.get(), "h", 1, half, nullptr, PARSER_NATIVE_PURE), 0);
    EXPECT_EQ(parser_native_func(p.get(), "atan2", -1, sum_all, nullptr, 0), 0); // holds a symbol, is none
    EXPECT_EQ(parser_calc(p.get(), "h(4)"), 2.0f);
    EXPECT_EQ(parser_calc(p.get(), "atan2(1,2)"), 3.0f);
    EXPECT_STRNE(parser_error_text(PARSER_ERR_ARGUMENT_COUNT), parser_error_text(-1));
}

TEST(Host, ArgumentsSplitAtOuterCommasAndWalkInOrder) {
    ParserPtr p(parser_new());
    parser_native_func(p.get(), "clamp", 3, clamp3, nullptr, PARSER_NATIVE_PURE);
    parser_native_func(p.get(), "sum", -1, sum_all, nullptr, 0);
    parser_var(p.get(), "x", 5.0f);
    parser_var(p.get(), "y", 2.0f);
    EXPECT_EQ(parser_calc(p.get(), "clamp(x+1,0,y*2)"), 4.0f);
    const std::vector<Node> nodes = walk(p.get());
    ASSERT_EQ(nodes.size(), 8u);
    EXPECT_EQ(nodes[0].op, PARSER_OP_CALL);
    EXPECT_EQ(nodes[0].expr, "clamp");
    EXPECT_EQ(nodes[1].op, 0); // x+1, then its operands, then 0, then y*2
    EXPECT_EQ(nodes[1].depth, 1);
    EXPECT_EQ(nodes[4].expr, "0");
    EXPECT_EQ(nodes[4].depth, 1);
    EXPECT_EQ(nodes[5].op, 3);
    EXPECT_EQ(parser_calc(p.get(), "sum()"), 0.0f);
    EXPECT_EQ(parser_calc(p.get(), "sum(1,(2,3),sum(4,(5)),clamp(9,0,(x)))"), 17.0f); // (2,3) reads as 2
    EXPECT_EQ(parser_calc(p.get(), "2*(sum(x,y))"), 14.0f);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
}

TEST(Host, ExactNameBeforeUserFunctions) {
    ParserPtr p(parser_new());
    parser_func(p.get(), "f(a)", "a*10");
    const float by_user_function = parser_calc(p.get(), "floor(2.5)");
    parser_native_func(p.get(), "floor", 1, half, nullptr, 0);
    EXPECT_EQ(parser_calc(p.get(), "floor(2.5)"), 1.25f);
    EXPECT_NE(by_user_function, 1.25f);
    EXPECT_EQ(parser_calc(p.get(), "f(2.5)"), 25.0f);
}

TEST(Host, WrongArgumentCountIsZeroAndPlaced) {
    ParserPtr p(parser_new());
    parser_native_func(p.get(), "clamp", 3, clamp3, nullptr, 0);
    EXPECT_EQ(parser_calc(p.get(), "1+clamp(7,2)"), 1.0f);
    int code = -1;
    size_t offset = 0, length = 0;
    ASSERT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_ARGUMENT_COUNT);
    ASSERT_EQ(parser_error_at(p.get(), 0, &code, &offset, &length), 0);
    EXPECT_EQ(offset, 2u);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(parser_calc(p.get(), "clamp(7,2,3,4)"), 0.0f);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 1);
    EXPECT_EQ(parser_calc(p.get(), "clamp(7,2,3)"), 3.0f);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
}

TEST(Host, ImpureCalledEveryTimePureFolded) {
    ParserPtr p(parser_new());
    int impure = 0, pure = 0;
    parser_native_func(p.get(), "tick", -1, counted, &impure, 0);
    parser_native_func(p.get(), "once", 1, counted, &pure, PARSER_NATIVE_PURE);
    for (int k = 0; k < 200; ++k) ASSERT_EQ(parser_calc(p.get(), "tick()+once(2)"), 4.0f);
    EXPECT_EQ(impure, 200);
    EXPECT_EQ(pure, 1);
    float *x = parser_var_ref(p.get(), "x");
    for (int k = 0; k < 100; ++k) {
        *x = static_cast<float>(k);
        ASSERT_EQ(parser_calc(p.get(), "once(x)"), static_cast<float>(k + 1));
    }
    EXPECT_EQ(pure, 101); // a name is no constant
}

TEST(Host, ReplacingAndRemovingRebuild) {
    ParserPtr p(parser_new());
    parser_native_func(p.get(), "g", 0, two, nullptr, PARSER_NATIVE_PURE);
    EXPECT_EQ(parser_calc(p.get(), "g()*3"), 6.0f);
    parser_native_func(p.get(), "g", 1, half, nullptr, 0);
    EXPECT_EQ(parser_eval(p.get()), 0.0f); // one argument now: the empty one is 0, half of it 0
    EXPECT_EQ(parser_calc(p.get(), "g(8)*3"), 12.0f);
    parser_native_func(p.get(), "g", 1, nullptr, nullptr, 0);
    parser_calc(p.get(), "g(8)*3");
    int code = -1;
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_UNKNOWN_FUNCTION);
}

TEST(Host, SameBitsInterpretedNativeAndBulk) {
    const char *const forms[] = {"clamp(%,x,y)", "sum(%)", "sum(%,y,(x,2))", "cos(%)*1.5", "(%)-x", "tick(%)/3"};
    uint32_t state = 14;
    auto next = [&state](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    const size_t rows = 80;
    for (int round = 0; round < 60; ++round) {
        std::string text = "x";
        for (uint32_t n = 1 + next(8); n > 0; --n) {
            std::string form = forms[next(6)];
            text = form.replace(form.find('%'), 1, text);
        }
        int counts[3] = {0, 0, 0};
        ParserPtr ps[3] = {ParserPtr(parser_new()), ParserPtr(parser_new()), ParserPtr(parser_new())};
        for (int k = 0; k < 3; ++k) {
            parser_native_func(ps[k].get(), "clamp", 3, clamp3, nullptr, PARSER_NATIVE_PURE);
            parser_native_func(ps[k].get(), "sum", -1, sum_all, nullptr, PARSER_NATIVE_PURE);
            parser_native_func(ps[k].get(), "tick", 1, counted, &counts[k], 0);
        }
        parser_limit(ps[0].get(), PARSER_LIMIT_NATIVE_CODE, 0);
        std::vector<float> xs(rows), ys(rows), want(rows), out(rows);
        const char *names[] = {"x", "y"};
        const float *columns[] = {xs.data(), ys.data()};
        for (size_t row = 0; row < rows; ++row) {
            xs[row] = static_cast<float>(next(2000)) / 100.0f - 10.0f;
            ys[row] = static_cast<float>(next(2000)) / 100.0f - 5.0f;
            for (int k = 0; k < 2; ++k) {
                parser_var(ps[k].get(), "x", xs[row]);
                parser_var(ps[k].get(), "y", ys[row]);
            }
            want[row] = parser_calc(ps[0].get(), text.c_str());
            ASSERT_TRUE(same_value(parser_calc(ps[1].get(), text.c_str()), want[row])) << text << " row " << row;
        }
        ASSERT_EQ(parser_calc_bulk(ps[2].get(), text.c_str(), names, columns, 2, rows, out.data()), 0);
        for (size_t row = 0; row < rows; ++row) ASSERT_TRUE(same_value(out[row], want[row])) << text << " row " << row;
        EXPECT_EQ(counts[1], counts[0]) << text;
        EXPECT_EQ(counts[2], counts[0]) << text;
    }
}

TEST(Host, CallsNestedTenThousandDeep) {
    ParserPtr p(parser_new());
    int calls = 0;
    parser_native_func(p.get(), "n", 1, counted, &calls, 0);
    parser_var(p.get(), "x", 0.5f);
    std::string text;
    for (int k = 0; k < 10000; ++k) text += "n(";
    text += "x" + std::string(10000, ')');
    EXPECT_EQ(parser_calc(p.get(), text.c_str()), 10000.5f);
    EXPECT_EQ(calls, 10000);
    EXPECT_EQ(walk(p.get()).size(), 10001u);
}

} // namespace
