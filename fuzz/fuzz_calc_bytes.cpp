// fuzz_calc_bytes.cpp - any byte string as an expression text, on a handle with variables and functions.
//
// Each input is calculated three times: quietly on a fresh handle, again on
// the same handle (the cached tree), and on a second handle with every
// diagnostic emitted, which takes the walk and its traced operator search
// where the quiet build may read a short text in one pass. All three must
// agree bit for bit, and so must the error counts. Then in the standard
// grammar: twice alike, NaN whenever an error was reported, and every error
// among the notes of a check.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "lib_parse.h"
#include "lib_parse/diagnostics.h"
#include "silent_library.h"

namespace {

Parser *defined_handle() {
    Parser *p = parser_new();
    parser_var(p, "x", 1.5f);
    parser_var(p, "y", -2.0f);
    parser_var(p, "pi", 3.14159274f);
    parser_var(p, "long_name", 7.0f);
    parser_func(p, "f(x)", "x*2");
    parser_func(p, "g(a,b)", "a-b");
    parser_func(p, "h(t)", "cos(t)+f(t)");
    parser_func(p, "r(n)", "1+r(n)"); // runs away: stopped by the substitution limits
    parser_func(p, "k()", "7");
    return p;
}

Parser *standard_handle() {
    Parser *p = parser_new();
    parser_math(p);
    parser_syntax(p, PARSER_SYNTAX_STANDARD);
    parser_var(p, "x", 1.5f);
    parser_var(p, "y", -2.0f);
    parser_func(p, "f(a, b)", "a*b - a");
    parser_func(p, "g(a)", "a > 0 ? f(a, a) : -a");
    parser_func(p, "r(n)", "n + r(n)"); // recursion: an error at its call
    return p;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size); // cut at the first NUL by the library

    dbg_set_level(0);
    Parser *quiet = defined_handle();
    const float first = parser_calc(quiet, text.c_str());
    int first_code = -1;
    const int errors = parser_errors(quiet, &first_code);
    const float again = parser_calc(quiet, text.c_str());
    int again_code = -1;
    if (!same_bits(first, again) || parser_errors(quiet, &again_code) != errors || again_code != first_code)
        std::abort();
    parser_destroy(quiet);

    dbg_set_level(8);
    Parser *traced = defined_handle();
    const float traced_value = parser_calc(traced, text.c_str());
    int traced_code = -1;
    if (!same_bits(first, traced_value) || parser_errors(traced, &traced_code) != errors || traced_code != first_code)
        std::abort();
    parser_destroy(traced);
    dbg_set_level(0);

    Parser *standard = standard_handle();
    const float value = parser_calc(standard, text.c_str());
    const int standard_errors = parser_errors(standard, nullptr);
    if (standard_errors > 0 && !std::isnan(value)) std::abort(); // arithmetic may give NaN too, without an error
    if (!same_bits(value, parser_calc(standard, text.c_str())) || parser_errors(standard, nullptr) != standard_errors ||
        parser_check(standard, text.c_str(), nullptr, nullptr) < standard_errors)
        std::abort();
    parser_destroy(standard);
    return 0;
}
