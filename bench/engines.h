// engines.h - one adapter per library: set x and y, evaluate, parse anew, evaluate many rows.
#ifndef LIB_PARSE_BENCH_ENGINES_H
#define LIB_PARSE_BENCH_ENGINES_H

#include <cstddef>
#include <string>
#include <vector>

#include "cases.h"
#include "lib_parse.h"

#if defined(BENCH_HAVE_MUPARSER)
#include <muParser.h>
#endif
#if defined(BENCH_HAVE_MATHEVAL)
#include <matheval.h>
#endif

namespace bench {

// Every engine offers: ready(), eval(x, y), parse() (from the text, then one
// evaluation) and bulk(xs, ys, n, out). Engines are templates' arguments, so
// no virtual call stands between the benchmark loop and the library.

// lib_parse_bench_shared is this code linked with the shared library: its
// lib_parse engines carry this suffix, so run.sh can set the two side by side.
#if defined(BENCH_SHARED_LIBRARY)
#define BENCH_LIBRARY_SUFFIX "_shared"
#else
#define BENCH_LIBRARY_SUFFIX ""
#endif

// The host function the "clamp" case calls, given to every handle after the
// standard set (whose lt and if the "select" case calls), and the grammar
// the handle reads.
inline float host_clamp(void *, const float *a, int) { return clamp_of(a[0], a[1], a[2]); }
inline Parser *new_parser(int syntax) {
    Parser *parser = parser_new();
    parser_math(parser);
    parser_native_func(parser, "clamp", 3, host_clamp, nullptr, PARSER_NATIVE_PURE);
    parser_syntax(parser, syntax);
    return parser;
}

// The function is a template argument so that the compiler inlines it.
template <NativeFn F>
struct NativeEngine {
    static constexpr const char *name = "native";
    explicit NativeEngine(const Case &) {}
    bool ready() const { return true; }
    float eval(float x, float y) { return F(x, y); }
    float parse() { return F(1.0f, 1.0f); }
    void bulk(const float *xs, const float *ys, size_t n, float *out) {
        for (size_t i = 0; i < n; ++i) out[i] = F(xs[i], ys[i]);
    }
};

// The same function called through a pointer the compiler cannot see
// through: what a host's own compiled callback costs, the floor of a bound path.
struct NativePointerEngine {
    static constexpr const char *name = "native_pointer";
    explicit NativePointerEngine(const Case &c) : f(c.native) {}
    bool ready() const { return true; }
    float eval(float x, float y) { return f(x, y); }
    float parse() { return f(1.0f, 1.0f); }
    void bulk(const float *xs, const float *ys, size_t n, float *out) {
        for (size_t i = 0; i < n; ++i) out[i] = f(xs[i], ys[i]);
    }
    NativeFn volatile f;
};

// SYNTAX: the grammar, PARSER_SYNTAX_DEFINED or PARSER_SYNTAX_STANDARD ("_std").
template <int Syntax>
struct LibParseEngine {
    static constexpr const char *name = Syntax ? "lib_parse_std" BENCH_LIBRARY_SUFFIX : "lib_parse" BENCH_LIBRARY_SUFFIX;
    explicit LibParseEngine(const Case &c) : text(Syntax ? c.standard : c.lib_parse), parser(new_parser(Syntax)) {
        parser_var(parser, "x", 1.0f);
        parser_var(parser, "y", 1.0f);
    }
    ~LibParseEngine() { parser_destroy(parser); }
    LibParseEngine(const LibParseEngine &) = delete;
    LibParseEngine &operator=(const LibParseEngine &) = delete;
    bool ready() const { return true; }
    float eval(float x, float y) {
        parser_var(parser, "x", x);
        parser_var(parser, "y", y);
        return parser_calc(parser, text.c_str());
    }
    float parse() {
        parser_expand(parser, text.c_str());
        return parser_calc(parser, text.c_str());
    }
    void bulk(const float *xs, const float *ys, size_t n, float *out) {
        const char *names[] = {"x", "y"};
        const float *columns[] = {xs, ys};
        parser_calc_bulk(parser, text.c_str(), names, columns, 2, n, out);
    }
    std::string text;
    Parser *parser;
};

// Bulk rows without machine code: the blocks every machine without x86-64
// vector code runs (AArch64, a build without AsmJit, PARSER_LIMIT_NATIVE_CODE 0).
struct LibParseBlocksEngine : LibParseEngine<PARSER_SYNTAX_DEFINED> {
    static constexpr const char *name = "lib_parse_blocks" BENCH_LIBRARY_SUFFIX;
    explicit LibParseBlocksEngine(const Case &c) : LibParseEngine(c) {
        parser_limit(parser, PARSER_LIMIT_NATIVE_CODE, 0);
    }
};

// Bulk rows on every core the process may use (PARSER_LIMIT_THREADS 0).
struct LibParseThreadsEngine : LibParseEngine<PARSER_SYNTAX_DEFINED> {
    static constexpr const char *name = "lib_parse_threads" BENCH_LIBRARY_SUFFIX;
    explicit LibParseThreadsEngine(const Case &c) : LibParseEngine(c) { parser_limit(parser, PARSER_LIMIT_THREADS, 0); }
};

// The bound path: variables set through their addresses, the current tree
// evaluated without its text. Timed for evaluation only; its bulk() is the
// row loop check() compares. NATIVE 1: the tree runs as machine code once it
// has been evaluated often enough (check() does that); 0: the interpreter.
template <int Native, int Syntax = PARSER_SYNTAX_DEFINED>
struct LibParseBoundEngine {
    static constexpr const char *name = Syntax   ? "lib_parse_std_bound" BENCH_LIBRARY_SUFFIX
                                        : Native ? "lib_parse_bound" BENCH_LIBRARY_SUFFIX
                                                 : "lib_parse_interp" BENCH_LIBRARY_SUFFIX;
    explicit LibParseBoundEngine(const Case &c)
        : text(Syntax ? c.standard : c.lib_parse), parser(new_parser(Syntax)), x(parser_var_ref(parser, "x")),
          y(parser_var_ref(parser, "y")) {
        parser_limit(parser, PARSER_LIMIT_NATIVE_CODE, Native);
        *x = 1.0f;
        *y = 1.0f;
        parser_calc(parser, text.c_str());
    }
    ~LibParseBoundEngine() { parser_destroy(parser); }
    LibParseBoundEngine(const LibParseBoundEngine &) = delete;
    LibParseBoundEngine &operator=(const LibParseBoundEngine &) = delete;
    bool ready() const { return true; }
    float eval(float xv, float yv) {
        *x = xv;
        *y = yv;
        return parser_eval(parser);
    }
    float parse() {
        parser_expand(parser, text.c_str());
        return parser_eval(parser);
    }
    void bulk(const float *xs, const float *ys, size_t n, float *out) {
        for (size_t i = 0; i < n; ++i) out[i] = eval(xs[i], ys[i]);
    }
    std::string text;
    Parser *parser;
    float *x, *y;
};

#if defined(BENCH_HAVE_MUPARSER)
struct MuParserEngine {
    static constexpr const char *name = "muparser";
    static double clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }
    explicit MuParserEngine(const Case &c) : text(c.muparser) {
        try {
            p.DefineFun("clamp", clamp);
            bulk_parser.DefineFun("clamp", clamp);
            p.DefineVar("x", &x);
            p.DefineVar("y", &y);
            p.SetExpr(text);
            p.Eval();
            ok = true;
        } catch (const mu::Parser::exception_type &) {
            ok = false;
        }
    }
    bool ready() const { return ok; }
    float eval(float xv, float yv) {
        x = xv;
        y = yv;
        return static_cast<float>(p.Eval());
    }
    float parse() {
        p.SetExpr(text);
        return static_cast<float>(p.Eval());
    }
    // The library's own bulk mode: variables bound to whole columns.
    void bulk(const float *xs, const float *ys, size_t n, float *out) {
        if (bx.size() != n) {
            bx.assign(xs, xs + n);
            by.assign(ys, ys + n);
            results.resize(n);
            bulk_parser.DefineVar("x", bx.data());
            bulk_parser.DefineVar("y", by.data());
            bulk_parser.SetExpr(text);
        }
        bulk_parser.Eval(results.data(), static_cast<int>(n));
        for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(results[i]);
    }
    std::string text;
    mu::Parser p, bulk_parser;
    double x = 1.0, y = 1.0;
    bool ok = false;
    std::vector<double> bx, by, results;
};
#endif

