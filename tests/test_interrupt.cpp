// test_interrupt.cpp - an interrupt at any moment of a long call is answered within one check point's work.
//
// No clock is read: the check points count the work they pass, and a test
// hook interrupts the call once a chosen amount of work is done, just after a
// check point read the flag (the worst moment). What the call does from
// then until it returns is counted too, and must stay within a bound that
// does not grow with the text.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "lib_parse.h"
#include "robust_support.h"
#include "support/check_point.h"

namespace {

using robust::ParserPtr;

struct Shape {
    const char *name;
    const char *defined;  // the piece repeated, in the defined grammar
    const char *standard; // and in the standard one
};

// Enough for dozens of check points in every call.
constexpr size_t kTextBytes = size_t{1} << 18;

// A flat chain, a flat chain of products of names, of names no variable
// has (a note or an error each), a chain of powers (the last operator closes
// them all in the standard grammar), brackets nested, user-function calls,
// one call whose argument is a long chain.
const Shape kShapes[] = {{"flat", "1+", "1 + "},
                         {"names", "x*y+", "x * y + "},
                         {"unknown names", "u*v+", "u * v + "},
                         {"powers", "1^", "1 ^ "},
                         {"nested", "(", "("},
                         {"calls", "f(1)+", "f(1) + "},
                         {"argument", "1+", "1 + "}};

std::string text_of(const Shape &shape, bool standard) {
    const std::string piece = standard ? shape.standard : shape.defined;
    if (piece == "(") {
        const size_t depth = kTextBytes / 2;
        return std::string(depth, '(') + "x" + std::string(depth, ')');
    }
    std::string text;
    while (text.size() + piece.size() + 1 < kTextBytes) text += piece;
    if (std::string(shape.name) == "argument") return "f(" + text + "1)";
    return text + "1";
}

ParserPtr handle(bool standard) {
    ParserPtr p(parser_new());
    if (standard) parser_syntax(p.get(), PARSER_SYNTAX_STANDARD);
    for (int which = 0; which < PARSER_LIMIT_COUNT; ++which)
        if (which != PARSER_LIMIT_NATIVE_CODE) parser_limit(p.get(), which, 1LL << 40);
    parser_var(p.get(), "x", 1.5f);
    parser_var(p.get(), "y", 2.0f);
    parser_func(p.get(), "f(a)", "a*2");
    return p;
}

// A call through one entry point; true when it says it was stopped.
struct Call {
    const char *name;
    bool (*run)(Parser *p, const std::string &text);
};

const Call kCalls[] = {
    {"calc",
     [](Parser *p, const std::string &text) {
         const float value = parser_calc(p, text.c_str());
         int code = -1;
         return std::isnan(value) && parser_errors(p, &code) == 1 && code == PARSER_ERR_INTERRUPTED;
     }},
    {"expand",
     [](Parser *p, const std::string &text) {
         parser_expand(p, text.c_str());
         int code = -1;
         return parser_errors(p, &code) == 1 && code == PARSER_ERR_INTERRUPTED;
     }},
    {"check",
     [](Parser *p, const std::string &text) {
         std::vector<int> kinds;
         const int n = parser_check(p, text.c_str(), [](void *ctx, int kind, size_t, size_t, const char *) {
             static_cast<std::vector<int> *>(ctx)->push_back(kind);
         }, &kinds);
         // Stopped, the last note told is the stop.
         return n == static_cast<int>(kinds.size()) && !kinds.empty() && kinds.back() == PARSER_ERR_INTERRUPTED;
     }},
    {"names", [](Parser *p, const std::string &text) { return parser_names(p, text.c_str(), nullptr, nullptr) == -1; }},
    {"bulk",
     [](Parser *p, const std::string &text) {
         const char *names[] = {"x", "y"};
         const std::vector<float> x(4, 1.5f), y(4, 2.0f);
         const float *columns[] = {x.data(), y.data()};
         std::vector<float> out(4);
         return parser_calc_bulk(p, text.c_str(), names, columns, 2, 4, out.data()) != 0;
     }},
};

// Each shape in each grammar (a test each, so they run side by side)
// through each entry point: the work of the whole call, then the call
// interrupted at each eighth of that work and just before its end, so that
// every stage of a build is interrupted somewhere. After the interrupt the
// call does at most two check points' worth of work and says it was
// stopped, and its handle then works as before.
class Interrupt : public testing::TestWithParam<std::tuple<size_t, bool>> {
protected:
    void SetUp() override { lp::count_work(true); }
    void TearDown() override { lp::count_work(false); }
};

TEST_P(Interrupt, AnsweredWithinACheckPointAtAnyMoment) {
    constexpr uint64_t kBound = 2 * lp::kCheckStride;
    const Shape &shape = kShapes[std::get<0>(GetParam())];
    const bool standard = std::get<1>(GetParam());
    const std::string text = text_of(shape, standard);
    for (const Call &call : kCalls) {
        const std::string what = std::string(shape.name) + (standard ? " standard " : " defined ") + call.name;
        lp::interrupt_at_work(0);
        uint64_t whole = 0;
        {
            ParserPtr p = handle(standard);
            const uint64_t before = lp::work_counted();
            EXPECT_FALSE(call.run(p.get(), text)) << what;
            whole = lp::work_counted() - before;
        }
        // At least eight check points' worth: the stops below fall well
        // inside the call.
        ASSERT_GE(whole, 8 * lp::kCheckStride) << what;
        std::vector<uint64_t> stops;
        for (uint64_t eighth = 1; eighth < 8; ++eighth) stops.push_back(whole * eighth / 8);
        stops.push_back(whole - 3 * lp::kCheckStride);
        for (const uint64_t into : stops) {
            ParserPtr p = handle(standard);
            lp::interrupt_at_work(lp::work_counted() + into);
            EXPECT_TRUE(call.run(p.get(), text)) << what << " stopped after " << into << " of " << whole;
            const uint64_t at = lp::work_at_interrupt();
            ASSERT_NE(at, 0u) << what << ": no interrupt was made";
            EXPECT_LE(lp::work_counted() - at, kBound) << what << " stopped after " << into << " of " << whole;
            lp::interrupt_at_work(0);
            EXPECT_EQ(parser_calc(p.get(), "x+1"), 2.5f) << what;
            EXPECT_EQ(parser_errors(p.get(), nullptr), 0) << what;
        }
    }
}

// An endless substitution interrupted from another thread at two hundred
// moments, one step apart: wherever the stop finds the build (a cut before
// its second piece, most rarely), the build ends interrupted and the handle
// works after it.
TEST(InterruptFromAThread, StopsAnEndlessBuildWhereverItIs) {
    ParserPtr p(parser_new());
    parser_func(p.get(), "r(n)", "1+r(n)");
    for (const int limit : {PARSER_LIMIT_SUBST_DEPTH, PARSER_LIMIT_SUBST_COUNT, PARSER_LIMIT_SUBST_BYTES,
                            PARSER_LIMIT_TREE_GROWTH})
        parser_limit(p.get(), limit, 1LL << 30);
    for (int k = 0; k < 200; ++k) {
        std::atomic<bool> done{false};
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(50 + 23 * k));
            while (!done.load()) { // until the call has begun and seen it
                parser_interrupt(p.get());
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        });
        const float value = parser_calc(p.get(), "r(1)");
        done.store(true);
        stopper.join();
        int code = -1;
        ASSERT_TRUE(std::isnan(value)) << k;
        ASSERT_EQ(parser_errors(p.get(), &code), 1) << k;
        ASSERT_EQ(code, PARSER_ERR_INTERRUPTED) << k;
        ASSERT_EQ(parser_calc(p.get(), "2+2"), 4.0f) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryShape, Interrupt,
                         testing::Combine(testing::Range(size_t{0}, std::size(kShapes)), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<size_t, bool>> &info) {
                             std::string name = kShapes[std::get<0>(info.param)].name;
                             for (char &c : name)
                                 if (c == ' ') c = '_';
                             return name + (std::get<1>(info.param) ? "_standard" : "_defined");
                         });

} // namespace
