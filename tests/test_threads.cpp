// test_threads.cpp - independent handles on eight threads at once, with the diagnostics settings changing under them.
//
// Every thread makes its own handles, defines its own variables and functions
// and calculates its own texts; each result must match, bit for bit, what a
// single thread computed beforehand. Meanwhile the main thread makes and
// releases handles and keeps switching the diagnostics level, sink and error
// handler, which are process-wide.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics.h"
#include "robust_support.h"

namespace {

using robust::bits;
using robust::ParserPtr;

constexpr int kThreads = 8;
constexpr int kRounds = 25;

const char *const kTexts[] = {
    "2*(x+1)-cos(y)", "f(x)+g(y,x)", "h(x)^2", "g(f(1),2)*k()", "x-y-x-y", "r(1)", "q(2)+x",
    "(x", "x+", "log10(x*1000)+atan(y)", "f(f(f(f(x))))%7", "sin(x)/tan(y)",
};
constexpr size_t kTextCount = std::size(kTexts);

// Thread T's definitions: its own values and its own body for f, so that
// a handle leaking into another thread would show in the values.
ParserPtr thread_handle(int t) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 0.25f + static_cast<float>(t));
    parser_var(p.get(), "y", -1.5f * static_cast<float>(t + 1));
    const std::string body = "x*" + std::to_string(t + 2);
    parser_func(p.get(), "f(x)", body.c_str());
    parser_func(p.get(), "g(a,b)", "a-b");
    parser_func(p.get(), "h(t)", "cos(t)+f(t)");
    parser_func(p.get(), "r(n)", "1+r(n)");
    parser_func(p.get(), "k()", "7");
    return p;
}

struct Expected {
    uint32_t value;
    int errors;
};

std::atomic<long> pieces_seen{0};
std::atomic<long> errors_seen{0};

void count_piece(void *, int, const char *text) {
    if (text != nullptr) pieces_seen.fetch_add(1, std::memory_order_relaxed);
}
void count_other_piece(void *ctx, int level, const char *text) { count_piece(ctx, level, text); }
void count_error(void *, const char *, int, int) { errors_seen.fetch_add(1, std::memory_order_relaxed); }

TEST(Threads, IndependentHandlesAgreeWithOneThread) {
    exception_set_handler(count_error, nullptr);
    dbg_set_sink(count_piece, nullptr);
    std::vector<std::vector<Expected>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        ParserPtr p = thread_handle(t);
        for (const char *text : kTexts)
            expected[t].push_back(Expected{bits(parser_calc(p.get(), text)), parser_errors(p.get(), nullptr)});
    }

    std::atomic<int> running{kThreads};
    std::atomic<long> mismatches{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                // Two handles in turn, so cached and rebuilt trees both run.
                ParserPtr a = thread_handle(t), b = thread_handle(t);
                for (size_t i = 0; i < kTextCount; ++i) {
                    const size_t j = (i + static_cast<size_t>(round)) % kTextCount;
                    Parser *p = (i % 2 == 0) ? a.get() : b.get();
                    for (int again = 0; again < 2; ++again) {
                        const uint32_t value = bits(parser_calc(p, kTexts[j]));
                        const int errors = parser_errors(p, nullptr);
                        if (value != expected[t][j].value || errors != expected[t][j].errors) {
                            mismatches.fetch_add(1);
                            std::fprintf(stderr, "thread %d round %d: \"%s\" gave %08x/%d, expected %08x/%d\n", t,
                                         round, kTexts[j], value, errors, expected[t][j].value,
                                         expected[t][j].errors);
                        }
                    }
                }
            }
            running.fetch_sub(1);
        });
    }

    // The main thread: handles of its own, and the process-wide settings.
    long main_rounds = 0;
    while (running.load() > 0) {
        ParserPtr p(parser_new());
        parser_var(p.get(), "x", static_cast<float>(main_rounds));
        parser_func(p.get(), "f(x)", "x+1");
        EXPECT_EQ(parser_calc(p.get(), "f(x)*2"), static_cast<float>(2 * (main_rounds + 1)));
        // Two sinks in turn; never the default one, which would write to standard error.
        dbg_set_sink(main_rounds % 2 == 0 ? count_piece : count_other_piece, nullptr);
        dbg_set_level(main_rounds % 3 == 0 ? 8 : 0);
        exception_set_handler(main_rounds % 4 == 0 ? nullptr : count_error, nullptr);
        ++main_rounds;
        std::this_thread::yield();
    }
    for (std::thread &w : workers) w.join();
    dbg_set_level(0);
    dbg_set_sink(nullptr, nullptr);
    exception_set_handler(nullptr, nullptr);

    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_GT(main_rounds, 0);
    std::printf("%d threads x %d rounds x %zu texts x 2, main thread made %ld handles; %ld pieces, %ld errors seen\n",
                kThreads, kRounds, kTextCount, main_rounds, pieces_seen.load(), errors_seen.load());
}

} // namespace
