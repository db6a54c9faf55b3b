// test_handle.cpp - the parser handle: new state, variable and function definitions, release, null arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "core_test_support.h"
#include "lib_parse.hpp"
#include "native.h"

using namespace test;

void count_visit(void *ctx, int, int, const char *, int, int, float) { ++*static_cast<int *>(ctx); }

// Null arguments leave a new handle as it was made: no variables, functions,
// cached text or errors, and a single root without text.
TEST(Handle, NullArgumentsDoNothing) {
    ParserPtr p(parser_new());
    EXPECT_EQ(parser_var(nullptr, "x", 1.0f), 0);
    EXPECT_EQ(parser_var(p.get(), nullptr, 1.0f), 0);
    EXPECT_EQ(parser_func(nullptr, "f(x)", "x"), 0);
    EXPECT_EQ(parser_func(p.get(), nullptr, "x"), 0);
    EXPECT_EQ(parser_func(p.get(), "f(x)", nullptr), 0);
    EXPECT_EQ(list_count(p->vars) + list_count(p->funcs), 0);
    EXPECT_EQ(p->cache->dirty, 0);
    parser_expand(nullptr, "1");
    parser_expand(p.get(), nullptr);
    EXPECT_EQ(data_of(p->tree)->expr, nullptr);
    EXPECT_TRUE(std::isnan(parser_calc(nullptr, "1")));
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), nullptr)));
    EXPECT_EQ(p->cache->last, nullptr);

    int code = -7, visits = 0;
    EXPECT_EQ(parser_errors(nullptr, &code) + parser_errors(p.get(), &code), 0);
    EXPECT_EQ(code, -7);
    parser_walk(nullptr, count_visit, &visits);
    parser_walk(p.get(), nullptr, &visits);
    EXPECT_EQ(visits, 0);
    parser_walk(p.get(), count_visit, &visits); // the new handle's single root
    EXPECT_EQ(visits, 1);
    EXPECT_TRUE(parser_op_symbol(-1) == nullptr && parser_op_symbol(14) == nullptr);
    EXPECT_STREQ(parser_op_symbol(13), "log10");
    EXPECT_STREQ(parser_error_text(99), "unknown error");
    for (int c : {0, 2, 3, 4, 5, 6, 7}) EXPECT_STRNE(parser_error_text(c), "unknown error") << c;
    parser_destroy(nullptr);
}

// A negative value only reads a limit; one above the maximum, 2^31 - 1 for
// every size limit and 1 for the native-code switch, sets the maximum; the
// value replaced is returned, and the other handle keeps its own.
TEST(Handle, LimitsReadSetAndClamp) {
    ParserPtr p(parser_new()), q(parser_new());
    for (int which = 0; which < PARSER_LIMIT_NATIVE_CODE; ++which) {
        const long long initial = parser_limit(p.get(), which, -1);
        EXPECT_GT(initial, 0) << which;
        EXPECT_EQ(parser_limit(p.get(), which, 7), initial) << which;
        EXPECT_EQ(parser_limit(p.get(), which, LLONG_MIN), 7) << which;
        EXPECT_EQ(parser_limit(p.get(), which, 0), 7) << which;
        EXPECT_EQ(parser_limit(p.get(), which, INT32_MAX + 1LL), 0) << which;
        EXPECT_EQ(parser_limit(p.get(), which, LLONG_MAX), INT32_MAX) << which;
        EXPECT_EQ(parser_limit(p.get(), which, -1), INT32_MAX) << which;
        EXPECT_EQ(parser_limit(q.get(), which, -1), initial) << "the other handle's " << which;
    }
    // Without machine code in the build the switch reads 0 and stays there.
    const long long on = lp::native_code_available() ? 1 : 0;
    EXPECT_EQ(parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, 7), on);
    EXPECT_EQ(parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, 0), on) << "7 sets the maximum, 1";
    EXPECT_EQ(parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, -1), 0);
    EXPECT_EQ(parser_limit(q.get(), PARSER_LIMIT_NATIVE_CODE, -1), on) << "the other handle's";
    for (int which : {-1, PARSER_LIMIT_COUNT}) EXPECT_EQ(parser_limit(p.get(), which, 5), -1) << which;
    EXPECT_EQ(parser_limit(nullptr, PARSER_LIMIT_SUBST_DEPTH, 5), -1);
    EXPECT_EQ(lib_parse::Parser().limit(PARSER_LIMIT_SUBST_DEPTH), parser_limit(q.get(), PARSER_LIMIT_SUBST_DEPTH, -1));
}
