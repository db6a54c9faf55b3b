// test_check.cpp - errors with their places, and the notes a check reports on a text, through the public API.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "lib_parse.h"
#include "lib_parse/diagnostics.h"
#include "robust_support.h"

namespace {

using robust::Place; // kind or code, offset, length

struct Handle {
    Parser *p = parser_new();
    Handle() {
        parser_var(p, "xy", 5.0f);
        parser_var(p, "y", 1.0f);
        parser_func(p, "f(a)", "a+1");
        parser_func(p, "r(n)", "1+r(n)");
        parser_func(p, "h(n)", "n*2-");
    }
    ~Handle() { parser_destroy(p); }

    std::vector<Place> errors() const { return robust::errors_of(p); }
    std::vector<Place> check(const std::string &text) const {
        std::vector<Place> out;
        const int n = parser_check(
            p, text.c_str(),
            [](void *ctx, int kind, size_t offset, size_t length, const char *message) {
                EXPECT_GT(std::strlen(message), 10u) << kind;
                static_cast<std::vector<Place> *>(ctx)->emplace_back(kind, offset, length);
            },
            &out);
        EXPECT_EQ(n, static_cast<int>(out.size())) << text;
        EXPECT_EQ(parser_check(p, text.c_str(), nullptr, nullptr), n) << "a null callback only counts: " << text;
        return out;
    }
};

} // namespace