#if defined(BENCH_HAVE_MATHEVAL)
struct MathEvalEngine {
    static constexpr const char *name = "matheval";
    explicit MathEvalEngine(const Case &c) : text(c.matheval) {
        f = evaluator_create(text.data());
    }
    ~MathEvalEngine() {
        if (f != nullptr) evaluator_destroy(f);
    }
    MathEvalEngine(const MathEvalEngine &) = delete;
    MathEvalEngine &operator=(const MathEvalEngine &) = delete;
    bool ready() const { return f != nullptr; }
    float eval(float x, float y) {
        double values[] = {x, y};
        return static_cast<float>(evaluator_evaluate(f, 2, names, values));
    }
    float parse() {
        void *g = evaluator_create(text.data());
        double values[] = {1.0, 1.0};
        const float r = static_cast<float>(evaluator_evaluate(g, 2, names, values));
        evaluator_destroy(g);
        return r;
    }
    void bulk(const float *xs, const float *ys, size_t n, float *out) {
        for (size_t i = 0; i < n; ++i) out[i] = eval(xs[i], ys[i]);
    }
    std::string text;
    void *f = nullptr;
    char x_name[2] = "x", y_name[2] = "y";
    char *names[2] = {x_name, y_name};
};
#endif

} // namespace bench

#endif // LIB_PARSE_BENCH_ENGINES_H
