// test_threads.cpp - independent handles on eight threads at once, with the diagnostics settings changing under them.
//
// Every thread makes its own handles with its own definitions and calculates
// its own texts; each result must match, bit for bit, what a single thread
// computed beforehand. Meanwhile the main thread makes and releases handles
// and keeps switching the process-wide diagnostics level, sink and handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lib_parse/diagnostics.h"
#include "robust_support.h"

namespace {

using robust::bits;
using robust::ParserPtr;

const char *const kTexts[] = {"2*(x+1)-cos(y)", "f(x)+g(y,x)", "h(x)^2", "g(f(1),2)*k()", "r(1)", "q(2)+x", "(x", "x+"};
constexpr size_t kTextCount = std::size(kTexts);

// Thread T's own values and body for f: a handle leaking into another thread shows in the values.
ParserPtr thread_handle(int t) {
    const std::string body = "x*" + std::to_string(t + 2);
    return robust::standard_handle(0.25f + static_cast<float>(t), -1.5f * static_cast<float>(t + 1), body.c_str());
}

// The sinks read every piece, so a stale or dangling one shows under a sanitizer.
void count_piece(void *counter, int, const char *text) {
    static_cast<std::atomic<long> *>(counter)->fetch_add(static_cast<long>(std::strlen(text)));
}
void count_error(void *, const char *file, int, int) { (void)std::strlen(file); }

TEST(Threads, IndependentHandlesAgreeWithOneThread) {
    constexpr int kThreads = 8, kRounds = 25;
    std::atomic<long> counters[2] = {{0}, {0}};
    dbg_set_sink(count_piece, &counters[0]);
    exception_set_handler(count_error, nullptr);
    std::vector<std::vector<std::pair<uint32_t, int>>> expected(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        ParserPtr p = thread_handle(t);
        for (const char *text : kTexts)
            expected[t].push_back({bits(parser_calc(p.get(), text)), parser_errors(p.get(), nullptr)});
    }

    // Each thread's handles tell their errors to the thread's own callback,
    // on that thread.
    struct Heard {
        std::thread::id thread;
        std::vector<int> codes;
        bool elsewhere = false;
    };
    std::vector<Heard> heard(kThreads);
    const parser_error_fn hear = [](void *ctx, int code, size_t, size_t) {
        auto *h = static_cast<Heard *>(ctx);
        h->elsewhere |= h->thread != std::this_thread::get_id();
        h->codes.push_back(code);
    };
    std::atomic<int> running{kThreads};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            heard[t].thread = std::this_thread::get_id();
            for (int round = 0; round < kRounds; ++round) {
                // Two handles in turn, each text twice: cached and rebuilt trees both run.
                ParserPtr a = thread_handle(t), b = thread_handle(t);
                parser_on_error(a.get(), hear, &heard[t]);
                parser_on_error(b.get(), hear, &heard[t]);
                for (size_t i = 0; i < 2 * kTextCount; ++i) {
                    const size_t j = (i / 2 + static_cast<size_t>(round)) % kTextCount;
                    Parser *p = (i / 2 % 2 == 0) ? a.get() : b.get();
                    const std::pair<uint32_t, int> got{bits(parser_calc(p, kTexts[j])), parser_errors(p, nullptr)};
                    EXPECT_EQ(got, expected[t][j]) << "thread " << t << " round " << round << ": " << kTexts[j];
                }
                // Evaluated more than the 64 times after which a tree runs as
                // machine code: threads compile at once into one code area.
                const size_t j = static_cast<size_t>(round) % kTextCount;
                for (int i = 0; i < 70; ++i)
                    EXPECT_EQ(bits(parser_calc(a.get(), kTexts[j])), expected[t][j].first) << "thread " << t << ": " << kTexts[j];
            }
            running.fetch_sub(1);
        });
    }

    // The main thread: handles of its own, and the process-wide settings
    // (never the default sink, which would write to standard error).
    long round = 0;
    do {
        ParserPtr p(parser_new());
        parser_var(p.get(), "x", static_cast<float>(round));
        parser_func(p.get(), "f(x)", "x+1");
        EXPECT_EQ(parser_calc(p.get(), "f(x)*2"), static_cast<float>(2 * (round + 1)));
        dbg_set_sink(count_piece, &counters[round % 2]);
        dbg_set_level(round % 3 == 0 ? 8 : 0);
        exception_set_handler(round % 4 == 0 ? nullptr : count_error, nullptr);
        ++round;
        std::this_thread::yield();
    } while (running.load() > 0);
    for (std::thread &w : workers) w.join();
    for (const Heard &h : heard) {
        EXPECT_FALSE(h.elsewhere);
        // Each round builds "x+" (2), "q(2)+x" (4) and "r(1)" (5) at least once.
        for (const int code : {2, 4, 5}) EXPECT_GE(std::count(h.codes.begin(), h.codes.end(), code), kRounds) << code;
        EXPECT_EQ(h.codes.size(), static_cast<size_t>(std::count_if(h.codes.begin(), h.codes.end(),
                                                                    [](int c) { return c == 2 || c == 4 || c == 5; })));
    }
    dbg_set_level(0);
    dbg_set_sink(nullptr, nullptr);
    exception_set_handler(nullptr, nullptr);
}

} // namespace
