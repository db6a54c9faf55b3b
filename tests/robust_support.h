// robust_support.h - what the robustness tests share: owned handles, float bits, a standard set of definitions.
#ifndef LIB_PARSE_ROBUST_SUPPORT_H
#define LIB_PARSE_ROBUST_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <memory>

#include "lib_parse.h"

namespace robust {

struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;

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
