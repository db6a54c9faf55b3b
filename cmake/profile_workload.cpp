// profile_workload.cpp - what hosts ask of the library, run by the build on an
// instrumented copy of it so that the compiler lays the real one out for this
// use: the paths these calls take straight and together, the rare ones (errors,
// traces, limits) out of their way.
//
// Each kind of use gets a comparable share of the run, counted in calls and
// rows rather than time, so that a slow or busy machine teaches the same: a
// parse of a text, evaluation of its tree again and again (the text path, the
// bound path, the interpreter), and bulk rows on the calling thread. A text
// that reports an error makes it fail, after every text has run (the test
// profile_workload runs it too): it would be teaching the compiler the error
// paths.
#include "lib_parse.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Formula {
    const char *defined;
    const char *standard;
};

// Formulas of the kinds hosts evaluate: sums, products and quotients,
// the language's functions and the math set's, a host function, a user
// function, conditionals, powers and remainders, and two long texts below.
const Formula kFormulas[] = {
    {"x+y", "x + y"},
    {"2*(x+1)-cos(y)", "2*(x+1) - cos(y)"},
    {"(x+1)*(y-2)/(x*y+3)", "(x+1)*(y-2)/(x*y+3)"},
    {"sin(x)*cos(y)+atan(x/y)", "sin(x)*cos(y) + atan(x/y)"},
    {"exp(x/10)-log10(y+2)", "exp(x/10) - log10(y+2)"},
    {"sqrt(x*x+y*y)", "sqrt(x*x + y*y)"},
    {"x^2+3*x*y-y^2", "x^2 + 3*x*y - y^2"},
    {"clamp(x,0,1)*y", "clamp(x, 0, 1)*y"},
    {"if(lt(x,y),x*2,y-1)", "x < y ? x*2 : y-1"},
    {"abs(x-y)/(abs(x)+abs(y)+1)", "abs(x-y) / (abs(x) + abs(y) + 1)"},
    {"min(x,y)*0.25+max(x,y)*0.75", "min(x, y)*0.25 + max(x, y)*0.75"},
    {"f(x)+f(y)*2", "f(x) + f(y)*2"},
    {"logn(x+2)*y-log2(y+1)", "ln(x+2)*y - log2(y+1)"},
    {"-x*(y+1)%7+tan(x/4)", "-x*(y+1)%7 + tan(x/4)"},
    {"1.5e1*x-y/0.125", "1.5e1*x - y/0.125"},
};

float scale(void *, const float *args, int) { return args[0] * 0.5f + args[1]; }

Parser *new_handle(int syntax) {
    Parser *parser = parser_new();
    parser_math(parser);
    parser_native_func(parser, "scale", 2, scale, nullptr, PARSER_NATIVE_PURE | PARSER_NATIVE_THREAD_SAFE);
    parser_syntax(parser, syntax);
    parser_func(parser, "f(a)", syntax == PARSER_SYNTAX_STANDARD ? "a*2 + scale(a, 1)" : "a*2+scale(a,1)");
    parser_var(parser, "x", 1.0f);
    parser_var(parser, "y", 2.0f);
    return parser;
}

bool clean(const Parser *parser, const std::string &text, const char *what) {
    if (parser_errors(parser, nullptr) == 0) return true;
    std::fprintf(stderr, "profile workload: %s of \"%s\" reported an error\n", what, text.c_str());
    return false;
}

// A sum of 64 products and a text nested 20 deep, as long formulas are.
std::string long_sum() {
    std::string text;
    for (int i = 0; i < 64; ++i) {
        if (i > 0) text += i % 3 == 2 ? "-" : "+";
        text += i % 4 == 3 ? "x*y*" : i % 2 == 0 ? "x*" : "y*";
        text += std::to_string(1 + i % 9) + "." + std::to_string(i % 7);
    }
    return text;
}

std::string nested() {
    std::string text = "x";
    for (int k = 0; k < 20; ++k) text = "(" + text + "+y)*0.5";
    return text;
}

// Parses TEXT anew again and again, each time evaluated once.
bool parse(int syntax, const std::string &text, int times) {
    Parser *parser = new_handle(syntax);
    for (int i = 0; i < times; ++i) {
        parser_expand(parser, text.c_str());
        parser_calc(parser, text.c_str());
    }
    const bool ok = clean(parser, text, "a parse");
    parser_destroy(parser);
    return ok;
}

// The same text evaluated with new values: through its text, then through the
// variables' addresses, with machine code where the build has it and without.
bool evaluate(int syntax, const std::string &text, int times) {
    bool ok = true;
    for (int native = 0; native <= 1; ++native) {
        Parser *parser = new_handle(syntax);
        parser_limit(parser, PARSER_LIMIT_NATIVE_CODE, native);
        for (int i = 0; i < times; ++i) {
            parser_var(parser, "x", static_cast<float>(i % 17) * 0.25f);
            parser_var(parser, "y", static_cast<float>(i % 5) + 0.5f);
            parser_calc(parser, text.c_str());
        }
        float *x = parser_var_ref(parser, "x");
        for (int i = 0; i < times; ++i) {
            *x = static_cast<float>(i % 13) * 0.5f;
            parser_eval(parser);
        }
        ok = clean(parser, text, "an evaluation") && ok;
        parser_destroy(parser);
    }
    return ok;
}

// Columns of rows, in vector code where the build has it, in blocks without.
bool bulk(int syntax, const std::string &text, size_t rows) {
    std::vector<float> xs(rows), ys(rows), out(rows);
    for (size_t i = 0; i < rows; ++i) {
        xs[i] = static_cast<float>(i % 101) * 0.125f - 3.0f;
        ys[i] = static_cast<float>(i % 37) * 0.25f + 0.5f;
    }
    const char *const names[] = {"x", "y"};
    const float *const columns[] = {xs.data(), ys.data()};
    bool ok = true;
    for (int native = 0; native <= 1; ++native) {
        Parser *parser = new_handle(syntax);
        parser_limit(parser, PARSER_LIMIT_NATIVE_CODE, native);
        const bool done = parser_calc_bulk(parser, text.c_str(), names, columns, 2, rows, out.data()) == 0;
        ok = clean(parser, text, "bulk rows") && done && ok;
        parser_destroy(parser);
    }
    return ok;
}

} // namespace

int main() {
    bool ok = true;
    for (int syntax : {PARSER_SYNTAX_DEFINED, PARSER_SYNTAX_STANDARD}) {
        std::vector<std::string> texts;
        for (const Formula &formula : kFormulas)
            texts.emplace_back(syntax == PARSER_SYNTAX_STANDARD ? formula.standard : formula.defined);
        for (const std::string &text : texts) {
            ok = parse(syntax, text, 400) && ok;
            ok = evaluate(syntax, text, 300) && ok;
            ok = bulk(syntax, text, 2048) && ok;
        }
        for (const std::string &text : {long_sum(), nested()}) {
            ok = parse(syntax, text, 40) && ok;
            ok = evaluate(syntax, text, 100) && ok;
            ok = bulk(syntax, text, 512) && ok;
        }
    }
    return ok ? 0 : 1;
}
