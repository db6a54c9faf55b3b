// test_recovery.cpp - after any bad text a handle computes the next text exactly as a fresh handle would.
//
// The bad texts are a table of known failures plus every file of the fuzz
// seed corpus (read as bytes up to the first NUL). Each is calculated twice
// on a fresh handle and on one that expanded it first: every calculation must
// give the first one's value and errors. After it, the same handle must give
// the valid texts' values bit for bit, report no error, and keep giving them
// from its cache.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lib_parse/diagnostics.h"
#include "robust_support.h"

namespace {

using robust::bits;
using robust::ParserPtr;
using robust::standard_handle;

TEST(Recovery, AfterKnownBadTextsAndEverySeedOfTheFuzzCorpus) {
    const char *const valid[] = {"2*(x+1)-cos(y)", "g(f(3),x)^2", "h(y)/4", "k()%4+1", "x", "1-2-3-4"};
    std::vector<std::string> bad = {"(x+1", "x+", "q(1)", "2(3)", "r(1)", "f(r(2))", "g(,)", "", "\x01\x02\xff\xfe",
                                    std::string(5000, '(') + "x", std::string(3000, '-') + "+"};
    const size_t known = bad.size();
    for (const auto &entry : std::filesystem::recursive_directory_iterator(LIB_PARSE_FUZZ_CORPUS)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        bad.push_back(bytes.substr(0, bytes.find('\0')));
    }
    ASSERT_GT(bad.size() - known, 50u) << "corpus at " << LIB_PARSE_FUZZ_CORPUS;

    exception_set_handler([](void *, const char *, int, int) {}, nullptr);
    std::vector<uint32_t> expected;
    for (const char *text : valid) expected.push_back(bits(parser_calc(standard_handle().get(), text)));
    for (const std::string &text : bad) {
        const std::string shown = "\"" + text.substr(0, 80) + "\" (" + std::to_string(text.size()) + " bytes)";
        std::array<uint32_t, 3> fresh{}; // value, error count, first code of a fresh handle's first calculation
        for (const bool expand_first : {false, true}) {
            ParserPtr p = standard_handle();
            if (expand_first) parser_expand(p.get(), text.c_str());
            for (int round = 0; round < 2; ++round) {
                int code = -1;
                const uint32_t value = bits(parser_calc(p.get(), text.c_str()));
                const std::array<uint32_t, 3> got{value, uint32_t(parser_errors(p.get(), &code)), uint32_t(code)};
                if (!expand_first && round == 0) fresh = got;
                EXPECT_EQ(got, fresh) << shown << (expand_first ? " after expansion" : "") << ", round " << round;
            }
            for (size_t i = 0; i < std::size(valid); ++i) {
                for (int round = 0; round < 2; ++round) {
                    EXPECT_EQ(bits(parser_calc(p.get(), valid[i])), expected[i]) << "after " << shown << ", " << valid[i];
                    EXPECT_EQ(parser_errors(p.get(), nullptr), 0) << "after " << shown << ": " << valid[i];
                }
            }
        }
    }
    exception_set_handler(nullptr, nullptr);
}

} // namespace
