// test_host.cpp - host functions: registration, choosing a call, its arguments, evaluation everywhere.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <numeric>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "core_test_support.h"
#include "lib_parse.hpp"

namespace {

using namespace test;

float clamp3(void *, const float *a, int) { return a[0] < a[1] ? a[1] : a[0] > a[2] ? a[2] : a[0]; }
float sum_all(void *, const float *a, int n) { return std::accumulate(a, a + n, 0.0f); }
float counted(void *ctx, const float *a, int n) { // a[0] + 1 (or 1), counting its calls
    ++*static_cast<int *>(ctx);
    return n > 0 ? a[0] + 1.0f : 1.0f;
}
float half(void *, const float *a, int n) { return n > 0 ? a[0] / 2.0f : 2.0f; }

struct Node {
    int depth, op, state;
    std::string expr;
    float value;
};
std::vector<Node> walk(Parser *p) {
    std::vector<Node> nodes;
    parser_walk(p, [](void *ctx, int depth, int, const char *expr, int op, int state, float value) {
        static_cast<std::vector<Node> *>(ctx)->push_back(Node{depth, op, state, expr != nullptr ? expr : "", value});
    }, &nodes);
    return nodes;
}

TEST(Host, RegistrationRules) {
    ParserPtr p(parser_new());
    EXPECT_NE(parser_native_func(nullptr, "f", 1, half, nullptr, 0), 0);
    EXPECT_NE(parser_native_func(p.get(), nullptr, 1, half, nullptr, 0), 0);
    for (const char *bad : {"", "a b", "a(", "a)", "a,b", "a+b", "a-b", "a*", "/a", "a%", "^", "cos", "a\t"})
        EXPECT_NE(parser_native_func(p.get(), bad, 1, half, nullptr, 0), 0) << bad;
    for (int n : {-2, PARSER_NATIVE_MAX_ARGS + 1}) EXPECT_NE(parser_native_func(p.get(), "h", n, half, nullptr, 0), 0);
    EXPECT_NE(parser_native_func(p.get(), "h", 1, half, nullptr, 4u), 0); // an unknown flag
    parser_func(p.get(), "h(a)", "a*10");
    EXPECT_EQ(parser_calc(p.get(), "h(4)"), 40.0f); // nothing was registered
    EXPECT_EQ(parser_native_func(p.get(), "h", 1, half, nullptr, PARSER_NATIVE_PURE), 0); // found before h(a)
    EXPECT_EQ(parser_native_func(p.get(), "atan2", -1, sum_all, nullptr, 0), 0); // holds a symbol, is none
    EXPECT_EQ(parser_calc(p.get(), "h(4)+atan2(1,2)"), 5.0f);
    EXPECT_STRNE(parser_error_text(PARSER_ERR_ARGUMENT_COUNT), parser_error_text(-1));
    // Replacing and removing rebuild the tree.
    parser_native_func(p.get(), "gg", 0, half, nullptr, PARSER_NATIVE_PURE);
    EXPECT_EQ(parser_calc(p.get(), "gg()*3"), 6.0f);
    parser_native_func(p.get(), "gg", 1, half, nullptr, 0);
    EXPECT_EQ(parser_eval(p.get()), 0.0f); // one argument now: the empty one, 0
    EXPECT_EQ(parser_calc(p.get(), "gg(8)*3"), 12.0f);
    parser_native_func(p.get(), "gg", 1, nullptr, nullptr, 0);
    int code = -1;
    EXPECT_EQ(parser_calc(p.get(), "gg(8)*3"), 0.0f);
    EXPECT_TRUE(parser_errors(p.get(), &code) == 1 && code == PARSER_ERR_UNKNOWN_FUNCTION);
}

// A host name that begins as one of the table's functions, or is a
// longer name holding one, is the host's: only the table's own names are
// never looked up.
TEST(Host, NamesLikeTheTablesFunctionsAreTheHosts) {
    const auto tenfold = [](void *, const float *a, int) { return a[0] * 10.0f; };
    ParserPtr p(parser_new());
    for (const char *name : {"log", "co", "ex", "at", "cosh", "log1", "t", "sinx"})
        ASSERT_EQ(parser_native_func(p.get(), name, 1, tenfold, nullptr, PARSER_NATIVE_PURE), 0) << name;
    for (const auto &[text, value] : std::vector<std::pair<const char *, float>>{
             {"log(2)", 20.0f}, {"co(2)", 20.0f}, {"ex(3)", 30.0f}, {"at(1)", 10.0f}, {"cosh(1)", 10.0f},
             {"log1(4)", 40.0f}, {"t(5)", 50.0f}, {"sinx(6)", 60.0f}, {" log (2) ", 20.0f},
             {"cos(0)", 1.0f}, {"log10(100)", 2.0f}, {"exp(0)+co(1)", 11.0f}}) {
        EXPECT_EQ(parser_calc(p.get(), text), value) << text;
        EXPECT_EQ(parser_errors(p.get(), nullptr), 0) << text;
    }
}

// Names alike in their first eight bytes, of lengths around eight, in a
// table that grows past its first size and loses and replaces entries: each
// call reaches its own function in both grammars, a removed name none.
TEST(Host, NamesAlikeInTheirFirstBytesEachCallTheirOwn) {
    const auto number = [](void *ctx, const float *, int) { return static_cast<float>(reinterpret_cast<uintptr_t>(ctx)); };
    for (int syntax : {PARSER_SYNTAX_DEFINED, PARSER_SYNTAX_STANDARD}) {
        ParserPtr p(parser_new());
        parser_syntax(p.get(), syntax);
        std::vector<std::pair<std::string, uintptr_t>> names; // 0: removed
        for (int k = 0; k < 100; ++k)
            for (const char *stem : {"abcdefgh", "abcdefg", "ab"}) names.emplace_back(stem + std::to_string(k), 0);
        const float unknown = syntax == PARSER_SYNTAX_STANDARD ? NAN : 0.0f; // the value of a text in error
        for (size_t k = 0; k < names.size(); ++k) {
            names[k].second = k + 1;
            parser_native_func(p.get(), names[k].first.c_str(), 1, number, reinterpret_cast<void *>(k + 1), 0);
            // A name not defined ends its search at every size the table passes through.
            if (k < 40) {
                EXPECT_TRUE(same_value(parser_calc(p.get(), "zz(1)"), unknown)) << k;
            }
        }
        for (size_t k = 0; k < names.size(); k += 3) {
            names[k].second = 0;
            parser_native_func(p.get(), names[k].first.c_str(), 1, nullptr, nullptr, 0);
        }
        for (size_t k = 1; k < names.size(); k += 5) {
            names[k].second = 1000 + k;
            parser_native_func(p.get(), names[k].first.c_str(), 1, number, reinterpret_cast<void *>(names[k].second), 0);
        }
        for (const auto &[name, value] : names) {
            const float result = parser_calc(p.get(), (name + "(1)").c_str());
            EXPECT_TRUE(same_value(result, value != 0 ? static_cast<float>(value) : unknown)) << name << " " << syntax;
            EXPECT_EQ(parser_errors(p.get(), nullptr), value == 0 ? 1 : 0) << name << " " << syntax;
        }
        EXPECT_TRUE(same_value(parser_calc(p.get(), "abcdefgh100(1)"), unknown)); // longer than any name alike
        EXPECT_EQ(parser_errors(p.get(), nullptr), 1);
    }
}

// parser_functions lists host functions in the order their names were first
// defined: a replaced one keeps its place, a removed one defined again is
// the newest.
TEST(Host, ListedInTheOrderFirstDefined) {
    ParserPtr p(parser_new());
    for (const char *name : {"a", "b", "c"}) parser_native_func(p.get(), name, 1, half, nullptr, 0);
    parser_native_func(p.get(), "a", 1, nullptr, nullptr, 0);
    parser_native_func(p.get(), "c", 2, sum_all, nullptr, 0);
    parser_native_func(p.get(), "a", 1, half, nullptr, 0);
    std::vector<std::pair<std::string, int>> listed;
    parser_functions(p.get(), [](void *ctx, const ParserFunction *f) {
        static_cast<std::vector<std::pair<std::string, int>> *>(ctx)->emplace_back(f->name, f->n_args);
    }, &listed);
    EXPECT_EQ(listed, (std::vector<std::pair<std::string, int>>{{"b", 1}, {"c", 2}, {"a", 1}}));
    EXPECT_EQ(parser_calc(p.get(), "c(1,2)+a(8)+b(4)"), 9.0f);
}

TEST(Host, ArgumentsSplitAtOuterCommasAndWalkInOrder) {
    ParserPtr p(parser_new());
    parser_native_func(p.get(), "clamp", 3, clamp3, nullptr, PARSER_NATIVE_PURE);
    parser_native_func(p.get(), "sum", -1, sum_all, nullptr, 0);
    parser_var(p.get(), "x", 5.0f);
    parser_var(p.get(), "y", 2.0f);
    EXPECT_EQ(parser_calc(p.get(), "clamp(x+1,0,y*2)"), 4.0f);
    const std::vector<Node> n = walk(p.get()); // the call, then x+1 and its operands, 0, y*2 and its operands
    ASSERT_EQ(n.size(), 8u);
    EXPECT_TRUE(n[0].op == PARSER_OP_CALL && n[0].expr == "clamp" && n[1].op == 0 && n[1].depth == 1);
    EXPECT_TRUE(n[4].expr == "0" && n[4].depth == 1 && n[5].op == 3 && n[5].depth == 1 && n[7].expr == "2");
    EXPECT_EQ(parser_calc(p.get(), "sum()"), 0.0f);
    EXPECT_EQ(parser_calc(p.get(), "sum(1,(2,3),sum(4,(5)),clamp(9,0,(x)))"), 17.0f); // (2,3) reads as 2
    EXPECT_EQ(parser_calc(p.get(), "2*(sum(x,y))"), 14.0f);
    // Blanks around a host call, its name and its arguments are not part of
    // them; blanks inside an argument are ('x + 1' reads a name 'x ').
    EXPECT_EQ(parser_calc(p.get(), "2* sum (1, x)\t+sum( )+ sum(\ny , x\r)"), 19.0f);
    EXPECT_EQ(parser_calc(p.get(), "clamp(x + 1, 0, 9)"), 1.0f);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
    // An empty argument among others is error 10 at its place, and the call is 0.
    EXPECT_EQ(parser_calc(p.get(), "1+sum(1, ,2)"), 1.0f);
    int code = -1;
    size_t offset = 0, length = 0;
    ASSERT_EQ(parser_error_at(p.get(), 0, &code, &offset, &length), 0);
    EXPECT_TRUE(code == PARSER_ERR_EMPTY_ARGUMENT && offset == 9u && length == 0u) << code << " " << offset;
}

TEST(Host, WrongArgumentCountIsZeroAndPlaced) {
    ParserPtr p(parser_new());
    parser_native_func(p.get(), "clamp", 3, clamp3, nullptr, 0);
    EXPECT_EQ(parser_calc(p.get(), "1+clamp(7,2)"), 1.0f);
    int code = -1;
    size_t offset = 0, length = 0;
    ASSERT_EQ(parser_error_at(p.get(), 0, &code, &offset, &length), 0);
    EXPECT_TRUE(code == PARSER_ERR_ARGUMENT_COUNT && offset == 2u && length == 10u);
    EXPECT_EQ(parser_calc(p.get(), "clamp(7,2,3,4)"), 0.0f);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 1);
    parser_native_func(p.get(), "two", 0, half, nullptr, 0); // no argument at all
    EXPECT_EQ(parser_calc(p.get(), "two(8)") + static_cast<float>(parser_errors(p.get(), &code)), 1.0f);
    EXPECT_EQ(code, PARSER_ERR_ARGUMENT_COUNT);
    EXPECT_EQ(parser_calc(p.get(), "clamp(7,2,3)") + static_cast<float>(parser_errors(p.get(), nullptr)), 3.0f);
}

