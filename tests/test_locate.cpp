// test_locate.cpp - bracket matching and stripping and the choice of the operation to split at, against a
// byte-at-a-time scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core_test_support.h"
#include "locate.h"

using namespace test;

namespace {

using Positions = std::vector<int32_t>;

// Positions are given relative to the stripped range.
struct Located {
    bool balanced = true;
    std::string text; // the range after stripping
    Positions pairs;  // open, close of each top-level pair
    int32_t id = -1;  // -1: no operation outside the pairs
    Positions ops;
    bool trailing = false;
    auto key() const { return std::tie(balanced, text, pairs, id, ops, trailing); }
};

// The calls in the order expansion makes them, on the whole of TEXT.
Located locate(const std::string &text, int level = 0) {
    lp::parser_init(); // the search reads the operation table
    Capture cap(level);
    lp::SourceText source(text.data(), text.size(), nullptr);
    Located r;
    r.balanced = source.balanced();
    if (!r.balanced) return r;
    int32_t from = 0, to = source.size();
    lp::strip_enclosing(source, &from, &to);
    r.text = std::string(source.view(from, to));
    Positions opens, ops;
    lp::top_level_pairs(source, from, to, &opens);
    for (const int32_t open : opens) r.pairs.insert(r.pairs.end(), {open - from, source.partner(open) - from});
    r.id = lp::choose_operation(source, from, to, opens, &ops, &r.trailing);
    for (const int32_t p : ops) r.ops.push_back(p - from);
    EXPECT_TRUE(cap.codes.empty()) << "the search reports nothing itself: " << text;
    return r;
}

// The search as the language describes it, a byte at a time: strip a pair
// enclosing the whole text while there is one; then, row by row, a one-byte
// symbol ending the text is an error, else the symbol's occurrences outside
// every pair are the cuts.
Located literal_scan(std::string text) {
    Located r;
    std::vector<int> depth; // before each byte
    for (bool single = true; single;) {
        depth.assign(1, 0);
        single = text.size() >= 2 && text[0] == '(';
        for (size_t p = 0; p < text.size(); ++p) {
            depth.push_back(depth.back() + (text[p] == '(') - (text[p] == ')'));
            r.balanced = r.balanced && depth.back() >= 0;
            single = single && (depth.back() != 0 || p + 1 == text.size());
        }
        if (!(r.balanced = r.balanced && depth.back() == 0)) return r;
        if (single) text = text.substr(1, text.size() - 2);
    }
    r.text = text;
    for (size_t p = 0; p < text.size(); ++p)
        if ((text[p] == '(' && depth[p] == 0) || (text[p] == ')' && depth[p] == 1)) r.pairs.push_back(static_cast<int32_t>(p));
    for (const lp::OperationEntry &row : lp::operation) {
        const std::string symbol = row.name;
        if (symbol.size() == 1 && !text.empty() && text.back() == symbol[0]) {
            r.trailing = true;
            return r;
        }
        for (size_t p = text.find(symbol); p != std::string::npos; p = text.find(symbol, p + 1))
            if (depth[p] == 0) r.ops.push_back(static_cast<int32_t>(p));
        if (!r.ops.empty()) {
            r.id = row.id;
            return r;
        }
    }
    return r;
}

} // namespace

// Random texts: the same answer with the search messages emitted and not, and
// that of the byte-at-a-time scan.
TEST(Locate, AgreesWithLiteralScanTracedOrNot) {
    static const char *const pieces[] = {"x", "y", "1", ".", " ", "+", "-", "^", "*", "/", "%", "(", ")", "((",
                                         "))", "cos", "sin", "atan", "tan", "exp", "logn", "log2", "log10", "n"};
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<size_t> pick(0, std::size(pieces) - 1), length(0, 14);
    size_t found = 0, trailing = 0, bracketed = 0, stripped = 0;
    for (int round = 0; round < 8000; ++round) {
        // Mostly balanced brackets, now and then a stray one, and now and
        // then the whole wrapped in more.
        std::string text;
        int open = 0;
        for (size_t n = length(rng); n > 0; --n) {
            const std::string piece = pieces[pick(rng)];
            const int change = piece[0] == '(' ? static_cast<int>(piece.size()) : piece[0] == ')' ? -static_cast<int>(piece.size()) : 0;
            if (open + change < 0 && rng() % 8 != 0) continue;
            open += change;
            text += piece;
        }
        if (rng() % 8 != 0 && open > 0) text += std::string(open, ')');
        if (rng() % 4 == 0) text = std::string(rng() % 4, '(') + text + std::string(rng() % 4, ')');
        const Located quiet = locate(text, 0), traced = locate(text, 6), literal = literal_scan(text);
        ASSERT_TRUE(quiet.key() == traced.key()) << text;
        ASSERT_TRUE(quiet.key() == literal.key()) << text;
        found += quiet.id >= 0;
        trailing += quiet.trailing;
        bracketed += !quiet.pairs.empty() && quiet.id >= 0;
        stripped += quiet.balanced && quiet.text != text;
    }
    // The generator must reach every branch for the comparison to mean much.
    EXPECT_GT(found, 2000u);
    EXPECT_GT(trailing, 400u);
    EXPECT_GT(bracketed, 400u);
    EXPECT_GT(stripped, 400u);
}
