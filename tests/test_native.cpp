// test_native.cpp - machine code, the interpreter and bulk evaluation give the same bits and node records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif
#include <sys/wait.h>
#include <unistd.h>

#include "core_test_support.h"
#if LIB_PARSE_TEST_JIT
#include "run/machine_code_runtime.h"
#endif
#include "run/machine_code.h"
#include "run/program.h"
#include "tree/operand.h"

namespace {

using namespace test;

float sum_all(void *, const float *a, int n) {
    float s = 0.0f;
    for (int k = 0; k < n; ++k) s += a[k];
    return s;
}
float tick(void *ctx, const float *a, int n) { // counts its calls
    ++*static_cast<int *>(ctx);
    return n > 0 ? a[n - 1] * 0.5f : 1.0f;
}
float bump(void *ctx, const float *a, int) { // adds 1 to a variable through its address
    *static_cast<float *>(ctx) += 1.0f;
    return a[0];
}

// Every record the walk shows computed is its own node's: an operation's
// value is that operation of its operands' values. Records written to the
// wrong nodes, such as a folded subtree's values out of order, break it.
void expect_records_own(const Parser *p, const std::string &text) {
    const std::vector<Visit> visits = walk(p);
    std::vector<std::vector<size_t>> children(visits.size());
    std::vector<size_t> path; // the last visit at each depth
    for (size_t i = 0; i < visits.size(); ++i) {
        const auto depth = static_cast<size_t>(std::get<0>(visits[i]));
        path.resize(depth + 1);
        path[depth] = i;
        if (depth > 0) children[path[depth - 1]].push_back(i);
    }
    const auto value = [&](size_t i) {
        const uint32_t b = std::get<5>(visits[i]);
        float v;
        std::memcpy(&v, &b, sizeof v);
        return v;
    };
    for (size_t i = 0; i < visits.size(); ++i) {
        const int op = std::get<3>(visits[i]);
        const std::string &expr = std::get<2>(visits[i]);
        if (std::get<4>(visits[i]) == PARSER_STATE_DONE && op == PARSER_OP_OPERAND && !expr.empty() &&
            expr.find_first_not_of("0123456789.") == std::string::npos) { // a number, read alike in both grammars
            EXPECT_TRUE(same_value(value(i), lp::read_number(expr.c_str()))) << "'" << text << "' number " << expr;
            continue;
        }
        if (std::get<4>(visits[i]) != PARSER_STATE_DONE || !(op < PARSER_OP_COUNT || (op >= PARSER_OP_NEG && op <= PARSER_OP_NE)))
            continue;
        float operands[2] = {0.0f, 0.0f};
        bool done = children[i].size() == static_cast<size_t>(lp::kind_of(op).arity);
        for (size_t k = 0; done && k < children[i].size(); ++k) {
            done = std::get<4>(visits[children[i][k]]) == PARSER_STATE_DONE;
            operands[k] = value(children[i][k]);
        }
        if (done) {
            EXPECT_TRUE(same_value(value(i), lp::compute(op, operands)))
                << "'" << text << "' node " << i << " (" << std::get<2>(visits[i]) << "): " << value(i);
        }
    }
}

// Random texts of the grammar SYNTAX in every evaluator: mostly FORMS nested
// into each other ('@' is the text so far), every tenth a run of loose
// PIECES, and the DEEP texts first.
void same_everywhere(int syntax, const std::vector<const char *> &pieces, const std::vector<const char *> &forms,
                     const std::vector<const char *> &deep) {
    // NaNs of both signs and with a payload: every evaluator gives the same bits, NaNs included.
    const float values[] = {0.0f, -0.0f, 1.0f, -2.5f, 3.0f, INFINITY, -INFINITY, NAN, -NAN, std::nanf("0x123"), 0.1f};
    uint32_t state = 20261206;
    auto next = [&state](size_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % static_cast<uint32_t>(n);
    };
    const size_t rows = lp::kNativeAfterRuns + 6;
    for (size_t round = 0; round < 300; ++round) {
        const bool loose = round % 10 == 5;
        std::string text = round < deep.size() ? deep[round] : loose ? "" : pieces[next(4)];
        for (uint32_t n = loose ? 1 + next(24) : 0; n > 0; --n) text += pieces[next(pieces.size())];
        for (uint32_t n = round < deep.size() || loose ? 0 : next(16); n > 0; --n) {
            std::string form = forms[next(forms.size())];
            text = form.replace(form.find('@'), 1, text);
        }
        // TWICE runs the first row a second time: a program's first run
        // goes by its steps, the next ones by its tape.
        ParserPtr native(parser_new()), interpreted(parser_new()), bulk(parser_new()), twice(parser_new());
        int ticks[4] = {0, 0, 0, 0};
        Parser *all[] = {native.get(), interpreted.get(), bulk.get(), twice.get()};
        for (int k = 0; k < 4; ++k) {
            parser_native_func(all[k], "sum", -1, sum_all, nullptr, PARSER_NATIVE_PURE);
            parser_math(all[k]); // the conditional: a branch not taken calls nothing
            parser_native_func(all[k], "tick", 1, tick, &ticks[k], 0);
            // A host function that changes y: each evaluator reads y where it stands in the steps.
            parser_native_func(all[k], "bump", 1, bump, parser_var_ref(all[k], "y"), 0);
            if (parser_syntax(all[k], syntax) != syntax) {
                // Parameters used twice, not at all, and in a branch; a call inside a body.
                parser_func(all[k], "f(a, b)", "a*b - a");
                parser_func(all[k], "g(a, b)", "a > 0 ? f(a, a) : -b");
                parser_func(all[k], "h(u)", "tick(1)");
            }
        }
        parser_limit(interpreted.get(), PARSER_LIMIT_NATIVE_CODE, 0);
        float *nx = parser_var_ref(native.get(), "x"), *ny = parser_var_ref(native.get(), "y");
        float *ix = parser_var_ref(interpreted.get(), "x"), *iy = parser_var_ref(interpreted.get(), "y");
        std::vector<float> xs(rows), ys(rows), want(rows), out(rows);
        std::vector<Visit> first_records;
        for (size_t row = 0; row < rows; ++row) {
            *nx = *ix = xs[row] = values[next(11)];
            *ny = *iy = ys[row] = values[next(11)];
            want[row] = parser_calc(interpreted.get(), text.c_str());
            const float got = row % 2 == 0 ? parser_calc(native.get(), text.c_str()) : parser_eval(native.get());
            ASSERT_EQ(bits(got), bits(want[row])) << "'" << text << "' row " << row << ": " << got << " vs " << want[row];
            ASSERT_EQ(walk(native.get()), walk(interpreted.get())) << "'" << text << "' row " << row;
            if (row == 0) first_records = walk(interpreted.get());
        }
        float *tx = parser_var_ref(twice.get(), "x"), *ty = parser_var_ref(twice.get(), "y");
        for (int run = 0; run < 2; ++run) { // bump() changes y: the second run starts from the same values
            *tx = xs[0];
            *ty = ys[0];
            const float got = parser_calc(twice.get(), text.c_str());
            ASSERT_EQ(bits(got), bits(want[0])) << "'" << text << "' run " << run;
        }
        ASSERT_EQ(walk(twice.get()), first_records) << "'" << text << "' by the tape";
        if (twice->program != nullptr) {
            EXPECT_NE(twice->program->tape_count, 0u) << "'" << text << "'";
        }
        expect_records_own(interpreted.get(), text);
#if LIB_PARSE_TEST_JIT
        const lp::Program *program = native->program;
        EXPECT_EQ(program->native != nullptr, program->op_count > 0) << "'" << text << "' compiled";
#endif
        EXPECT_EQ(interpreted->program->native, nullptr) << "'" << text << "' with native code off";
        // Enough rows for bulk to run vector machine code, with a tail of
        // rows fewer than a vector, and the same row last.
        const size_t many = 60 * rows;
        std::vector<float> bx(many), by(many);
        out.resize(many);
        for (size_t row = 0; row < many; ++row) bx[row] = xs[row % rows], by[row] = ys[row % rows];
        const char *names[] = {"x", "y"};
        const float *columns[] = {bx.data(), by.data()};
        const bool avx2 = lp::native_bulk_avx2;
        // SSE2, AVX2 where the CPU has it, then blocks of rows in the interpreter.
        for (const int way : {0, avx2 ? 1 : 0, 2}) {
            lp::native_bulk_avx2 = way == 1;
            if (way == 2) parser_limit(bulk.get(), PARSER_LIMIT_NATIVE_CODE, 0);
            std::fill(out.begin(), out.end(), 12345.0f); // no row is left from the way before
            ASSERT_EQ(parser_calc_bulk(bulk.get(), text.c_str(), names, columns, 2, many, out.data()), 0);
            for (size_t row = 0; row < many; ++row)
                ASSERT_EQ(bits(out[row]), bits(want[row % rows])) << "'" << text << "' bulk row " << row << " way " << way;
        }
        lp::native_bulk_avx2 = avx2;
        ASSERT_EQ(walk(bulk.get()), walk(native.get())) << "'" << text << "' after bulk";
        EXPECT_TRUE(ticks[0] == ticks[1] && ticks[2] * rows == ticks[1] * many * 3) << "'" << text << "' calls per row";
        // New variables bind the names again: the code is dropped, and the
        // value then read through the new binding ("x" reads the newer "xa").
        parser_var(native.get(), "xa", 5.0f);
        parser_var(interpreted.get(), "xa", 5.0f);
        ASSERT_EQ(bits(parser_eval(native.get())), bits(parser_eval(interpreted.get()))) << "'" << text << "' rebound";
        EXPECT_EQ(native->program->native, nullptr) << "'" << text << "' rebound";
    }
}

TEST(Native, SameBitsAndRecordsAsInterpreterAndBulk) {
    // Values deeper than the registers hold live in stack slots, also across
    // calls; a host function's arguments are read from there. Without calls,
    // vector code keeps constants in the registers the stack leaves free.
    same_everywhere(PARSER_SYNTAX_DEFINED,
                    {"x", "y", "2.5", "0", "+", "-", "*", "/", "%", "^", "(", ")", "(", "cos(", "exp(", "logn(", "atan(",
                     "log2(", "1e39", "-1", "x-(y-(x+", "sum(", ",", "tick("},
                    {"(@)+x", "y-(@)", "@*2.5", "(@)/y", "x*(y-(x+@))", "cos(@)", "exp(@)", "logn(@)", "atan(@)",
                     "log2(@)", "(@)^y", "(@)%3", "sum(@,y,x)", "tick(@)", "y*(y+bump(@))", "if(@,x,tick(y))",
                     "if(x-1,@,y*2)", "if(y,if(x,y,@),tick(@))", "1e39-(@)", "0/(@)", "-1*(@)", "lt(@,y)",
                     "if(ge(x,@),y,x)", "ne(@,x)", "pow(@,y)", "hypot(x,@)", "cbrt(@)", "atan2(@,y)"},
                    {"x-(y*sum(x+(y-(x/(y+(x-(y*(x+(y-(x/tick(y+(x-(y*(x+(y-(cos(x)^y%sum(x,y,3))))))))))))))),y,2))",
                     "x-(y*(x+(y-(x/(2.5+(x-(y*(x+(y-(x/(y+(x-(0.5*(x+(y-(x/(y+(x-(y*1.5)))))))))))))))))))",
                     "x-(y*(x+(y-(x/(2.5+(x-(y*(x+(y-(x/(y+(x-(0.5*(x+(y-(x/(y+(x-if(x-1,y*1.5,x/y))))))))))))))))))",
                     // Pure calls of constants, folded: each argument's record is its own.
                     "x+hypot(3,4)*atan2(1,2)-sum(1,2.5,0,7)",
                     // A conditional of plain arithmetic, chosen without a jump, with
                     // eleven values below it: its branches reach the last registers.
                     "x+(y+(x+(y+(x+(y+(x+(y+(x+(y+(x+if(x-1,y*1.5,x/y)))))))))))"});
}

// The standard grammar's operations: negation, not, comparisons, && || ?:
// and user functions, whose parameters read arguments deep in the stack.
TEST(Native, StandardGrammarSameBitsAndRecordsEverywhere) {
    same_everywhere(PARSER_SYNTAX_STANDARD,
                    {"x", "y", "2.5", "0", "+", "-", "*", "/", "%", "^", "(", ")", "<", "==", "&&", "||", "!", "?", ":",
                     ",", "f(", "g(", "tick(", "1e39"},
                    {"(@)+x", "y-(@)", "-(@)", "!(@)", "(@) < y", "x >= (@)", "(@) == x", "(@) != 0", "(@) && tick(y)",
                     "(@) || x", "x && (@)", "(@) ? x : tick(y)", "y > 0 ? (@) : -x", "cos(@)", "(@)^y", "y^-(@)",
                     "(@)%3", "sum(@, y, x)", "y*(y+bump(@))", "if(@, x, tick(y))", "f(@, y)", "g(y, @)", "g(@, x)",
                     "h(@)", "0/(@)", "lt(@, y)", "eq(x, @)", "pow(y, @)", "tanh(@)"},
                    {"x-(y*f(x+(y-(x/(y+(x-(y*(x+(y-(x/(y > 0 ? tick(y+(x-(y*(x+(y-(cos(x)^y%f(x,y)))))))) : -x)))))))))),y))",
                     "g(x, y) - (y * (x + (y - (x / (2.5 + (x - (y * (x + (y - (x / (y + (x - (0.5 * (x + (y - "
                     "(x / (y + (x - g(y, x < y || !x)))))))))))))))))))",
                     "x + hypot(3, 4) * atan2(1, 2) - sum(1, 2.5, 0, 7)"});
}

#if LIB_PARSE_TEST_JIT
// Whether each of COUNT new texts, each evaluated past the tier, got machine code.
std::vector<bool> compiled(Parser *p, int count) {
    std::vector<bool> out;
    for (int k = 0; k < count; ++k) {
        const std::string text = "x+" + std::to_string(k);
        for (uint32_t run = 0; run < lp::kNativeAfterRuns + 1; ++run) parser_calc(p, text.c_str());
        out.push_back(p->program->native != nullptr);
    }
    return out;
}

// Bulk rows keep their vector code per column layout: called again, the
// same code runs; another layout makes another; a new variable binds anew.
TEST(Native, BulkCodeKeptPerLayout) {
    ParserPtr p(parser_new());
    std::vector<float> xs(5000, 2.0f), ys(5000, 3.0f), out(5000);
    const char *names[] = {"x", "y"}, *swapped[] = {"y", "x"};
    const float *columns[] = {xs.data(), ys.data()};
    const auto kernels = [&] { return p->program->kernel_count; };
    ASSERT_EQ(parser_calc_bulk(p.get(), "x*10+y", names, columns, 2, xs.size(), out.data()), 0);
    const lp::BulkFn first = p->program->kernels[0].code;
    ASSERT_EQ(parser_calc_bulk(p.get(), "x*10+y", names, columns, 2, xs.size(), out.data()), 0);
    EXPECT_TRUE(kernels() == 1 && p->program->kernels[0].code == first && out[4000] == 23.0f);
    ASSERT_EQ(parser_calc_bulk(p.get(), "x*10+y", swapped, columns, 2, xs.size(), out.data()), 0);
    EXPECT_TRUE(kernels() == 2 && out[4000] == 32.0f);
    parser_var(p.get(), "z", 1.0f);
    parser_eval(p.get());
    EXPECT_EQ(kernels(), 0u);
}

// A failed allocation of code skips a few compiles, then machine code is
// tried again; a refusal of executable memory lasts for the process (so it
// is tried in a child process).
TEST(Native, FailedAllocationIsRetriedRefusalIsFinal) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 1.0f);
    lp::jit_fail_next_add(asmjit::kErrorOutOfMemory);
    EXPECT_EQ(compiled(p.get(), 5), (std::vector<bool>{false, false, false, true, true}));
    const pid_t pid = fork();
    if (pid == 0) {
        lp::jit_fail_next_add(asmjit::kErrorInvalidState);
        const std::vector<bool> got = compiled(p.get(), 40);
        // Machine code can no longer be allowed: the limit reads 0.
        _exit(got == std::vector<bool>(40, false) && parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, 1) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a refusal was not final";
}
#endif

