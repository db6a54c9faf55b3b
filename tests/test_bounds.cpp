// test_bounds.cpp - each bound on substitution holds exactly at its edge, and big inputs stay within memory.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "parse_limits.h"
#include "robust_support.h"

// Sanitizers keep freed memory and shadow every byte: resident memory means
// nothing under them, and the cases that spend the time budgets take long.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define LIB_PARSE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define LIB_PARSE_SANITIZED 1
#endif
#endif

#ifdef LIB_PARSE_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

namespace {

using robust::bits;
using robust::ParserPtr;

struct Result {
    float value;
    int errors;
    int first_code;
};

Result calc_with(const std::vector<std::pair<std::string, std::string>> &functions, const std::string &text) {
    ParserPtr p(parser_new());
    for (const auto &f : functions) parser_func(p.get(), f.first.c_str(), f.second.c_str());
    Result r{parser_calc(p.get(), text.c_str()), 0, -1};
    r.errors = parser_errors(p.get(), &r.first_code);
    return r;
}

std::string repeat(const std::string &piece, size_t times) {
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// CALL nested N deep around INNER: f(f(...f(INNER)...)).
std::string nested(const std::string &call, size_t n, const std::string &inner) {
    return repeat(call + "(", n) + inner + std::string(n, ')');
}

void ignore_error(void *, const char *, int, int) {}

void drop_piece(void *, int, const char *) {}

class Bounds : public ::testing::Test {
protected:
    void SetUp() override {
        exception_set_handler(ignore_error, nullptr);
        dbg_set_sink(drop_piece, nullptr);
    }
    void TearDown() override {
        dbg_set_level(0);
        dbg_set_sink(nullptr, nullptr);
        exception_set_handler(nullptr, nullptr);
    }
};

// Each bound, just inside and just past its edge. Past it, the refused call
// stays an operand (a name without a variable: 0) and code 5 is reported.
TEST_F(Bounds, EachBoundAtItsEdge) {
    const size_t depth = lp::kMaxSubstitutionDepth;
    const size_t count = static_cast<size_t>(lp::kMaxSubstitutions);
    const size_t growth = lp::kMaxSubstitutionGrowth;
    // Bodies of digits are one operand however long: the number 1 written
    // with leading zeros. "k()" with a body of growth + 3 bytes grows by growth.
    const auto one_of_length = [](size_t n) { return std::string(n - 1, '0') + "1"; };
    // An argument of half a MiB passed down through N calls of f(x) = x makes
    // each level write the argument once more, with no growth at all.
    const std::string half_mib_one = one_of_length((size_t{1} << 19) + 1);
    const size_t work_levels_inside = lp::kMaxSubstitutedBytes / half_mib_one.size() - 30;
    const size_t work_levels_past = lp::kMaxSubstitutedBytes / half_mib_one.size() + 10;

    struct Case {
        const char *name;
        std::vector<std::pair<std::string, std::string>> functions;
        std::string text;
        float value;
        int errors;
        bool slow; // spends a time budget: seconds under a sanitizer
    };
    const Case cases[] = {
        {"depth: 256 nested calls", {{"f(x)", "x+1"}}, nested("f", depth, "0"), static_cast<float>(depth), 0, false},
        {"depth: 257 nested calls", {{"f(x)", "x+1"}}, nested("f", depth + 1, "0"), static_cast<float>(depth), 1,
         false},
        {"depth: self call", {{"f(x)", "1+f(x)"}}, "f(1)", static_cast<float>(depth), 1, false},
        {"growth: exactly the bound", {{"k()", one_of_length(growth + 3)}}, "k()", 1.0f, 0, false},
        {"growth: one byte past", {{"k()", one_of_length(growth + 4)}}, "k()", 0.0f, 1, false},
        {"growth: adds up over calls", {{"k()", one_of_length(growth / 2 + 3)}}, "k()+k()+k()", 2.0f, 1, false},
        {"count: 100000 calls", {{"k()", "1"}}, "k()" + repeat("+k()", count - 1), static_cast<float>(count), 0, true},
        {"count: 100001 calls", {{"k()", "1"}}, "k()" + repeat("+k()", count), static_cast<float>(count), 1, true},
        {"work: inside the bound", {{"f(x)", "x"}}, nested("f", work_levels_inside, half_mib_one), 1.0f, 0, true},
        {"work: past the bound", {{"f(x)", "x"}}, nested("f", work_levels_past, half_mib_one), 0.0f, 1, true},
    };
    // Quietly, and with every diagnostic emitted: the two take different
    // expansion paths, which share the budget but track depth each their own
    // way. Formatting every message makes the slow cases slower still.
    for (const int level : {0, 8}) {
        dbg_set_level(level);
        for (const Case &c : cases) {
            if (c.slow && (kSanitized || level > 0)) continue;
            const Result r = calc_with(c.functions, c.text);
            EXPECT_EQ(bits(r.value), bits(c.value))
                << c.name << " at level " << level << ": value " << r.value << ", expected " << c.value;
            EXPECT_EQ(r.errors, c.errors) << c.name << " at level " << level;
            if (c.errors > 0) {
                EXPECT_EQ(r.first_code, PARSER_ERR_SUBSTITUTION_LIMIT) << c.name;
            }
        }
    }
    dbg_set_level(0);
}

// The same work bound holds for substitution on its own: a pass that would
// write more than the budget is refused.
TEST_F(Bounds, SubstitutionAloneIsBounded) {
    if (kSanitized) GTEST_SKIP() << "writes 64 MiB a byte at a time";
    ParserPtr p(parser_new());
    // Each parameter pass doubles the text: 30 passes would write 2^30 bytes.
    std::string proto = "k(a";
    for (int i = 0; i < 29; ++i) proto += ",a";
    proto += ")";
    parser_func(p.get(), proto.c_str(), "a");
    std::string call = "k(a+a";
    for (int i = 0; i < 29; ++i) call += ",a+a";
    call += ")";
    const auto start = std::chrono::steady_clock::now();
    const float value = parser_calc(p.get(), call.c_str());
    int code = -1;
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_SUBSTITUTION_LIMIT);
    EXPECT_EQ(value, 0.0f);
    // Not a timing test: a generous ceiling that only a runaway would reach.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

#ifndef LIB_PARSE_SANITIZED
// Peak resident memory of WORK run alone in a child process, in MiB; -1 when
// the child failed.
double peak_mib_of(const std::function<void()> &work) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        work();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long kib = usage.ru_maxrss;
        _exit(write(fds[1], &kib, sizeof kib) == sizeof kib ? 0 : 1);
    }
    close(fds[1]);
    long kib = -1;
    const bool got = read(fds[0], &kib, sizeof kib) == sizeof kib;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? static_cast<double>(kib) / 1024.0 : -1.0;
}
#endif

