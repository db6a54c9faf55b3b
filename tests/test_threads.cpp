// test_threads.cpp - independent handles on eight threads at once, with the diagnostics settings changing under them.
//
// Every thread makes its own handles with its own definitions and calculates
// its own texts; each result must match, bit for bit, what a single thread
// computed beforehand. Meanwhile the main thread makes and releases handles
// and keeps switching the process-wide diagnostics level, sink and handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <set>
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

// A host function that notes the threads it is called on, and may stop
// the call at a row of its choosing.
struct Seen {
    std::mutex lock;
    std::set<std::thread::id> threads;
    Parser *stop = nullptr; // interrupted when the argument is kStopAt
    std::atomic<long> after_stop{0};
    std::atomic<bool> claimed{false}; // one call makes the interrupt
    std::atomic<bool> stopped{false}; // the interrupt is made
    // The thread that called parser_calc_bulk, and its calls so far: the
    // interrupt waits for its first block to be done, so that some rows are.
    std::thread::id caller;
    std::atomic<long> caller_calls{0};
};
constexpr float kStopAt = 7777.0f;
float noted(void *ctx, const float *args, int) {
    auto *seen = static_cast<Seen *>(ctx);
    {
        std::lock_guard<std::mutex> hold(seen->lock);
        seen->threads.insert(std::this_thread::get_id());
    }
    if (std::this_thread::get_id() == seen->caller) seen->caller_calls.fetch_add(1);
    if (seen->stopped.load()) seen->after_stop.fetch_add(1);
    // Calls are counted from the moment parser_interrupt has returned: a
    // thread may be descheduled between claiming the stop and making it.
    if (seen->stop != nullptr && args[0] == kStopAt && !seen->claimed.exchange(true)) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (seen->caller_calls.load() <= 256 && std::chrono::steady_clock::now() < give_up) std::this_thread::yield();
        parser_interrupt(seen->stop);
        seen->stopped.store(true);
    }
    return args[0] * 0.5f;
}

// parser_calc_bulk over threads: the bits of one thread, with and without
// machine code; host functions on other threads only when registered so;
// an interrupt from one thread stops them all, the rows before the first
// unfinished one done, NaN after.
TEST(Threads, BulkRowsOverThreadsKeepTheirBits) {
    const size_t rows = 4 * 65536 + 1000;
    std::vector<float> xs(rows), ys(rows), want(rows), got(rows);
    const float specials[] = {0.0f, -0.0f, 1.0f, -2.5f, INFINITY, -INFINITY, NAN, 3e38f, 1e-40f};
    for (size_t i = 0; i < rows; ++i) {
        xs[i] = i % 97 == 0 ? specials[i / 97 % 9] : static_cast<float>(i % 1000) * 0.37f - 150.0f;
        ys[i] = static_cast<float>(i % 13) - 6.0f;
    }
    const char *names[] = {"x", "y"};
    const float *columns[] = {xs.data(), ys.data()};
    for (const char *text : {"2*(x+1)-cos(y)", "sqrt(x^2+y^2)*y", "if(lt(x,y),x*2,y-1)", "safe(x)+y", "plain(x)"}) {
        for (const int native : {1, 0}) {
            Seen safe_seen, plain_seen;
            ParserPtr p(parser_new());
            parser_math(p.get());
            parser_native_func(p.get(), "safe", 1, noted, &safe_seen, PARSER_NATIVE_PURE | PARSER_NATIVE_THREAD_SAFE);
            parser_native_func(p.get(), "plain", 1, noted, &plain_seen, PARSER_NATIVE_PURE);
            parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, native);
            ASSERT_EQ(parser_calc_bulk(p.get(), text, names, columns, 2, rows, want.data()), 0) << text;
            EXPECT_LE(safe_seen.threads.size() + plain_seen.threads.size(), 1u) << text << ": one thread by default";
            ASSERT_EQ(parser_limit(p.get(), PARSER_LIMIT_THREADS, 4), 1); // the value it had
            ASSERT_EQ(parser_calc_bulk(p.get(), text, names, columns, 2, rows, got.data()), 0) << text;
            for (size_t i = 0; i < rows; ++i) ASSERT_EQ(bits(got[i]), bits(want[i])) << text << " row " << i;
            EXPECT_EQ(plain_seen.threads.size(), std::string(text) == "plain(x)" ? 1u : 0u) << text;
            if (std::string(text) == "safe(x)+y") {
                EXPECT_GE(safe_seen.threads.size(), 2u) << "rows on other threads";
            }
            // The variables end at the last row.
            float x = 0.0f;
            ASSERT_EQ(parser_var_get(p.get(), "x", &x), 0);
            EXPECT_EQ(bits(x), bits(xs[rows - 1]));
        }
    }
    // An interrupt made on another thread than the caller's, in the middle of its part.
    Seen seen;
    ParserPtr p(parser_new());
    seen.stop = p.get();
    seen.caller = std::this_thread::get_id();
    parser_native_func(p.get(), "safe", 1, noted, &seen, PARSER_NATIVE_PURE | PARSER_NATIVE_THREAD_SAFE);
    parser_limit(p.get(), PARSER_LIMIT_THREADS, 4);
    parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, 0);
    const size_t stop_row = 2 * 65536 + 5000;
    for (size_t i = 0; i < rows; ++i) xs[i] = static_cast<float>(i % 1000); // no NaN among the values
    xs[stop_row] = kStopAt;
    EXPECT_EQ(parser_calc_bulk(p.get(), "safe(x)", names, columns, 2, rows, got.data()), 1);
    size_t done = 0;
    while (done < rows && !std::isnan(got[done])) ++done;
    EXPECT_GE(done, 256u); // the calling thread's first block at least
    EXPECT_LE(done, stop_row + 256); // the end of the block the interrupt came in, at most
    for (size_t i = 0; i < done; ++i) ASSERT_EQ(bits(got[i]), bits(xs[i] * 0.5f)) << "row " << i;
    for (size_t i = done; i < rows; ++i) ASSERT_TRUE(std::isnan(got[i])) << "row " << i;
    // Each thread stops at its next block: a few blocks of calls, not its part.
    EXPECT_LT(seen.after_stop.load(), 4 * 2 * 256) << "calls after the interrupt";
    EXPECT_EQ(parser_calc(p.get(), "safe(4)"), 2.0f); // the handle goes on
}

} // namespace
