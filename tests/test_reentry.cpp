// test_reentry.cpp - callbacks that call back into their handle are refused, and parser_interrupt stops a call.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "lib_parse.h"
#include "lib_parse/diagnostics.h"
#include "robust_support.h"

namespace {

using robust::ParserPtr;

// Every call that uses or changes P, made from inside a call on P, must be
// refused, and the calls safe inside a callback must work: the names of the
// calls that did otherwise. TEXT is the text of the outer call.
std::vector<std::string> calls_not_refused(Parser *p, const char *text) {
    std::vector<std::string> accepted;
    const auto expect = [&](bool as_documented, const char *name) {
        if (!as_documented) accepted.push_back(name);
    };
    const float column[3] = {1, 2, 3};
    const float *columns[] = {column};
    const char *names[] = {"x"};
    float out[3] = {0, 0, 0};
    int visits = 0;
    expect(std::isnan(parser_calc(p, "1+1")), "calc");
    expect(std::isnan(parser_calc(p, text)), "calc of the same text");
    expect(std::isnan(parser_eval(p)), "eval");
    expect(parser_var(p, "x", 5.0f) != 0, "var");
    expect(parser_var(p, "new_name", 5.0f) != 0, "var new");
    expect(parser_var_ref(p, "x") == nullptr, "var_ref");
    expect(parser_func(p, "f(a)", "a*100") != 0, "func");
    expect(parser_native_func(p, "q", 0, [](void *, const float *, int) { return 1.0f; }, nullptr, 0) != 0, "native");
    expect(parser_limit(p, PARSER_LIMIT_TEXT_BYTES, 3) == -1, "limit set");
    expect(parser_calc_bulk(p, "x", names, columns, 1, 3, out) != 0 && out[0] == 0.0f, "bulk");
    expect(parser_check(p, "1", nullptr, nullptr) == -1, "check");
    expect(parser_names(p, "x", nullptr, nullptr) == -1, "names");
    expect(parser_functions(p, nullptr, nullptr) == -1, "functions");
    parser_on_error(p, nullptr, nullptr); // refused: the outer callback stays
    parser_walk(p, [](void *ctx, int, int, const char *, int, int, float) { ++*static_cast<int *>(ctx); }, &visits);
    expect(visits == 0, "walk");
    parser_expand(p, "7");
    parser_destroy(p); // refused: the outer call goes on with its handle
    // Safe inside callbacks.
    expect(parser_limit(p, PARSER_LIMIT_TEXT_BYTES, -1) == 256 << 10, "limit read");
    expect(parser_errors(p, nullptr) >= 0 && parser_error_at(p, 1000, nullptr, nullptr, nullptr) == -1, "errors");
    expect(std::string(parser_error_text(PARSER_ERR_BUSY)) != "unknown error", "error text");
    ParserPtr other(parser_new());
    expect(parser_calc(other.get(), "2*3") == 6.0f, "another handle");
    return accepted;
}

struct Probe {
    Parser *p = nullptr;
    const char *text = "";
    int calls = 0;
    std::vector<std::string> accepted;
    // Tries the calls at the first callback and at the 80th, by when a tree
    // evaluated again and again runs as machine code.
    void run() {
        const int call = calls++;
        if (call == 0 || call == 80) {
            const std::vector<std::string> got = calls_not_refused(p, text);
            accepted.insert(accepted.end(), got.begin(), got.end());
        }
    }
};

float probe_host(void *ctx, const float *, int) {
    static_cast<Probe *>(ctx)->run();
    return 2.0f;
}

// A handler, a sink, a visitor, a note callback and a host function (in the
// interpreter, in machine code and in bulk rows) each try every call on
// their handle: each is refused, and the outer call's result and the handle
// are as without the callback.
TEST(Reentry, CallsFromCallbacksAreRefused) {
    const char *const text = "zz(1)+(2*x)*(4+y)-cos(x)+probe()";
    float want = 0.0f;
    {
        ParserPtr p = robust::standard_handle();
        parser_native_func(p.get(), "probe", 0, [](void *, const float *, int) { return 2.0f; }, nullptr, 0);
        want = parser_calc(p.get(), text);
    }
    enum Way { HANDLER, ON_ERROR, SINK, VISITOR, NOTE, HOST, HOST_NATIVE, HOST_INTERPRETED, HOST_BULK };
    for (const Way way : {HANDLER, ON_ERROR, SINK, VISITOR, NOTE, HOST, HOST_NATIVE, HOST_INTERPRETED, HOST_BULK}) {
        ParserPtr p = robust::standard_handle();
        Probe probe;
        probe.p = p.get();
        probe.text = text;
        parser_native_func(p.get(), "probe", 0, probe_host, way >= HOST ? &probe : nullptr, 0);
        Probe idle; // the host function of the other ways
        if (way < HOST) parser_native_func(p.get(), "probe", 0, probe_host, &idle, 0);
        if (way == HANDLER) exception_set_handler([](void *ctx, const char *, int, int) { static_cast<Probe *>(ctx)->run(); }, &probe);
        if (way == ON_ERROR)
            parser_on_error(p.get(), [](void *ctx, int, size_t, size_t) { static_cast<Probe *>(ctx)->run(); }, &probe);
        if (way == SINK) {
            dbg_set_level(8);
            dbg_set_sink([](void *ctx, int, const char *) { static_cast<Probe *>(ctx)->run(); }, &probe);
        }
        // The interpreter for good: its own way in, past the checks of a call.
        if (way == HOST_INTERPRETED) parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, 0);
        float got = parser_calc(p.get(), text);
        exception_set_handler(nullptr, nullptr);
        dbg_set_sink(nullptr, nullptr);
        dbg_set_level(0);
        if (way == VISITOR)
            parser_walk(p.get(), [](void *ctx, int, int, const char *, int, int, float) { static_cast<Probe *>(ctx)->run(); },
                        &probe);
        if (way == NOTE) {
            const auto note = [](void *ctx, int, size_t, size_t, const char *) { static_cast<Probe *>(ctx)->run(); };
            EXPECT_EQ(parser_check(p.get(), text, note, &probe), 1);
        }
        if (way == HOST_NATIVE || way == HOST_INTERPRETED) // past the tier at which machine code takes over
            for (int i = 0; i < 100; ++i) got = i % 2 == 0 ? parser_eval(p.get()) : parser_calc(p.get(), text);
        if (way == HOST_BULK) {
            const float xs[3] = {1.5f, 1.5f, 1.5f};
            const float *columns[] = {xs};
            const char *names[] = {"x"};
            float out[3] = {0, 0, 0};
            EXPECT_EQ(parser_calc_bulk(p.get(), text, names, columns, 1, 3, out), 0);
            got = out[2];
        }
        EXPECT_GE(probe.calls, way == HOST_NATIVE || way == HOST_INTERPRETED ? 81 : 1) << "way " << way;
        EXPECT_EQ(probe.accepted, std::vector<std::string>{}) << "way " << way;
        EXPECT_EQ(got, want) << "way " << way;
        EXPECT_EQ(parser_calc(p.get(), text), want) << "way " << way;
        int code = -1;
        EXPECT_EQ(parser_errors(p.get(), &code), 1) << "way " << way;
        EXPECT_EQ(code, PARSER_ERR_UNKNOWN_FUNCTION) << "way " << way;
        EXPECT_EQ(parser_calc(p.get(), "f(3)"), 6.0f) << "way " << way; // no definition slipped in
        EXPECT_EQ(parser_calc(p.get(), "new_name"), 0.0f) << "way " << way;
    }
}