// Each error and each trap on a short text, with its exact place; errors in a
// substituted body point at the call, and a runaway call is one entry.
TEST(Check, NotesAndErrorsWithTheirPlaces) {
    struct Case {
        const char *text;
        std::vector<Place> notes; // the errors among them are parser_calc's too
    };
    const Case cases[] = {
        {"x+", {{PARSER_ERR_TRAILING_OPERATOR, 0, 2}}},
        {"1+y-", {{PARSER_ERR_TRAILING_OPERATOR, 2, 2}}},
        {"g(2)", {{PARSER_ERR_UNKNOWN_FUNCTION, 0, 4}}},
        {"y*(1+2(3))", {{PARSER_ERR_UNKNOWN_FUNCTION, 5, 4}}},
        {"y+r(1)", {{PARSER_ERR_SUBSTITUTION_LIMIT, 2, 4}}},            // 256 reports, one entry
        {"1+f(h(y))", {{PARSER_ERR_TRAILING_OPERATOR, 2, 7}}},          // inside h's body: at the outer call
        {"2*(3+", {{PARSER_NOTE_UNMATCHED_BRACKET, 2, 1}}},
        {"(y))+1", {{PARSER_NOTE_UNMATCHED_BRACKET, 3, 1}}},
        {"zz*2", {{PARSER_NOTE_UNKNOWN_NAME, 0, 2}}},
        {"2+x", {{PARSER_NOTE_PREFIX_NAME, 2, 1}}},
        {"costly", {{PARSER_NOTE_NAME_WITH_FUNCTION, 0, 6}, {PARSER_NOTE_UNKNOWN_NAME, 3, 3}}},
        {"2cos(0)", {{PARSER_NOTE_DROPPED_TEXT, 0, 1}}},
        {"coscos1", {{PARSER_NOTE_NAME_WITH_FUNCTION, 0, 7}, {PARSER_NOTE_DROPPED_TEXT, 3, 4}}}, // cos() only
        {"7 8", {{PARSER_NOTE_DROPPED_TEXT, 2, 1}}},                                        // read as 7
        {"y *2", {{PARSER_NOTE_BLANK_IN_NAME, 0, 2}, {PARSER_NOTE_UNKNOWN_NAME, 0, 2}}},   // 'y ' is not 'y'
        {"f(y )", {{PARSER_NOTE_BLANK_IN_NAME, 0, 5}, {PARSER_NOTE_UNKNOWN_NAME, 0, 5}}},  // nor in a body
        {"2,5", {{PARSER_NOTE_COMMA, 1, 1}}},
        {"y--y", {{PARSER_NOTE_DOUBLE_OPERATOR, 1, 2}}},
        {"2*-3-4", {{PARSER_ERR_TRAILING_OPERATOR, 0, 2}, {PARSER_NOTE_DOUBLE_OPERATOR, 1, 2}}},
        {"9e3", {{PARSER_NOTE_NUMBER_AS_NAME, 0, 3}, {PARSER_NOTE_UNKNOWN_NAME, 0, 3}}},
        {"ff(3)", {{PARSER_NOTE_PREFIX_CALL, 0, 5}}},
        {"2*(y+1)-cos(y)", {}},
    };
    // A check changes nothing: checked after a calculation, the errors, the
    // tree's value and the variables stay those of the calculation, and the
    // error handler hears nothing of it.
    int reports = 0;
    exception_set_handler([](void *ctx, const char *, int, int) { ++*static_cast<int *>(ctx); }, &reports);
    for (const Case &c : cases) {
        Handle h;
        const float value = parser_calc(h.p, c.text);
        const int reported = reports;
        EXPECT_EQ(h.check(c.text), c.notes) << c.text;
        EXPECT_EQ(reports, reported) << c.text;
        std::vector<Place> errors;
        for (const Place &n : c.notes)
            if (std::get<0>(n) < PARSER_NOTE_UNMATCHED_BRACKET) errors.push_back(n);
        EXPECT_EQ(h.errors(), errors) << c.text;
        EXPECT_EQ(parser_eval(h.p), value) << c.text;
        EXPECT_EQ(parser_calc(h.p, "zz"), 0.0f) << c.text;
    }
    exception_set_handler(nullptr, nullptr);
    Handle h;
    EXPECT_EQ(parser_error_at(h.p, 0, nullptr, nullptr, nullptr), -1);
    parser_calc(h.p, "x+");
    EXPECT_EQ(parser_error_at(h.p, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(parser_error_at(h.p, 1, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(parser_error_at(h.p, -1, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(parser_error_at(nullptr, 0, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(parser_check(nullptr, "x", nullptr, nullptr), 0);
    EXPECT_EQ(parser_check(h.p, nullptr, nullptr, nullptr), 0);
    // A note quotes at most 40 bytes of the text, control bytes escaped.
    std::string message;
    parser_check(h.p, ("\x1b[2J" + std::string(50, 'z')).c_str(), [](void *ctx, int, size_t, size_t, const char *m) {
        *static_cast<std::string *>(ctx) = m;
    }, &message);
    EXPECT_EQ(message, "no variable matches '\\x1b[2J" + std::string(36, 'z') + "...'; it counts as 0");
    parser_limit(h.p, PARSER_LIMIT_TEXT_BYTES, 4);
    EXPECT_EQ(h.check("1+2+3"), (std::vector<Place>{{PARSER_ERR_TEXT_TOO_LONG, 0, 5}}));
}


// What a text reads: each name with the variable it finds and each call, in
// text order, the names in a body at the call's place; and the functions of
// a handle, user functions newest first, replaced ones marked.
TEST(Check, NamesATextReadsAndTheFunctions) {
    using Name = std::tuple<int, size_t, size_t, std::string>;
    Handle h;
    parser_native_func(h.p, "host", 1, [](void *, const float *a, int) { return a[0]; }, nullptr, PARSER_NATIVE_PURE);
    const auto names = [&h](const char *text) {
        std::vector<Name> out;
        const int n = parser_names(h.p, text, [](void *ctx, int kind, size_t offset, size_t length, const char *name) {
            static_cast<std::vector<Name> *>(ctx)->emplace_back(kind, offset, length, name);
        }, &out);
        EXPECT_EQ(n, static_cast<int>(out.size())) << text;
        return out;
    };
    const int var = PARSER_NAME_VARIABLE, unknown = PARSER_NAME_UNKNOWN, user = PARSER_NAME_FUNCTION, host = PARSER_NAME_HOST;
    EXPECT_EQ(names("x+x"), (std::vector<Name>{{var, 0, 1, "xy"}, {var, 2, 1, "xy"}}));
    EXPECT_EQ(names("f(y)*host(zz)"), (std::vector<Name>{{user, 0, 4, "f"}, {var, 0, 4, "y"}, {host, 5, 8, "host"},
                                                         {unknown, 10, 2, "zz"}}));
    EXPECT_EQ(names("g(1)-2*3"), (std::vector<Name>{{unknown, 0, 4, "g(1)"}}));
    EXPECT_EQ(names("2*(3+4)"), std::vector<Name>{});
    EXPECT_EQ(parser_names(nullptr, "x", nullptr, nullptr), -1);
    EXPECT_EQ(parser_names(h.p, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(h.errors(), std::vector<Place>{}) << "the handle is left as it was";

    using Function = std::tuple<int, std::string, std::string, int, int, unsigned>;
    parser_func(h.p, "f(b)", "b*3");
    std::vector<Function> functions;
    const int n = parser_functions(h.p, [](void *ctx, const ParserFunction *f) {
        static_cast<std::vector<Function> *>(ctx)->emplace_back(f->kind, f->name, f->proto ? f->proto : "<none>",
                                                               f->replaced, f->n_args, f->flags);
    }, &functions);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(functions, (std::vector<Function>{{PARSER_FUNCTION_USER, "f", "f(b)", 0, -1, 0},
                                                {PARSER_FUNCTION_USER, "h", "h(n)", 0, -1, 0},
                                                {PARSER_FUNCTION_USER, "r", "r(n)", 0, -1, 0},
                                                {PARSER_FUNCTION_USER, "f", "f(a)", 1, -1, 0},
                                                {PARSER_FUNCTION_HOST, "host", "<none>", 0, 1, PARSER_NATIVE_PURE}}));
    EXPECT_EQ(parser_functions(nullptr, nullptr, nullptr), -1);
}
