// test_bounds.cpp - each bound on substitution holds exactly at its edge, and big inputs stay within memory.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "diagnostics.h"
#include "parse_limits.h"
#include "robust_support.h"

// Sanitizers keep freed memory and shadow every byte: resident memory means
// nothing under them, and the cases that spend the time budgets take long.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

namespace {

using robust::bits;
using robust::ParserPtr;

using Functions = std::vector<std::pair<std::string, std::string>>;

ParserPtr handle_with(const Functions &functions) {
    ParserPtr p(parser_new());
    for (const auto &f : functions) parser_func(p.get(), f.first.c_str(), f.second.c_str());
    return p;
}

std::string repeat(const std::string &piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

// CALL nested N deep around INNER: f(f(...f(INNER)...)).
std::string nested(const std::string &call, size_t n, const std::string &inner) {
    return repeat(call + "(", n) + inner + std::string(n, ')');
}

// Each bound, just inside and just past its edge. Past it, the refused call
// stays an operand (a name without a variable: 0) and code 5 is reported.
TEST(Bounds, EachBoundAtItsEdge) {
    const size_t depth = lp::kMaxSubstitutionDepth, growth = lp::kMaxSubstitutionGrowth;
    const size_t count = static_cast<size_t>(lp::kMaxSubstitutions);
    // Bodies of digits are one operand however long: the number 1 written
    // with leading zeros. "k()" with a body of growth + 3 bytes grows by growth.
    const auto one_of_length = [](size_t n) { return std::string(n - 1, '0') + "1"; };
    // An argument of half a MiB passed down through N calls of f(x) = x makes
    // each level write the argument once more, with no growth at all.
    const std::string half_mib_one = one_of_length((size_t{1} << 19) + 1);
    const size_t work_levels = lp::kMaxSubstitutedBytes / half_mib_one.size();
    // Each parameter pass of k doubles the text: 30 passes would write 2^30 bytes.
    const std::string doubling_k = "k(a" + repeat(",a", 29) + ")", doubling_call = "k(a+a" + repeat(",a+a", 29) + ")";

    struct Case {
        const char *name;
        Functions functions;
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
        {"work: inside the bound", {{"f(x)", "x"}}, nested("f", work_levels - 30, half_mib_one), 1.0f, 0, true},
        {"work: past the bound", {{"f(x)", "x"}}, nested("f", work_levels + 10, half_mib_one), 0.0f, 1, true},
        {"work: parameter passes alone", {{doubling_k, "a"}}, doubling_call, 0.0f, 1, true},
    };
    // Quietly, and with every diagnostic emitted: the two take different
    // expansion paths, which share the budget but track depth each their own
    // way. Formatting every message makes the slow cases slower still.
    exception_set_handler([](void *, const char *, int, int) {}, nullptr);
    dbg_set_sink([](void *, int, const char *) {}, nullptr);
    for (const int level : {0, 8}) {
        dbg_set_level(level);
        for (const Case &c : cases) {
            if (c.slow && (kSanitized || level > 0)) continue;
            ParserPtr p = handle_with(c.functions);
            const float value = parser_calc(p.get(), c.text.c_str());
            int code = -1;
            EXPECT_EQ(bits(value), bits(c.value)) << c.name << " at level " << level << ": value " << value;
            EXPECT_EQ(parser_errors(p.get(), &code), c.errors) << c.name << " at level " << level;
            EXPECT_TRUE(c.errors == 0 || code == PARSER_ERR_SUBSTITUTION_LIMIT) << c.name << ": code " << code;
        }
    }
    dbg_set_level(0);
    dbg_set_sink(nullptr, nullptr);
    exception_set_handler(nullptr, nullptr);
}

// A 1 MiB text never makes the process hold more than a few hundred MiB, with
// or without functions that multiply it. Each case runs alone in a child
// process, whose peak resident memory wait4 reports.
TEST(Bounds, OneMebibyteInputsStayWithinMemory) {
    if (kSanitized) GTEST_SKIP() << "resident memory is not meaningful under a sanitizer";
    const size_t mib = size_t{1} << 20;
    const std::string wide_body = repeat("x-", 2048) + "x"; // 4 KiB, 2049 uses of x
    const struct {
        const char *name;
        Functions functions;
        std::string text;
    } cases[] = {
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
    for (const auto &c : cases) {
        const pid_t pid = fork();
        if (pid == 0) {
            parser_calc(handle_with(c.functions).get(), c.text.c_str());
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name << ": the child failed, status " << status;
        EXPECT_LT(usage.ru_maxrss / 1024, 512) << c.name << ": peak resident MiB";
    }
}

} // namespace
