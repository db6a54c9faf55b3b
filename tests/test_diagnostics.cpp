// test_diagnostics.cpp - level filter, sinks and handlers (threads swapping them: test_threads.cpp).
#include "lib_parse/diagnostics.h"

#include <gtest/gtest.h>

#include <numeric>
#include <regex>
#include <string>
#include <vector>

namespace {

// Records the text of every piece handed to it, one entry per sink call.
struct Capture {
    std::vector<std::string> texts;

    static void sink(void *ctx, int level, const char *text)
    {
        static_cast<Capture *>(ctx)->texts.push_back(std::to_string(level) + " " + text);
    }
};

class Diagnostics : public ::testing::Test {
protected:
    Capture capture;

    void SetUp() override { dbg_set_sink(Capture::sink, &capture); }
    void TearDown() override
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
        int setting, level;
        bool emitted;
    };
    const Case cases[] = {{0, 0, false}, {0, 8, false}, {-1, -5, false}, {1, 1, true}, {6, 7, false}, {8, 6, true}, {8, 9, false}};
    for (const Case &c : cases) {
        dbg_set_level(c.setting);
        EXPECT_EQ(dbg_is_enabled(c.level) != 0, c.emitted) << c.setting << " " << c.level;
        capture.texts.clear();
        dbg_time_print(c.level);
        dbg_loc_print(c.level, "lib_parse", 12);
        dbg_data_print(c.level, "x=%d\n", 3);
        ASSERT_EQ(capture.texts.size(), c.emitted ? 3u : 0u) << c.setting << " " << c.level;
        for (const std::string &text : capture.texts)
            EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(c.level));
    }
}

TEST_F(Diagnostics, EachPieceIsOneWholeSinkCall)
{
    dbg_set_level(8);
    dbg_time_print(6);
    dbg_loc_print(7, "lib_parse", 42);
    dbg_data_print(8, "Expanding left node expr: \"%s\"\n", "x+1");
    dbg_data_print(6, "%s", "");
    // A disabled piece must not touch its arguments: the library passes texts
    // that may be large, and skipping them is what makes level 0 cheap.
    dbg_data_print(9, "%s", reinterpret_cast<const char *>(1));
    ASSERT_EQ(capture.texts.size(), 4u);
    EXPECT_TRUE(std::regex_match(capture.texts[0], std::regex(R"(6 \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )")))
        << capture.texts[0];
    EXPECT_EQ(std::vector<std::string>(capture.texts.begin() + 1, capture.texts.end()),
              (std::vector<std::string>{"7 lib_parse:42: ", "8 Expanding left node expr: \"x+1\"\n", "6 "}));

    // Messages of every length up to well past any stack buffer, and of a megabyte, arrive whole.
    std::vector<std::size_t> lengths(2101);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.push_back(1 << 20);
    for (std::size_t length : lengths) {
        const std::string text(length, static_cast<char>('a' + length % 26));
        capture.texts.clear();
        dbg_data_print(8, "operand data : %s\n", text.c_str());
        ASSERT_EQ(capture.texts.size(), 1u);
        ASSERT_TRUE(capture.texts[0] == "8 operand data : " + text + "\n") << "length " << length;
    }

    dbg_set_sink(nullptr, nullptr); // back to standard error
    ::testing::internal::CaptureStderr();
    dbg_loc_print(8, "lib_parse", 9);
    dbg_data_print(8, "NOT Expanding\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "lib_parse:9: NOT Expanding\n");
    EXPECT_EQ(capture.texts.size(), 1u);
}

// The installed handler gets every report whatever the level; the default one
// emits a level-1 piece.
TEST_F(Diagnostics, ExceptionReports)
{
    std::vector<std::string> reports;
    exception_set_handler(
        [](void *ctx, const char *file, int line, int code) {
            static_cast<std::vector<std::string> *>(ctx)->push_back(std::string(file) + ":" + std::to_string(line) +
                                                                   " " + std::to_string(code));
        },
        &reports);
    exception("lib_parse", 310, 2);
    exception("lib_parse", 57, 0);
    EXPECT_EQ(reports, (std::vector<std::string>{"lib_parse:310 2", "lib_parse:57 0"}));
    EXPECT_TRUE(capture.texts.empty());

    exception_set_handler(nullptr, &reports);
    exception("lib_parse", 88, 3);
    EXPECT_TRUE(capture.texts.empty()) << "level 0 must stay silent";
    dbg_set_level(1);
    exception("lib_parse", 88, 3);
    EXPECT_EQ(capture.texts, std::vector<std::string>{"1 lib_parse:88: error 3\n"});
    EXPECT_EQ(reports.size(), 2u);
}

} // namespace