TEST(Host, ImpureCalledEveryTimePureFolded) {
    ParserPtr p(parser_new());
    int impure = 0, pure = 0;
    parser_native_func(p.get(), "tick", -1, counted, &impure, 0);
    parser_native_func(p.get(), "once", 1, counted, &pure, PARSER_NATIVE_PURE);
    for (int k = 0; k < 200; ++k) {
        parser_var(p.get(), "v", static_cast<float>(k)); // neither a new variable nor a new value rebuilds
        ASSERT_EQ(k % 2 ? parser_eval(p.get()) : parser_calc(p.get(), "tick()+once(2)"), 4.0f);
    }
    EXPECT_TRUE(impure == 200 && pure == 1) << impure << " " << pure; // the same text is not built again
    const std::vector<Node> nodes = walk(p.get()); // +, tick, once and its argument: all computed
    ASSERT_EQ(nodes.size(), 4u);
    const float values[] = {4.0f, 1.0f, 3.0f, 2.0f};
    for (size_t k = 0; k < 4; ++k) EXPECT_TRUE(nodes[k].state == PARSER_STATE_DONE && nodes[k].value == values[k]) << k;
    float *x = parser_var_ref(p.get(), "x");
    for (int k = 0; k < 100; ++k) {
        *x = static_cast<float>(k); // set before the call: argument order is unspecified
        ASSERT_EQ(parser_calc(p.get(), "once(x)"), static_cast<float>(k) + 1.0f);
    }
    EXPECT_EQ(pure, 101); // a name is no constant
}

