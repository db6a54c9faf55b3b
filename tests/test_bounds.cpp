// test_bounds.cpp - each limit of a handle holds exactly at its edge, and big inputs stay within memory.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "containers/memory.h"
#include "lib_parse/diagnostics.h"
#include "robust_support.h"

// Sanitizers keep freed memory and shadow every byte: resident memory means
// nothing under them, and a 2 GiB text costs too much.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

namespace {

using robust::ParserPtr;
using Functions = std::vector<std::pair<std::string, std::string>>;

// Every code exception() reports, in order; the tests clear it.
std::vector<int> reported;
const bool kRecording =
    (exception_set_handler([](void *, const char *, int, int code) { reported.push_back(code); }, nullptr), true);

ParserPtr handle_with(const Functions &functions, int which = 0, long long limit = -1) {
    ParserPtr p(parser_new());
    for (const auto &f : functions) parser_func(p.get(), f.first.c_str(), f.second.c_str());
    parser_limit(p.get(), which, limit);
    return p;
}

std::string repeat(const std::string &piece, size_t times) {
    std::string out;
    while (times-- > 0) out += piece;
    return out;
}

// The documented defaults (the text limit's may change); setting returns the
// previous value, a negative value only reads, one above the maximum sets it.
// No text may be longer than 2^31 - 1 bytes: 2^31 + 2 are refused, not cut to 32 bits.
TEST(Bounds, TextBeyondThirtyTwoBitsIsRefused) {
    if (kSanitized) GTEST_SKIP() << "a 2 GiB text costs too much under a sanitizer";
    std::string text((size_t{1} << 31) + 2, '0');
    text.replace(text.size() - 2, 2, "()");
    ParserPtr p = handle_with({}, PARSER_LIMIT_TEXT_BYTES, LLONG_MAX);
    reported.clear();
    EXPECT_EQ(parser_calc(p.get(), text.c_str()), 0.0f);
    EXPECT_EQ(reported, std::vector<int>{PARSER_ERR_TEXT_TOO_LONG});
}

// Each substitution limit, lowered, just inside and just past its edge. Past
// it, the refused call stays an operand (a name without a variable: 0) and
// code 5 is reported.
TEST(Bounds, EachSubstitutionLimitAtItsEdge) {
    // Bodies of digits are one operand however long: the number 1 written
    // with leading zeros. "k()" with a body of n + 3 bytes grows by n.
    const auto one_of_length = [](size_t n) { return std::string(n - 1, '0') + "1"; };
    // k(a,b) = a called with ten b's writes 39 bytes: the body, the first
    // pass (19 bytes of b's), the second (each b replaced by 1).
    const Functions passes = {{"k(a,b)", "a"}};
    const std::string ten = "k(b" + repeat("+b", 9) + ",1)";
    const int depth = PARSER_LIMIT_SUBST_DEPTH, count = PARSER_LIMIT_SUBST_COUNT, written = PARSER_LIMIT_SUBST_BYTES,
              growth = PARSER_LIMIT_TREE_GROWTH;
    const std::vector<int> none, limit = {PARSER_ERR_SUBSTITUTION_LIMIT}, unknown = {PARSER_ERR_UNKNOWN_FUNCTION};
    const struct {
        const char *name;
        int which;
        long long limit;
        Functions functions;
        std::string text;
        float value;
        std::vector<int> codes;
    } cases[] = {
        {"depth: 4 nested calls", depth, 4, {{"f(x)", "x+1"}}, "f(f(f(f(0))))", 4, none},
        {"depth: 5 nested calls", depth, 4, {{"f(x)", "x+1"}}, "f(f(f(f(f(0)))))", 4, limit},
        {"depth: an undefined call at the limit", depth, 0, {{"f(x)", "x"}}, "g(1)", 0, unknown},
        {"count: 10 calls", count, 10, {{"k()", "1"}}, "k()" + repeat("+k()", 9), 10, none},
        {"count: 11 calls", count, 10, {{"k()", "1"}}, "k()" + repeat("+k()", 10), 10, limit},
        {"count: an undefined call past the limit", count, 1, {{"k()", "1"}}, "k()+g(1)", 1, unknown},
        {"written: every pass counts", written, 39, passes, ten, 10, none},
        {"written: one byte short", written, 38, passes, ten, 0, limit},
        {"written: adds up over calls", written, 77, passes, ten + "+" + ten, 10, limit},
        {"growth: exactly the limit", growth, 100, {{"k()", one_of_length(103)}}, "k()", 1, none},
        {"growth: one byte past", growth, 100, {{"k()", one_of_length(104)}}, "k()", 0, limit},
        {"growth: adds up over calls", growth, 100, {{"k()", one_of_length(53)}}, "k()+k()+k()", 2, limit},
    };
    for (const auto &c : cases) {
        reported.clear();
        ParserPtr p = handle_with(c.functions, c.which, c.limit);
        EXPECT_EQ(parser_calc(p.get(), c.text.c_str()), c.value) << c.name;
        EXPECT_EQ(parser_errors(p.get(), nullptr), static_cast<int>(c.codes.size())) << c.name;
        EXPECT_EQ(reported, c.codes) << c.name;
    }
}

// Each entry point given a text on a handle that accepts 16 bytes; the value it gives.
float (*const kEntryPoints[])(Parser *, const char *) = {
    [](Parser *p, const char *text) { return parser_calc(p, text); },
    [](Parser *p, const char *text) { return parser_expand(p, text), parser_eval(p); },
    [](Parser *p, const char *text) {
        float out[3] = {-1, -1, -1};
        parser_calc_bulk(p, text, nullptr, nullptr, 0, 3, out);
        return out[0] == out[1] && out[1] == out[2] ? out[0] : -1.0f;
    },
    [](Parser *p, const char *text) { // accepted, then a definition and the limit lowered: parser_eval rebuilds
        parser_limit(p, PARSER_LIMIT_TEXT_BYTES, 17); // it may read 18 bytes: given a terminated copy
        parser_calc(p, std::string(text, strnlen(text, 17)).c_str());
        parser_func(p, "f(x)", "x");
        parser_limit(p, PARSER_LIMIT_TEXT_BYTES, 16);
        return parser_eval(p);
    },
    [](Parser *p, const char *text) { // accepted, then the limit lowered: the same text is checked again
        parser_limit(p, PARSER_LIMIT_TEXT_BYTES, 17);
        parser_calc(p, std::string(text, strnlen(text, 17)).c_str());
        parser_limit(p, PARSER_LIMIT_TEXT_BYTES, 16);
        return parser_calc(p, text);
    },
};

// A text one byte longer than the limit is refused by every entry point, and
// reading it stops one byte past the limit: the text given ends where a page
// that cannot be read begins, the longer one without a terminator. The
// handle then works as usual, its cache not left naming an older text.
TEST(Bounds, TextLimitAtItsEdge) {
    const std::string fits = "1+2+3+4+5+6+7+89", past = fits + "0"; // 16 bytes worth 117, and 17
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto *pages = static_cast<char *>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_TRUE(pages != MAP_FAILED && mprotect(pages + page, page, PROT_NONE) == 0);
    for (size_t way = 0; way < std::size(kEntryPoints); ++way) {
        for (const bool refused : {false, true}) {
            const char *text = static_cast<char *>(std::memcpy(pages + page - 17, (refused ? past : fits).c_str(), 17));
            ParserPtr p = handle_with({}, PARSER_LIMIT_TEXT_BYTES, 16);
            parser_calc(p.get(), "2*3"); // cached before, and calculated again after
            reported.clear();
            int code = -1;
            EXPECT_EQ(kEntryPoints[way](p.get(), text), refused ? 0.0f : 117.0f) << "entry point " << way;
            EXPECT_EQ(parser_errors(p.get(), &code), refused ? 1 : 0) << "entry point " << way;
            EXPECT_EQ(code, refused ? PARSER_ERR_TEXT_TOO_LONG : -1) << "entry point " << way;
            // parser_calc_bulk refuses its text at the first row and again at the last.
            const size_t reports = refused ? (reported.empty() ? 1 : reported.size()) : 0;
            EXPECT_EQ(reported, std::vector<int>(reports, PARSER_ERR_TEXT_TOO_LONG)) << "entry point " << way;
            EXPECT_EQ(parser_calc(p.get(), "2*3"), 6.0f);
            EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
        }
    }
    munmap(pages, 2 * page);
}

// A text within the default limits never makes the process hold more than
// the 40 MiB parse_limits.h states, whatever its shape; a 1 MiB text, with
// the text limit raised, no more than 192 MiB (the trees come from arenas;
// with a record allocated per node a flat sum alone took 130 MiB). Each case
// runs alone in a child process, whose peak resident memory wait4 reports.
TEST(Bounds, LargeInputsStayWithinMemory) {
    if (kSanitized) GTEST_SKIP() << "resident memory is not meaningful under a sanitizer";
    const size_t mib = size_t{1} << 20, kib256 = mib / 4;
    const std::string wide_body = repeat("x-", 2048) + "x"; // 4 KiB, 2049 uses of x
    const struct {
        const char *name;
        Functions functions;
        std::string text;
        size_t text_limit;
        long max_mib;
    } cases[] = {
        {"nested calls at the defaults", {{"f(x)", "x"}}, repeat("f(", kib256 / 3) + "1" + repeat(")", kib256 / 3), kib256, 40},
        {"a long argument at the defaults", {{"f(x)", repeat("x*", 2000) + "x"}}, "f(" + repeat("y+", 30000) + "y)", kib256, 40},
        {"flat product at the defaults", {}, repeat("x*", kib256 / 2 - 1) + "x", kib256, 40},
        {"flat sum", {}, repeat("1+", mib / 2 - 1) + "1", mib, 192},
        {"mixed operators and names", {}, repeat("x*2-y/3+", mib / 8 - 1) + "1", mib, 192},
        {"brackets nested 512 Ki deep", {}, std::string(mib / 2 - 1, '(') + "1" + std::string(mib / 2 - 1, ')'), mib, 192},
        {"calls of a 4 KiB body", {{"f(x)", wide_body}}, repeat("f(1)+", mib / 5 - 1) + "f(1)", mib, 192},
        {"x+x nested 40 deep", {{"f(x)", "x+x"}}, repeat("f(", 40) + "1" + repeat(")", 40) + repeat("+1", mib / 2 - 64), mib, 192},
        {"self call on every operand", {{"r(n)", "1+r(n)"}}, repeat("r(1)+", mib / 5 - 1) + "r(1)", mib, 192},
    };
    for (const auto &c : cases) {
        ASSERT_LE(c.text.size(), c.text_limit) << c.name;
        const pid_t pid = fork();
        if (pid == 0) {
            parser_calc(handle_with(c.functions, PARSER_LIMIT_TEXT_BYTES, static_cast<long long>(c.text_limit)).get(),
                        c.text.c_str());
            _exit(0);
        }
        int status = 0;
        rusage usage{};
        ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name << ": the child failed, status " << status;
        // Under an emulator the peak is the emulator's, its own memory included.
        if (!LIB_PARSE_TEST_EMULATED) {
            EXPECT_LT(usage.ru_maxrss / 1024, c.max_mib) << c.name << ": peak resident MiB";
        }
    }
}

// Once a handle has read texts of a few hundred bytes, in either grammar,
// reading such texts again allocates nothing: each is parsed, substituted
// and evaluated in the memory the handle kept (machine code, which
// allocates when it is made, is off). The child aborts at the first
// allocation.
TEST(Bounds, ShortTextsAllocateNothingOnceWarm) {
    const std::string texts[] = {
        "2*(x+1)-cos(y)", "x+y", "(x+1)*(y-2)/(x*y+3)", "sin(x)*cos(y)+atan(x/y)", "exp(x/10)-log10(y+2)",
        "f(x)+g(y, f(x))*3", "if(x-1, hypot(x, y), max(1, x, y))", "zz(1)+(x", repeat("(x+y)*0.5-", 25) + "y",
    };
    const std::string standard[] = {
        "2*(x+1) - cos(y)", "x < y ? x*2 : -y^2", "u(x, y) + u(y, x)*3", "!(x >= 1 && y != 0) || zz", "(x + y))",
    };
    const pid_t pid = fork();
    if (pid == 0) {
        ParserPtr p = robust::standard_handle(), s(parser_new());
        parser_math(p.get());
        parser_func(p.get(), "g(a,b)", "a-b*f(a)+a/b");
        parser_syntax(s.get(), PARSER_SYNTAX_STANDARD);
        parser_var(s.get(), "x", 1.5f);
        parser_var(s.get(), "y", -2.0f);
        parser_func(s.get(), "u(a, b)", "a > b ? a - b : b*b");
        for (Parser *handle : {p.get(), s.get()}) parser_limit(handle, PARSER_LIMIT_NATIVE_CODE, 0);
        for (int round = 0; round < 2; ++round) {
            if (round == 1) lp_memory_fail_after(1);
            for (const std::string &text : texts) parser_calc(p.get(), text.c_str());
            for (const std::string &text : standard) parser_calc(s.get(), text.c_str());
        }
        lp_memory_fail_after(0);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a text allocated: status " << status;
}

// What a long text needed is let go once a short one replaces it: the
// handle then holds at most 64 KiB more than one that only read the short
// text (the arena block it keeps, and capped working arrays).
TEST(Bounds, LongTextsLeaveLittleBehind) {
    if (kSanitized) GTEST_SKIP() << "the heap is the sanitizer's";
    const auto heap = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const std::string texts[] = {repeat("(x+y)*", 40000) + "1", repeat("f(x)+", 20000) + "1", repeat("x*", 60000) + "x",
                                 std::string(100000, '(') + "1" + std::string(100000, ')')};
    for (const std::string &text : texts) {
        const size_t before = heap();
        ParserPtr p = robust::standard_handle();
        parser_calc(p.get(), "x+y");
        const size_t fresh = heap() - before;
        parser_calc(p.get(), text.c_str()); // f(x)+...: substitutions beyond the limit are reported
        std::vector<int>().swap(reported);
        parser_calc(p.get(), "x+y");
        EXPECT_LE(heap() - before, fresh + (64 << 10)) << text.substr(0, 12);
    }
}

// A million variables, a name for each cell of a large sheet, short names
// and long: each is defined, found again at the address it was first given
// and read by texts, and the handle's heap grows by at most 256 bytes for
// each (the records, their names and both indexes: about 205 here).
TEST(Bounds, AMillionVariables) {
    constexpr size_t kCount = 1000000;
    const auto name = [](size_t i) {
        char text[32];
        std::snprintf(text, sizeof text, i % 2 == 0 ? "v%zu" : "sheet1!R%zuC7", i);
        return std::string(text);
    };
    const auto heap = [] { return mallinfo2().uordblks + mallinfo2().hblkhd; };
    const size_t before = heap();
    ParserPtr p(parser_new());
    for (size_t i = 0; i < kCount; ++i) parser_var(p.get(), name(i).c_str(), static_cast<float>(i));
    if (!kSanitized) {
        EXPECT_LT((heap() - before) / kCount, 256u);
    }
    std::vector<float *> at(kCount);
    size_t wrong = 0;
    for (size_t i = 0; i < kCount; ++i) {
        at[i] = parser_var_ref(p.get(), name(i).c_str());
        wrong += *at[i] != static_cast<float>(i);
    }
    for (size_t i = 0; i < kCount; ++i) parser_var(p.get(), name(i).c_str(), -static_cast<float>(i));
    for (size_t i = 0; i < kCount; ++i) wrong += *at[i] != -static_cast<float>(i);
    EXPECT_EQ(wrong, 0u);
    // v123458 is the newest name beginning with v12345 (odd numbers name
    // sheet cells), sheet1!R999999C7 the newest of all.
    const std::pair<const char *, float> texts[] = {
        {"v12345", -123458.0f}, {"v0+v1", -199998.0f}, {"sheet1!R1C7", -1.0f}, {"sheet1!R1", -199999.0f},
        {"s", -999999.0f}, {"v9999999", 0.0f}, {"w", 0.0f},
    };
    for (const auto &[text, value] : texts) EXPECT_EQ(parser_calc(p.get(), text), value) << text;
}

} // namespace