// A 1 MiB text never makes the process hold more than a few hundred MiB, with
// or without functions that multiply it.
TEST_F(Bounds, OneMebibyteInputsStayWithinMemory) {
#ifdef LIB_PARSE_SANITIZED
    GTEST_SKIP() << "resident memory is not meaningful under a sanitizer";
#else
    constexpr double kCeilingMiB = 512.0;
    const size_t mib = size_t{1} << 20;
    struct Case {
        const char *name;
        std::vector<std::pair<std::string, std::string>> functions;
        std::string text;
    };
    const std::string wide_body = repeat("x-", 2048) + "x"; // 4 KiB, 2049 uses of x
    const Case cases[] = {
        {"flat sum", {}, repeat("1+", mib / 2 - 1) + "1"},
        {"run of minus signs", {}, std::string(mib - 1, '-') + "1"},
        {"power chain", {}, repeat("2^", mib / 2 - 1) + "1"},
        {"mixed operators and names", {}, repeat("x*2-y/3+", mib / 8 - 1) + "1"},
        {"brackets nested 512 Ki deep", {}, std::string(mib / 2 - 1, '(') + "1" + std::string(mib / 2 - 1, ')')},
        {"calls of a 4 KiB body", {{"f(x)", wide_body}}, repeat("f(1)+", mib / 5 - 1) + "f(1)"},
        {"nested calls of a 4 KiB body", {{"f(x)", wide_body}}, nested("f", 3, "1") + repeat("+1", mib / 2 - 8)},
        {"x+x nested 40 deep", {{"f(x)", "x+x"}}, nested("f", 40, "1") + repeat("+1", mib / 2 - 64)},
        {"self call on every operand", {{"r(n)", "1+r(n)"}}, repeat("r(1)+", mib / 5 - 1) + "r(1)"},
    };
    for (const Case &c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const double peak = peak_mib_of([&] { calc_with(c.functions, c.text); });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%-32s %8zu bytes  peak %7.1f MiB  %6.2f s\n", c.name, c.text.size(), peak, seconds);
        EXPECT_GT(peak, 0.0) << c.name << ": the child failed";
        EXPECT_LT(peak, kCeilingMiB) << c.name;
    }
#endif
}

} // namespace