TEST(Host, CallsNestedTenThousandDeep) {
    ParserPtr p(parser_new());
    int calls = 0;
    parser_native_func(p.get(), "n", 1, counted, &calls, 0);
    parser_var(p.get(), "x", 0.5f);
    std::string text;
    for (int k = 0; k < 10000; ++k) text += "n(";
    EXPECT_EQ(parser_calc(p.get(), (text + "x" + std::string(10000, ')')).c_str()), 10000.5f);
    EXPECT_EQ(calls, 10000);
    EXPECT_EQ(walk(p.get()).size(), 10001u);
}

TEST(Host, CppCallablesOwnedCountedAndGuarded) {
    lib_parse::Parser p;
    auto held = std::make_shared<float>(7.0f);
    const std::weak_ptr<float> watch = held;
    int calls = 0;
    p.native_func("clamp", [](float x, float lo, float hi) { return x < lo ? lo : x > hi ? hi : x; });
    p.native_func("bad", [](float x) { return x > 0 ? throw std::runtime_error("no") : x; });
    p.native_func("now", [&calls] { return static_cast<float>(++calls); });
    p.native_func("own", [held](float) { return *held; });
    held.reset();
    EXPECT_EQ(p.calc("clamp(9,0,2)+now()+now()+own(1)"), 12.0f);
    EXPECT_EQ(p.calc("clamp(9,0)"), 0.0f); // three parameters: three arguments
    EXPECT_TRUE(std::isnan(p.calc("bad(1)")));
    EXPECT_EQ(p.calc("bad(0-1)"), -1.0f);
    EXPECT_FALSE(watch.expired());
    p.native_func("own", [](float v) { return v; });
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(p.calc("own(3)"), 3.0f);
    // Any count of arguments; the standard set; bulk over vectors.
    p.native_func("sum", [](const float *a, int n) { return n > 0 ? a[0] + static_cast<float>(n) : 0.0f; });
    EXPECT_EQ(p.calc("sum(1,2,3)+sum()"), 4.0f);
    EXPECT_EQ(p.math(), 0);
    std::vector<float> out;
    EXPECT_EQ(p.bulk("max(x,t)", {"x", "t"}, {{1, 5, 3}, {4, 2, 6}}, out), 0);
    EXPECT_EQ(out, (std::vector<float>{4, 5, 6}));
    EXPECT_NE(p.bulk("x", {"x"}, {{1, 2}, {3}}, out), 0);
    // Values and errors together: a bad text does not pass for a good one.
    const lib_parse::BulkResult sound = p.bulk("max(x,t)", {"x", "t"}, {{1, 5}, {4, 2}});
    EXPECT_EQ(sound.status, 0);
    EXPECT_EQ(sound.values, (std::vector<float>{4, 5}));
    EXPECT_TRUE(sound.errors.empty());
    const lib_parse::BulkResult bad = p.bulk("nofunction(x)+t", {"x", "t"}, {{1, 5}, {4, 2}});
    EXPECT_EQ(bad.status, 0);
    ASSERT_EQ(bad.errors.size(), 1u);
    EXPECT_EQ(bad.errors[0].code, PARSER_ERR_UNKNOWN_FUNCTION);
    EXPECT_EQ(bad.errors[0].message, "unknown function 'nofunction'");
    EXPECT_NE(p.bulk("x", {"x"}, {{1, 2}, {3}}).status, 0);
    std::vector<std::pair<int, std::size_t>> heard;
    p.on_error([&heard](int code, std::size_t offset, std::size_t) { heard.emplace_back(code, offset); });
    p.calc("1+zz(2)");
    EXPECT_EQ(heard, (std::vector<std::pair<int, std::size_t>>{{PARSER_ERR_UNKNOWN_FUNCTION, 2}}));
    const std::vector<lib_parse::Name> names = p.names("x+own(t)");
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(names[1].kind == PARSER_NAME_HOST && names[1].name == "own" && names[2].name == "t");
    EXPECT_EQ(p.functions().size(), 37u); // bad, now, own, sum, and the set's 32 (its clamp replaced ours) and if
    p.interrupt(); // nothing runs: nothing is stopped
    // The rest of the wrapper: names, definitions, errors, notes, walk, moves.
    p.func(std::string("f(x)"), std::string("x*x"));
    *p.var_ref("y") = 0.5f;
    EXPECT_EQ(p.calc(std::string("own(f(2))-y")), 3.5f);
    p.calc("(1+y+)*2");
    ASSERT_EQ(p.errors().size(), 1u);
    EXPECT_EQ(std::make_tuple(p.errors()[0].code, p.errors()[0].offset, p.errors()[0].length), std::make_tuple(2, size_t{1}, size_t{4}));
    const std::vector<lib_parse::Note> notes = p.check("2cos(0)");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(std::make_tuple(notes[0].kind, notes[0].offset, notes[0].text), std::make_tuple(PARSER_NOTE_DROPPED_TEXT, size_t{0}, std::string("2")));
    p.expand("x*y+k");
    std::vector<std::string> texts;
    p.walk([&texts](int, int, const char *expr, int, int, float) { texts.emplace_back(expr); });
    EXPECT_EQ(texts, (std::vector<std::string>{"+", "*", "x", "y", "k"}));
    p.var("x", 2.0f);
    lib_parse::Parser moved(std::move(p));
    EXPECT_EQ(moved.eval(), 1.0f);
    EXPECT_TRUE(p.get() == nullptr && std::isnan(p.calc("1"))); // NOLINT(bugprone-use-after-move)
}

} // namespace

