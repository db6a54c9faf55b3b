// robust_support.h - what tests of the public API share: owned handles, float bits, errors, a standard set of definitions.
#ifndef LIB_PARSE_ROBUST_SUPPORT_H
#define LIB_PARSE_ROBUST_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "lib_parse.h"

namespace robust {

struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;

// Each error of the last build: code, offset, length.
using Place = std::tuple<int, size_t, size_t>;
inline std::vector<Place> errors_of(const Parser *p) {
    std::vector<Place> out(static_cast<size_t>(parser_errors(p, nullptr)));
    for (size_t i = 0; i < out.size(); ++i)
        parser_error_at(p, static_cast<int>(i), &std::get<0>(out[i]), &std::get<1>(out[i]), &std::get<2>(out[i]));
    return out;
}

inline uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Variables x and y and the functions the texts of these tests use: plain ones,
// one of two parameters, one calling another, one that runs away.
inline ParserPtr standard_handle(float x = 1.5f, float y = -2.0f, const char *f_body = "x*2") {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", x);
    parser_var(p.get(), "y", y);
    parser_func(p.get(), "f(x)", f_body);
    parser_func(p.get(), "g(a,b)", "a-b");
    parser_func(p.get(), "h(t)", "cos(t)+f(t)");
    parser_func(p.get(), "r(n)", "1+r(n)");
    parser_func(p.get(), "k()", "7");
    return p;
}

} // namespace robust

#endif // LIB_PARSE_ROBUST_SUPPORT_H
