// test_recovery.cpp - after any bad text a handle computes the next text exactly as a fresh handle would.
//
// The bad texts are a table of known failures plus every file of the fuzz
// seed corpus (read as bytes up to the first NUL). After each, the same
// handle must give the valid texts' values bit for bit, report no error, and
// keep giving them from its cache.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "robust_support.h"

namespace {

using robust::bits;
using robust::ParserPtr;
using robust::standard_handle;

const char *const kValidTexts[] = {
    "2*(x+1)-cos(y)", "g(f(3),x)^2", "h(pi)/4", "k()%4+1", "x", "1-2-3-4",
};

std::vector<std::string> known_bad_texts() {
    std::vector<std::string> texts = {
        "(x+1",    "x+1)",   ")(",        "x+",   "a+b-", "cos",   "q(1)", "2(3)", "(a)(b)",
        "r(1)",    "f(r(2))", "g(,)",     "",     "   ",  "\x01\x02\xff\xfe", "(((((", "))))) ",
        "f(f(f(f(f(f(f(f(f(f(f(f(1))))))))))))", "1e99999*0", "0/0", "%%%",
    };
    texts.push_back(std::string(5000, '(') + "x");
    texts.push_back(std::string(3000, '-') + "+");
    return texts;
}

std::vector<std::string> corpus_texts() {
    std::vector<std::string> texts;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(LIB_PARSE_FUZZ_CORPUS)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        texts.push_back(bytes.substr(0, bytes.find('\0')));
    }
    return texts;
}

void ignore_error(void *, const char *, int, int) {}

class Recovery : public ::testing::Test {
protected:
    void SetUp() override {
        exception_set_handler(ignore_error, nullptr);
        ParserPtr fresh = standard_handle();
        for (const char *text : kValidTexts) expected_.push_back(bits(parser_calc(fresh.get(), text)));
    }
    void TearDown() override { exception_set_handler(nullptr, nullptr); }

    // Runs BAD through FEED on a handle, then every valid text twice.
    template <typename Feed>
    void check(const std::string &bad, Feed feed) {
        ParserPtr p = standard_handle();
        feed(p.get(), bad.c_str());
        for (size_t i = 0; i < std::size(kValidTexts); ++i) {
            for (int round = 0; round < 2; ++round) {
                EXPECT_EQ(bits(parser_calc(p.get(), kValidTexts[i])), expected_[i])
                    << "after bad text \"" << bad.substr(0, 80) << "\" (" << bad.size() << " bytes), "
                    << kValidTexts[i] << ", round " << round;
                EXPECT_EQ(parser_errors(p.get(), nullptr), 0) << "after \"" << bad.substr(0, 80) << "\"";
            }
        }
    }

    std::vector<uint32_t> expected_;
};

TEST_F(Recovery, AfterKnownBadTexts) {
    for (const std::string &bad : known_bad_texts()) {
        check(bad, [](Parser *p, const char *text) { parser_calc(p, text); });
        check(bad, [](Parser *p, const char *text) { parser_expand(p, text); });
    }
}

TEST_F(Recovery, AfterEverySeedOfTheFuzzCorpus) {
    const std::vector<std::string> texts = corpus_texts();
    ASSERT_GT(texts.size(), 50u) << "corpus at " << LIB_PARSE_FUZZ_CORPUS;
    for (const std::string &bad : texts) check(bad, [](Parser *p, const char *text) { parser_calc(p, text); });
}

// A bad text calculated twice still reports its errors from the cache, and
// the valid text after it reports none.
TEST_F(Recovery, ErrorCountsFollowTheTree) {
    ParserPtr p = standard_handle();
    const struct {
        const char *text;
        int code;
    } cases[] = {{"x+", PARSER_ERR_TRAILING_OPERATOR},
                 {"q(1)", PARSER_ERR_UNKNOWN_FUNCTION},
                 {"r(1)", PARSER_ERR_SUBSTITUTION_LIMIT}};
    for (const auto &c : cases) {
        for (int round = 0; round < 2; ++round) {
            parser_calc(p.get(), c.text);
            int code = -1;
            EXPECT_GT(parser_errors(p.get(), &code), 0) << c.text << " round " << round;
            EXPECT_EQ(code, c.code) << c.text;
        }
        parser_calc(p.get(), "x*2");
        EXPECT_EQ(parser_errors(p.get(), nullptr), 0) << "after " << c.text;
    }
}

} // namespace
