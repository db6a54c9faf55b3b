// test_diagnostics.cpp - level filter, sinks, handlers and thread safety.
#include "diagnostics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Records every piece handed to it, one entry per sink call.
struct Capture {
    std::mutex lock;
    std::vector<std::pair<int, std::string>> pieces;

    static void sink(void *ctx, int level, const char *text)
    {
        auto *self = static_cast<Capture *>(ctx);
        std::lock_guard<std::mutex> hold(self->lock);
        self->pieces.emplace_back(level, text);
    }
    std::vector<std::string> texts()
    {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<std::string> out;
        for (const auto &piece : pieces)
            out.push_back(piece.second);
        return out;
    }
};

struct Report {
    std::string file;
    int line;
    int code;
    bool operator==(const Report &other) const
    {
        return file == other.file && line == other.line && code == other.code;
    }
};

void record_report(void *ctx, const char *file, int line, int code)
{
    static_cast<std::vector<Report> *>(ctx)->push_back({file, line, code});
}

class Diagnostics : public ::testing::Test {
protected:
    Capture capture;

    void SetUp() override
    {
        reset();
        dbg_set_sink(Capture::sink, &capture);
    }
    void TearDown() override { reset(); }
    static void reset()
    {
        dbg_set_level(0);
        dbg_set_timestamp(0);
        dbg_set_localized(0);
        dbg_set_sink(nullptr, nullptr);
        exception_set_handler(nullptr, nullptr);
    }
};

TEST_F(Diagnostics, LevelFilterAppliesToEveryPiece)
{
    struct Case {
        int setting;
        int level;
        bool emitted;
    };
    const Case cases[] = {
        {0, 0, false}, {0, 1, false}, {0, 8, false},  {-1, -5, false},
        {1, 1, true},  {1, 2, false}, {6, 6, true},   {6, 7, false},
        {8, 6, true},  {8, 8, true},  {8, 9, false},  {7, 8, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("setting " + std::to_string(c.setting) + ", level " +
                     std::to_string(c.level));
        dbg_set_level(c.setting);
        EXPECT_EQ(dbg_get_level(), c.setting);
        EXPECT_EQ(dbg_is_enabled(c.level) != 0, c.emitted);
        capture.pieces.clear();
        dbg_time_print(c.level);
        dbg_loc_print(c.level, "lib_parse", 12);
        dbg_data_print(c.level, "x=%d\n", 3);
        const std::size_t expected = c.emitted ? 3 : 0;
        ASSERT_EQ(capture.pieces.size(), expected);
        for (const auto &piece : capture.pieces)
            EXPECT_EQ(piece.first, c.level);
    }
}

TEST_F(Diagnostics, EachPieceIsOneSinkCall)
{
    dbg_set_level(8);
    dbg_loc_print(7, "lib_parse", 42);
    dbg_data_print(8, "Expanding left node expr: \"%s\"\n", "x+1");
    dbg_data_print(6, "Tocken found\n");
    dbg_data_print(6, "%s", "");
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{
                                   "lib_parse:42: ",
                                   "Expanding left node expr: \"x+1\"\n",
                                   "Tocken found\n",
                                   "",
                               }));
}

TEST_F(Diagnostics, TimestampPieceFormat)
{
    dbg_set_level(1);
    dbg_time_print(1);
    ASSERT_EQ(capture.pieces.size(), 1u);
    const std::regex stamp(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\] )");
    EXPECT_TRUE(std::regex_match(capture.pieces[0].second, stamp))
        << capture.pieces[0].second;
}

// A disabled piece must not touch its arguments: the library passes texts
// that may be large, and skipping them is what makes level 0 cheap.
TEST_F(Diagnostics, DisabledPieceIsNotFormatted)
{
    dbg_set_level(7);
    const char *invalid = reinterpret_cast<const char *>(1);
    dbg_data_print(8, "%s", invalid);
    EXPECT_TRUE(capture.pieces.empty());
}

TEST_F(Diagnostics, MessagesOfAnyLengthArriveWhole)
{
    dbg_set_level(8);
    // Every length up to well past any stack buffer, then a megabyte text.
    for (std::size_t length = 0; length <= 2100; ++length) {
        const std::string text(length, static_cast<char>('a' + length % 26));
        capture.pieces.clear();
        dbg_data_print(8, "operand data : %s\n", text.c_str());
        ASSERT_EQ(capture.pieces.size(), 1u);
        ASSERT_EQ(capture.pieces[0].second, "operand data : " + text + "\n")
            << "length " << length;
    }
    std::string huge(1 << 20, 'x');
    for (std::size_t i = 0; i < huge.size(); i += 1000)
        huge[i] = static_cast<char>('0' + i % 10);
    capture.pieces.clear();
    dbg_data_print(7, "Expanding right node expr: \"%s\"\n", huge.c_str());
    ASSERT_EQ(capture.pieces.size(), 1u);
    EXPECT_TRUE(capture.pieces[0].second == "Expanding right node expr: \"" + huge + "\"\n");
}