#if defined(__SSE2__)
// The calling thread's floating-point environment is the one every evaluator
// computes in: with flush-to-zero and denormals-are-zero set, subnormal
// operands and results of + - * / are 0 of their sign, and the interpreter,
// machine code and bulk rows, on one thread or several, still agree bit for
// bit; the environment is the caller's again after every call.
TEST(Native, TheCallersFloatEnvironmentHoldsInEveryEvaluator) {
    const float tiny = 1e-39f; // subnormal
    std::vector<float> xs(300000), want(xs.size()), out(xs.size());
    for (size_t i = 0; i < xs.size(); ++i) xs[i] = i % 3 == 0 ? tiny : i % 3 == 1 ? -tiny * 3.0f : 1e-30f;
    const char *text = "x*0.5+x*x+sin(x)"; // subnormal operands, products and a routine's result
    const unsigned saved = _mm_getcsr();
    for (const unsigned modes : {0u, 0x8040u}) { // none; FTZ (bit 15) and DAZ (bit 6)
        _mm_setcsr((saved & ~0x8040u) | modes);
        ParserPtr interpreted(parser_new()), native(parser_new()), bulk(parser_new());
        parser_limit(interpreted.get(), PARSER_LIMIT_NATIVE_CODE, 0);
        float *ix = parser_var_ref(interpreted.get(), "x"), *nx = parser_var_ref(native.get(), "x");
        for (size_t i = 0; i < 3; ++i) {
            *ix = xs[i];
            want[i] = parser_calc(interpreted.get(), text);
            *nx = xs[i];
            for (uint32_t run = 0; run <= lp::kNativeAfterRuns; ++run) ASSERT_EQ(bits(parser_calc(native.get(), text)), bits(want[i]));
            EXPECT_EQ(_mm_getcsr() & ~0x3Fu, ((saved & ~0x8040u) | modes) & ~0x3Fu); // the control bits; the flags are sticky
        }
        if (modes != 0) EXPECT_EQ(bits(want[0]), bits(0.0f)) << "a subnormal operand counts as 0";
        else EXPECT_EQ(bits(want[0]), bits(tiny * 0.5f + tiny));
        const char *names[] = {"x"};
        const float *columns[] = {xs.data()};
        for (const long long threads : {1LL, 2LL})
            for (const long long code : {1LL, 0LL}) {
                parser_limit(bulk.get(), PARSER_LIMIT_THREADS, threads);
                parser_limit(bulk.get(), PARSER_LIMIT_NATIVE_CODE, code);
                ASSERT_EQ(parser_calc_bulk(bulk.get(), text, names, columns, 1, xs.size(), out.data()), 0);
                for (size_t i = 0; i < xs.size(); ++i)
                    ASSERT_EQ(bits(out[i]), bits(want[i % 3])) << "row " << i << ", threads " << threads << ", code " << code;
                EXPECT_EQ(_mm_getcsr() & ~0x3Fu, ((saved & ~0x8040u) | modes) & ~0x3Fu); // the control bits; the flags are sticky
            }
    }
    _mm_setcsr(saved);
}
#endif

} // namespace
