// test_handle.cpp - the parser handle: new state, variable and function definitions, release, null arguments.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core_test_support.h"

using namespace test;

namespace {

std::vector<std::pair<std::string, float>> variables(const Parser *p) {
    std::vector<std::pair<std::string, float>> out;
    for (const ListNode *n = p->vars->head; n != nullptr; n = n->next) {
        const auto *v = static_cast<const Variable *>(n->data);
        out.emplace_back(v->name, v->value);
    }
    return out;
}

std::vector<std::string> functions(const Parser *p) {
    std::vector<std::string> out;
    for (const ListNode *n = p->funcs->head; n != nullptr; n = n->next) {
        const auto *f = static_cast<const UserFunction *>(n->data);
        out.push_back(std::string(f->proto) + "=" + f->body);
    }
    return out;
}

} // namespace

TEST(Handle, NewHandleState) {
    ParserPtr p(parser_new());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(list_count(p->vars), 0);
    EXPECT_EQ(list_count(p->funcs), 0);
    ASSERT_NE(p->tree, nullptr);
    EXPECT_EQ(p->tree->left, nullptr);
    EXPECT_EQ(p->tree->right, nullptr);
    const lp::NodeData *root = data_of(p->tree);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->expr, nullptr);
    EXPECT_EQ(root->op, lp::OP_OPERAND);
    EXPECT_EQ(root->state, lp::EXPAND);
    EXPECT_EQ(bits(root->value), bits(0.0f));
    ASSERT_NE(p->cache, nullptr);
    EXPECT_EQ(p->cache->last, nullptr);
    EXPECT_EQ(p->cache->dirty, 0);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
}

// Each row: a sequence of definitions, then the list newest first.
TEST(Handle, VariablesMatchExactNames) {
    struct Def {
        const char *name;
        float value;
    };
    struct Case {
        std::vector<Def> defs;
        std::vector<std::pair<std::string, float>> expected;
    };
    const Case cases[] = {
        {{{"x", 1}, {"x", 2}}, {{"x", 2}}},
        {{{"x", 1}, {"xy", 2}}, {{"xy", 2}, {"x", 1}}},
        {{{"xy", 1}, {"x", 2}}, {{"x", 2}, {"xy", 1}}},
        {{{"xy", 1}, {"x", 2}, {"xy", 3}}, {{"x", 2}, {"xy", 3}}}, // update keeps the order
        {{{"", 1}, {"", 4}}, {{"", 4}}},
        {{{"", 1}, {"a", 2}}, {{"a", 2}, {"", 1}}},
        {{{"ab", 1}, {"ba", 2}}, {{"ba", 2}, {"ab", 1}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        ParserPtr p(parser_new());
        for (const Def &d : cases[i].defs) EXPECT_EQ(parser_var(p.get(), d.name, d.value), 0);
        EXPECT_EQ(variables(p.get()), cases[i].expected) << "case " << i;
        EXPECT_EQ(p->cache->dirty, 0) << "parser_var must not mark the cache, case " << i;
    }
}

TEST(Handle, VariableNameIsTheLibrarysCopy) {
    ParserPtr p(parser_new());
    char name[] = "abc";
    parser_var(p.get(), name, 1.0f);
    name[0] = 'z';
    EXPECT_EQ(variables(p.get())[0].first, "abc");
    EXPECT_NE(static_cast<const Variable *>(p->vars->head->data)->name, name);
}

TEST(Handle, FunctionsOfOneNameStackNewestFirstAndMarkTheCache) {
    ParserPtr p(parser_new());
    char proto[] = "f(x)", body[] = "x*2";
    EXPECT_EQ(parser_func(p.get(), proto, body), 0);
    EXPECT_EQ(p->cache->dirty, 1);
    p->cache->dirty = 0;
    EXPECT_EQ(parser_func(p.get(), "f(x)", "x*3"), 0);
    EXPECT_EQ(p->cache->dirty, 1);
    proto[0] = body[0] = '?';
    EXPECT_EQ(functions(p.get()), (std::vector<std::string>{"f(x)=x*3", "f(x)=x*2"}));
    EXPECT_EQ(parser_calc(p.get(), "f(3)"), 9.0f); // the newer one is used
    EXPECT_EQ(parser_func(p.get(), "", ""), 0);   // not validated
    EXPECT_EQ(list_count(p->funcs), 3);
}

TEST(Handle, ReleaseRoutinesIgnoreNull) {
    lp::parser_var_free(nullptr);
    lp::parser_func_free(nullptr);
    lp::parser_bt_node_free(nullptr);
}

// LeakSanitizer checks that destroy releases every record and text: a handle
// with variables, functions, a built tree and a cached text.
TEST(Handle, DestroyReleasesEverything) {
    Parser *p = parser_new();
    parser_var(p, "x", 1.0f);
    parser_var(p, "yy", 2.0f);
    parser_func(p, "f(x)", "x*2");
    parser_func(p, "g(a,b)", "a-b");
    EXPECT_EQ(parser_calc(p, "g(f(x),yy)+cos(0)"), 1.0f);
    parser_expand(p, "1+2*3");
    EXPECT_NE(p->cache->last, nullptr);
    parser_destroy(p);
    parser_destroy(nullptr);
}

void count_visit(void *ctx, int, int, const char *, int, int, float) { ++*static_cast<int *>(ctx); }

TEST(Handle, NullArgumentsDoNothing) {
    ParserPtr p(parser_new());
    EXPECT_EQ(parser_var(nullptr, "x", 1.0f), 0);
    EXPECT_EQ(parser_var(p.get(), nullptr, 1.0f), 0);
    EXPECT_EQ(parser_func(nullptr, "f(x)", "x"), 0);
    EXPECT_EQ(parser_func(p.get(), nullptr, "x"), 0);
    EXPECT_EQ(parser_func(p.get(), "f(x)", nullptr), 0);
    EXPECT_EQ(list_count(p->vars), 0);
    EXPECT_EQ(list_count(p->funcs), 0);
    EXPECT_EQ(p->cache->dirty, 0);

    parser_expand(nullptr, "1");
    parser_expand(p.get(), nullptr);
    EXPECT_EQ(data_of(p->tree)->expr, nullptr);
    EXPECT_TRUE(std::isnan(parser_calc(nullptr, "1")));
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), nullptr)));
    EXPECT_EQ(p->cache->last, nullptr);

    int code = -7;
    EXPECT_EQ(parser_errors(nullptr, &code), 0);
    EXPECT_EQ(code, -7);
    int visits = 0;
    parser_walk(nullptr, count_visit, &visits);
    parser_walk(p.get(), nullptr, &visits);
    EXPECT_EQ(visits, 0);
    parser_walk(p.get(), count_visit, &visits); // the new handle's single root
    EXPECT_EQ(visits, 1);

    EXPECT_EQ(parser_op_symbol(-1), nullptr);
    EXPECT_EQ(parser_op_symbol(14), nullptr);
    EXPECT_STREQ(parser_op_symbol(8), "atan");
    EXPECT_STREQ(parser_error_text(99), "unknown error");
    for (int code : {0, 2, 3, 4, 5}) EXPECT_STRNE(parser_error_text(code), "unknown error") << code;
    parser_destroy(nullptr);
}