namespace {

float tally(void *ctx, const float *a, int) { // counts its calls per argument, 1 or 2
    ++static_cast<int *>(ctx)[static_cast<int>(a[0])];
    return a[0] * 10.0f;
}

} // namespace

// The standard set: each function in double rounded once, at its edges;
// the conditional evaluates one branch only, in every evaluator.
TEST(Host, StandardSetAndTheLazyConditional) {
    ParserPtr p(parser_new());
    ASSERT_EQ(parser_math(p.get()), 0);
    const float nan = std::nanf(""), inf = INFINITY;
    const auto d = [](double v) { return static_cast<float>(v); };
    const std::pair<const char *, float> rows[] = {
        {"sqrt(2)", d(std::sqrt(2.0))}, {"cbrt(0-8)", -2}, {"abs(0*(0-1))", 0}, {"sign(0*(0-1))", -0.0f}, {"sign(0/0)", nan},
        {"sign(0-3)", -1}, {"floor(0-2.5)", -3}, {"ceil(2.1)", 3}, {"round(2.5)", 3}, {"round(0-2.5)", -3},
        {"trunc(0-2.7)", -2}, {"fmod(7,0-3)", 1}, {"pow(2,0.5)", d(std::pow(2.0, 0.5))}, {"hypot(3,4)", 5},
        {"atan2(1,0-1)", d(std::atan2(1.0, -1.0))}, {"asin(2)", nan}, {"acos(1)", 0}, {"sinh(1)", d(std::sinh(1.0))},
        {"cosh(1)", d(std::cosh(1.0))}, {"tanh(0.5)", d(std::tanh(0.5))}, {"exp2(0-1)", 0.5f}, {"min(3,1,2)", 1},
        {"max(0/0,1)", 1}, {"min(0/0)", nan}, {"max(1/0,2)", inf}, {"clamp(5,0,2)", 2}, {"clamp(1,3,2)", 2},
        {"clamp(0/0,0,2)", 0}, {"max(0*(0-1),0)", -0.0f}, {"max(0,0*(0-1))", 0}, {"min(0*(0-1),0)", -0.0f},
        {"min(0,0*(0-1))", 0}, {"max(0/0,0*(0-1),0)", -0.0f}, {"clamp(0,0*(0-1),5)", 0}, {"clamp(0*(0-1),0,5)", -0.0f},
        {"clamp(1,0,0/0)", 1}, {"pi()", d(3.14159265358979323846)}, {"e()", d(2.71828182845904523536)},
        {"lt(1,2)", 1}, {"le(2,2)", 1}, {"gt(1,2)", 0}, {"ge(1,2)", 0}, {"eq(0/0,0/0)", 0}, {"ne(0/0,0/0)", 1},
        {"and(2,0/0)", 1}, {"or(0,0)", 0}, {"not(0/0)", 0}, {"not(0)", 1}, {"if(0,1,2)", 2}, {"if(0/0,1,2)", 1},
    };
    for (const auto &[text, value] : rows) {
        const float got = parser_calc(p.get(), text);
        EXPECT_TRUE(std::isnan(value) ? std::isnan(got) : bits(got) == bits(value)) << text << " = " << got;
        EXPECT_EQ(parser_errors(p.get(), nullptr), 0) << text;
    }
    int code = -1;
    for (const char *text : {"min()", "or(1,0,1)"}) {
        EXPECT_EQ(parser_calc(p.get(), text), 0.0f) << text;
        EXPECT_TRUE(parser_errors(p.get(), &code) == 1 && code == PARSER_ERR_ARGUMENT_COUNT) << text;
    }
    parser_native_func(p.get(), "sqrt", 1, nullptr, nullptr, 0); // each can be removed alone
    EXPECT_EQ(parser_calc(p.get(), "sqrt(4)+cbrt(8)"), 2.0f);

    // A branch not taken is not evaluated: by the interpreter, by machine
    // code past the tier, row by row in bulk; its nodes show as not evaluated.
    int calls[3] = {0, 0, 0};
    parser_native_func(p.get(), "tally", 1, tally, calls, 0);
    float *x = parser_var_ref(p.get(), "x");
    int taken[2] = {0, 0};
    parser_expand(p.get(), "if(x, tally(1), tally(2)+1)");
    for (int i = 0; i < 200; ++i) {
        *x = static_cast<float>(i % 3 == 0);
        EXPECT_EQ(parser_eval(p.get()), i % 3 == 0 ? 10.0f : 21.0f);
        ++taken[i % 3 == 0 ? 0 : 1];
    }
    EXPECT_TRUE(calls[1] == taken[0] && calls[2] == taken[1]) << calls[1] << " " << calls[2];
    std::vector<int> states;
    parser_walk(p.get(), [](void *ctx, int, int, const char *, int, int state, float) {
        static_cast<std::vector<int> *>(ctx)->push_back(state);
    }, &states);
    const int done = PARSER_STATE_DONE, calc = PARSER_STATE_CALCULATE; // the last x was 0: the first branch was not taken
    EXPECT_EQ(states, (std::vector<int>{done, done, calc, calc, done, done, done, done}));
    std::vector<float> column(5000), out(5000);
    for (size_t r = 0; r < column.size(); ++r) column[r] = static_cast<float>(r % 2);
    const char *names[] = {"x"};
    const float *columns[] = {column.data()};
    calls[1] = calls[2] = 0;
    ASSERT_EQ(parser_calc_bulk(p.get(), "if(x, tally(1), tally(2)+1)", names, columns, 1, column.size(), out.data()), 0);
    EXPECT_TRUE(calls[1] == 2500 && calls[2] == 2500 && out[0] == 21.0f && out[1] == 10.0f);
    // A host function named if is an ordinary one: both arguments are evaluated.
    parser_native_func(p.get(), "if", 3, [](void *, const float *a, int) { return a[0] != 0 ? a[1] : a[2]; }, nullptr, 0);
    calls[1] = calls[2] = 0;
    EXPECT_EQ(parser_calc(p.get(), "if(1, tally(1), tally(2))"), 10.0f);
    EXPECT_TRUE(calls[1] == 1 && calls[2] == 1);
}
