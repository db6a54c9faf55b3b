// test_diagnostics.cpp - level filter, sinks and handlers (threads swapping them: test_threads.cpp).
#include "lib_parse/diagnostics.h"

#include <gtest/gtest.h>

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
        dbg_set_sink(nullptr, nullptr);
        exception_set_handler(nullptr, nullptr);
    }
};

// Each piece is one whole sink call at its level, when the level is emitted.
TEST_F(Diagnostics, LevelFilterAndWholePieces)
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
        dbg_loc_print(c.level, "lib_parse", 12);
        dbg_data_print(c.level, "x=%d\n", 3);
        const std::string level = std::to_string(c.level);
        const std::vector<std::string> want = {level + " lib_parse:12: ", level + " x=3\n"};
        EXPECT_EQ(capture.texts, c.emitted ? want : std::vector<std::string>()) << c.setting << " " << c.level;
    }
    // A disabled piece must not touch its arguments: the library passes texts
    // that may be large, and skipping them is what makes level 0 cheap.
    dbg_data_print(9, "%s", reinterpret_cast<const char *>(1));
    dbg_set_timestamp(1);
    capture.texts.clear();
    dbg_time_print(6);
    ASSERT_EQ(capture.texts.size(), 1u);
    EXPECT_TRUE(std::regex_match(capture.texts[0], std::regex(R"(6 \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] )")))
        << capture.texts[0];

    // Messages around the size of the stack buffer, and of a megabyte, arrive whole.
    for (std::size_t length : {0, 239, 240, 241, 255, 256, 2100, 1 << 20}) {
        const std::string text(length, static_cast<char>('a' + length % 26));
        capture.texts.clear();
        dbg_data_print(8, "operand data : %s\n", text.c_str());
        ASSERT_TRUE(capture.texts == std::vector<std::string>{"8 operand data : " + text + "\n"}) << "length " << length;
    }

    dbg_set_sink(nullptr, nullptr); // back to standard error
    ::testing::internal::CaptureStderr();
    dbg_loc_print(8, "lib_parse", 9);
    dbg_data_print(8, "NOT Expanding\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "lib_parse:9: NOT Expanding\n");
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
    lib_parse::exception("lib_parse", 310, 2);
    lib_parse::exception("lib_parse", 57, 0);
    EXPECT_EQ(reports, (std::vector<std::string>{"lib_parse:310 2", "lib_parse:57 0"}));
    exception_set_handler(nullptr, &reports);
    lib_parse::exception("lib_parse", 88, 3);
    EXPECT_TRUE(capture.texts.empty()) << "level 0 must stay silent";
    dbg_set_level(1);
    lib_parse::exception("lib_parse", 88, 3);
    EXPECT_EQ(capture.texts, std::vector<std::string>{"1 lib_parse:88: error 3\n"});
    EXPECT_EQ(reports.size(), 2u);
}

} // namespace