// parser_interrupt from a callback (deterministic) and from another thread:
// a build stops with error 9 and NaN, keeping no text; bulk keeps the rows it
// finished; an interrupt with no call running stops nothing later.
TEST(Reentry, InterruptStopsTheRunningCallOnly) {
    ParserPtr p = robust::standard_handle();
    parser_interrupt(p.get()); // nothing runs: a stale interrupt must not stop the next call
    EXPECT_EQ(parser_calc(p.get(), "x*2"), 3.0f);

    // An error handler stops the build at the first error: the rest is not built.
    exception_set_handler([](void *ctx, const char *, int, int) { parser_interrupt(static_cast<Parser *>(ctx)); }, p.get());
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), "zz(1)+x+y")));
    exception_set_handler(nullptr, nullptr);
    int code = -1;
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_INTERRUPTED);
    EXPECT_EQ(parser_eval(p.get()), 0.0f); // the empty text's tree, as after a refused text
    EXPECT_EQ(parser_calc(p.get(), "zz(1)+x+y"), -0.5f); // the text was not kept: built again
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_UNKNOWN_FUNCTION);

    // A host function stops bulk rows after the row it was called in.
    struct Stopper {
        Parser *p;
        int row = 0;
    } stopper{p.get()};
    parser_native_func(p.get(), "stop_at_3", 0, [](void *ctx, const float *, int) {
        auto *s = static_cast<Stopper *>(ctx);
        if (s->row++ == 3) parser_interrupt(s->p);
        return 0.0f;
    }, &stopper, 0);
    const float xs[6] = {1, 2, 3, 4, 5, 6};
    const float *columns[] = {xs};
    const char *names[] = {"x"};
    float out[6];
    EXPECT_NE(parser_calc_bulk(p.get(), "x+stop_at_3()", names, columns, 1, 6, out), 0);
    EXPECT_EQ(std::vector<float>(out, out + 4), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_TRUE(std::isnan(out[4]) && std::isnan(out[5]));
    EXPECT_EQ(parser_calc(p.get(), "x"), 4.0f); // the last row finished

    // From another thread, a build that would run for a long time.
    parser_limit(p.get(), PARSER_LIMIT_SUBST_DEPTH, 1LL << 30);
    parser_limit(p.get(), PARSER_LIMIT_SUBST_COUNT, 1LL << 30);
    parser_limit(p.get(), PARSER_LIMIT_SUBST_BYTES, 1LL << 30);
    parser_limit(p.get(), PARSER_LIMIT_TREE_GROWTH, 1LL << 30);
    std::atomic<bool> done{false};
    std::thread stopper_thread([&] {
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            parser_interrupt(p.get());
        }
    });
    const float value = parser_calc(p.get(), "r(1)");
    done.store(true);
    stopper_thread.join();
    EXPECT_TRUE(std::isnan(value));
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_INTERRUPTED);
    EXPECT_EQ(parser_calc(p.get(), "x+1"), 5.0f);
}

} // namespace