TEST_F(Diagnostics, NullSinkRestoresStandardError)
{
    dbg_set_level(8);
    dbg_set_sink(nullptr, nullptr);
    ::testing::internal::CaptureStderr();
    dbg_loc_print(8, "lib_parse", 9);
    dbg_data_print(8, "NOT Expanding\n");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "lib_parse:9: NOT Expanding\n");
    EXPECT_TRUE(capture.pieces.empty());
}

TEST_F(Diagnostics, ExceptionReachesTheInstalledHandler)
{
    std::vector<Report> reports;
    exception_set_handler(record_report, &reports);
    exception("lib_parse", 310, 2);
    exception("lib_parse", 57, 0);
    EXPECT_EQ(reports, (std::vector<Report>{{"lib_parse", 310, 2}, {"lib_parse", 57, 0}}));
    // The handler is called whatever the level; filtering is its business.
    EXPECT_TRUE(capture.pieces.empty());
}

TEST_F(Diagnostics, DefaultExceptionReportFollowsTheLevel)
{
    std::vector<Report> reports;
    exception_set_handler(record_report, &reports);
    exception_set_handler(nullptr, &reports);
    exception("lib_parse", 88, 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(capture.pieces.empty()) << "level 0 must stay silent";

    dbg_set_level(1);
    exception("lib_parse", 88, 3);
    ASSERT_EQ(capture.pieces.size(), 1u);
    EXPECT_EQ(capture.pieces[0].second, "lib_parse:88: error 3\n");
}

// A handler that prints must not deadlock against the printer's lock.
TEST_F(Diagnostics, HandlerMayPrint)
{
    dbg_set_level(8);
    exception_set_handler(
        [](void *, const char *file, int line, int code) {
            dbg_loc_print(8, file, line);
            dbg_data_print(8, "code %d\n", code);
        },
        nullptr);
    exception("lib_parse", 5, 3);
    EXPECT_EQ(capture.texts(), (std::vector<std::string>{"lib_parse:5: ", "code 3\n"}));
}

// Printers and setters from many threads: every piece lands in exactly one
// of the sinks being swapped, and every report in one of the handlers.
TEST_F(Diagnostics, ConcurrentPrintingAndSetting)
{
    constexpr int kPrinters = 4;
    constexpr int kPrintsEach = 5000;
    Capture other;
    std::atomic<int> reports_a{0}, reports_b{0};
    auto count = [](void *ctx, const char *, int, int) {
        static_cast<std::atomic<int> *>(ctx)->fetch_add(1);
    };
    dbg_set_level(8);
    exception_set_handler(count, &reports_a);

    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            dbg_set_sink(Capture::sink, i % 2 ? &other : &capture);
            exception_set_handler(count, i % 2 ? &reports_b : &reports_a);
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !stop; ++i) {
            dbg_set_timestamp(i % 2);
            dbg_set_localized(i % 3 == 0);
            dbg_set_level(8 + i % 2); // levels 6 to 8 stay emitted
        }
    });
    // Each printer makes diagnostics the way the library does and counts the
    // pieces it emitted.
    std::atomic<std::size_t> emitted{0};
    std::vector<std::thread> printers;
    for (int t = 0; t < kPrinters; ++t) {
        printers.emplace_back([t, &emitted] {
            for (int i = 0; i < kPrintsEach; ++i) {
                const int level = 6 + i % 3;
                if (dbg_istimestamp()) {
                    dbg_time_print(level);
                    ++emitted;
                }
                if (dbg_islocalized()) {
                    dbg_loc_print(level, "lib_parse", i);
                    ++emitted;
                }
                dbg_data_print(level, "thread %d piece %d\n", t, i);
                ++emitted;
                if (i % 10 == 0)
                    exception("lib_parse", i, t);
            }
        });
    }
    for (auto &printer : printers)
        printer.join();
    stop = true;
    for (auto &thread : threads)
        thread.join();

    EXPECT_EQ(capture.pieces.size() + other.pieces.size(), emitted.load());
    EXPECT_EQ(reports_a + reports_b, kPrinters * kPrintsEach / 10);
}

// Once dbg_set_sink returns, the old sink is never called again, so its
// context may be destroyed right away.
TEST_F(Diagnostics, ReplacedSinkIsNoLongerCalled)
{
    dbg_set_level(8);
    std::atomic<bool> stop{false};
    std::thread printer([&] {
        while (!stop)
            dbg_data_print(8, "busy\n");
    });
    while (capture.texts().size() < 100)
        std::this_thread::yield();
    Capture next;
    dbg_set_sink(Capture::sink, &next);
    const std::size_t frozen = capture.texts().size();
    while (next.texts().size() < 100)
        std::this_thread::yield();
    stop = true;
    printer.join();
    EXPECT_EQ(capture.texts().size(), frozen);
}

} // namespace
