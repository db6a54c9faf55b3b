// cases.h - the benchmark expressions, spelled for each library, with their native C++ floor.
#ifndef LIB_PARSE_BENCH_CASES_H
#define LIB_PARSE_BENCH_CASES_H

#include <cmath>
#include <cstdio>
#include <string>

namespace bench {

using NativeFn = float (*)(float x, float y);

// One expression over the variables x and y. Texts are chosen so that they
// mean the same in every library: no "^" (it binds loosely in lib_parse's
// defined grammar), no unary minus after an operator. STANDARD is the text
// in lib_parse's standard grammar (parser_syntax), spelled as muParser's. An
// empty peer text means the library cannot spell the expression.
struct Case {
    const char *name;
    std::string lib_parse;
    std::string standard;
    std::string muparser;
    std::string matheval;
    NativeFn native;
};

// A 64-term mix of sums, differences and products with exact binary constants.
inline std::string sum_product_64() {
    std::string text;
    for (int i = 0; i < 64; ++i) {
        if (i > 0) text += (i % 3 == 2) ? "-" : "+";
        text += (i % 4 == 3) ? "x*y*" : (i % 2 == 0 ? "x*" : "y*");
        char constant[32];
        std::snprintf(constant, sizeof constant, "%.17g", 1.0 + (i + 1) / 128.0);
        text += constant;
    }
    return text;
}

// ((...((x+y)*0.5+y)*0.5...)+y)*0.5: brackets nested 20 deep.
inline std::string nested_20() {
    std::string text = "x";
    for (int k = 0; k < 20; ++k) text = "(" + text + "+y)*0.5";
    return text;
}

// The same expressions written by hand, the floor for every library.
inline float native_short(float x, float y) { return 2.0f * (x + 1.0f) - std::cos(y); }
inline float native_sum(float x, float y) { return x + y; }
inline float native_ratio(float x, float y) { return (x + 1.0f) * (y - 2.0f) / (x * y + 3.0f); }
inline float native_64(float x, float y) {
    return x*1.0078125f+y*1.015625f-x*1.0234375f+x*y*1.03125f+x*1.0390625f-y*1.046875f+x*1.0546875f+
           x*y*1.0625f-x*1.0703125f+y*1.078125f+x*1.0859375f-x*y*1.09375f+x*1.1015625f+y*1.109375f-
           x*1.1171875f+x*y*1.125f+x*1.1328125f-y*1.140625f+x*1.1484375f+x*y*1.15625f-x*1.1640625f+
           y*1.171875f+x*1.1796875f-x*y*1.1875f+x*1.1953125f+y*1.203125f-x*1.2109375f+x*y*1.21875f+
           x*1.2265625f-y*1.234375f+x*1.2421875f+x*y*1.25f-x*1.2578125f+y*1.265625f+x*1.2734375f-
           x*y*1.28125f+x*1.2890625f+y*1.296875f-x*1.3046875f+x*y*1.3125f+x*1.3203125f-y*1.328125f+
           x*1.3359375f+x*y*1.34375f-x*1.3515625f+y*1.359375f+x*1.3671875f-x*y*1.375f+x*1.3828125f+
           y*1.390625f-x*1.3984375f+x*y*1.40625f+x*1.4140625f-y*1.421875f+x*1.4296875f+x*y*1.4375f-
           x*1.4453125f+y*1.453125f+x*1.4609375f-x*y*1.46875f+x*1.4765625f+y*1.484375f-x*1.4921875f+
           x*y*1.5f;
}
inline float clamp_of(float v, float lo, float hi) { return v < lo ? lo : v > hi ? hi : v; }
inline float native_clamp(float x, float y) { return clamp_of(x, 0.0f, 1.0f) * y; }
inline float native_trig(float x, float y) { return std::sin(x) * std::cos(y) + std::atan(x / y); }
inline float native_explog(float x, float y) { return std::exp(x / 10.0f) - std::log10(y + 2.0f); }
inline float native_select(float x, float y) { return x < y ? x * 2.0f : y - 1.0f; }
inline float native_nested(float x, float y) {
    return ((((((((((((((((((((x+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+
           y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f+y)*0.5f;
}

inline const Case *cases(int *count) {
    static const Case table[] = {
        {"short", "2*(x+1)-cos(y)", "2*(x+1)-cos(y)", "2*(x+1)-cos(y)", "2*(x+1)-cos(y)", native_short},
        {"sum", "x+y", "x+y", "x+y", "x+y", native_sum},
        {"ratio", "(x+1)*(y-2)/(x*y+3)", "(x+1)*(y-2)/(x*y+3)", "(x+1)*(y-2)/(x*y+3)", "(x+1)*(y-2)/(x*y+3)",
         native_ratio},
        {"sum64", sum_product_64(), sum_product_64(), sum_product_64(), sum_product_64(), native_64},
        {"trig", "sin(x)*cos(y)+atan(x/y)", "sin(x)*cos(y)+atan(x/y)", "sin(x)*cos(y)+atan(x/y)",
         "sin(x)*cos(y)+atan(x/y)", native_trig},
        // libmatheval has only the natural logarithm.
        {"explog", "exp(x/10)-log10(y+2)", "exp(x/10)-log10(y+2)", "exp(x/10)-log10(y+2)", "exp(x/10)-log(y+2)/log(10)",
         native_explog},
        {"nested20", nested_20(), nested_20(), nested_20(), nested_20(), native_nested},
        // A host function each library is given: clamp (libmatheval cannot be given one).
        {"clamp", "clamp(x,0,1)*y", "clamp(x,0,1)*y", "clamp(x,0,1)*y", "", native_clamp},
        // A comparison and a choice: the defined grammar spells them with parser_math's lt and if.
        {"select", "if(lt(x,y),x*2,y-1)", "x<y ? x*2 : y-1", "x<y ? x*2 : y-1", "", native_select},
    };
    *count = static_cast<int>(sizeof table / sizeof table[0]);
    return table;
}

} // namespace bench

#endif // LIB_PARSE_BENCH_CASES_H
