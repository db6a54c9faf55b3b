// test_substitute.cpp - user-function calls turned into body text, checked as text and as final value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core_test_support.h"
#include "defined/substitute.h"

using namespace test;

namespace {

using Defs = std::vector<std::pair<const char *, const char *>>;

const Defs kStandard = {{"f(x)", "x*2"}, {"g(a,b)", "a-b"}, {"h(x)", "cos(x)"}};

float fcos(double x) { return static_cast<float>(std::cos(x)); }
float fsin(double x) { return static_cast<float>(std::sin(x)); }
float ftan(double x) { return static_cast<float>(std::tan(x)); }

struct Case {
    Defs defs; // in order of definition
    const char *call;
    const char *text; // the substituted text, null when no function is chosen
    float value;      // parser_calc of the call, with variables a = 10 and b = 3
    int code;         // the first error code of that calculation, or -1
};

std::vector<Case> cases() {
    return {
        // The standard three functions.
        {kStandard, "f(3)", "3*2", 6, -1}, {kStandard, "g(5,2)", "5-2", 3, -1}, {kStandard, "h(1)", "cos(1)", fcos(1), -1},
        {kStandard, "f((1+2))", "(1+2)*2", 6, -1},
        {kStandard, "f(1+2)", "1+2*2", 5, -1}, // the argument is not bracketed
        {kStandard, "g(f(1),2)", "f(1)-2", 0, -1},
        {kStandard, "g(b,a)", "a-a", 0, -1}, // the second pass rewrites the first argument
        {kStandard, "foo(2)", "2*2", 4, -1}, {kStandard, "f(1,2)", "1*2", 2, -1}, {kStandard, "g(5, 2)", "5- 2", 3, -1},
        {kStandard, "g(h(1,2),3)", "h(1,2)-3", fcos(1) - 3.0f, -1}, {kStandard, "g(,2)", "-2", -2, -1},
        {kStandard, "g(5)", "5-", 5, 2}, // a missing argument is empty
        {kStandard, "q(5)", nullptr, 0, 4}, {{}, "f(3)", nullptr, 0, 4},
        // One function each.
        {{{"k(x)", "2x"}}, "k(3)", "23", 23, -1}, {{{"k(x)", "x2"}}, "k(3)", "x2", 0, -1},
        {{{"k(x)", "x + 1"}}, "k(3)", "x + 1", 1, -1}, {{{"k(xy)", "x+1"}}, "k(3)", "3+1", 4, -1},
        {{{"k(xy)", "xy+1"}}, "k(3)", "xy+1", 1, -1}, {{{"k(x, y)", "x-y"}}, "k(1,2)", "1-y", 1, -1},
        {{{"k(s)", "cos(s)+sin(s)"}}, "k(5)", "cos(5)+sin(5)", fcos(5) + fsin(5), -1},
        {{{"k(c)", "c*cos(c)"}}, "k(5)", "5*cos(5)", 5.0f * fcos(5), -1},
        {{{"k(a)", "atan(a)"}}, "k(5)", "5tan(5)", ftan(5), -1},
        {{{"k(x)", "-x"}}, "k(3)", "-3", -3, -1}, {{{"k(x)", "(x)"}}, "k(4)", "(4)", 4, -1},
        {{{"k(x)", "x+x*x"}}, "k(100)", "100+100*100", 10100, -1}, {{{"k(x)", "2*x"}}, "k()", "2*", 2, 2},
        {{{"k()", "7"}}, "k()", "7", 7, -1},
        {{{"k", "x+1"}}, "k(3)", "x+1", 1, -1}, // no "(": no parameters
        // Several functions: newest first, names matched as prefixes.
        {{{"f(x)", "x*2"}, {"fg(x)", "x+1"}}, "fg(2)", "2+1", 3, -1},
        {{{"fg(x)", "x+1"}, {"f(x)", "x*2"}}, "fg(2)", "2*2", 4, -1},
        {{{"f(x)", "x*2"}, {"f(x)", "x*3"}}, "f(3)", "3*3", 9, -1},
    };
}

// substitute_call with BUDGET bytes to write: the text ("<none>" for null), the status and the budget left.
using Status = lp::SubstituteStatus;
struct Substituted { std::string text; Status status; size_t left; };
Substituted substitute(const char *call, const lp::NameTrie *funcs, size_t budget = SIZE_MAX) {
    Substituted out{"<none>", Status::OK, budget};
    char *text = lp::substitute_call(call, funcs, &out.left, &out.status);
    if (text != nullptr) out.text = text;
    std::free(text);
    return out;
}

ParserPtr parser_with(const Defs &defs) {
    ParserPtr p(parser_new());
    for (const auto &d : defs) parser_func(p.get(), d.first, d.second);
    parser_var(p.get(), "a", 10);
    parser_var(p.get(), "b", 3);
    return p;
}

} // namespace

// Each call as text, then as the value parser_calc gives for it. The budget
// is spent exactly: what a call used suffices, a byte less is refused.
TEST(Substitute, TextAndValueOfEachCall) {
    for (const Case &c : cases()) {
        ParserPtr p = parser_with(c.defs);
        {
            Capture cap(8);
            const Substituted ample = substitute(c.call, &p->func_index);
            EXPECT_EQ(ample.text, c.text != nullptr ? c.text : "<none>") << c.call;
            EXPECT_EQ(ample.status, c.text != nullptr ? Status::OK : Status::NO_FUNCTION) << c.call;
            if (c.text != nullptr) {
                EXPECT_EQ(substitute(c.call, &p->func_index, SIZE_MAX - ample.left).status, Status::OK) << c.call;
                EXPECT_EQ(substitute(c.call, &p->func_index, SIZE_MAX - ample.left - 1).status, Status::TOO_LARGE) << c.call;
            }
            EXPECT_TRUE(cap.pieces.empty() && cap.codes.empty()) << "substitution reports nothing: " << c.call;
        }
        Capture cap;
        const float value = parser_calc(p.get(), c.call);
        EXPECT_EQ(bits(value), bits(c.value)) << c.call << " = " << value;
        int code = -1;
        EXPECT_EQ(parser_errors(p.get(), &code) > 0, c.code >= 0) << c.call;
        EXPECT_EQ(code, c.code) << c.call;
    }
}
