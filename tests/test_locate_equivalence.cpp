// test_locate_equivalence.cpp - the one-pass bracket scan and the quiet expansion against their literal forms.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "lib_parse_internal.h"

namespace {

struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;

struct Scan {
    bool error;
    std::string text;
    std::vector<int32_t> brackets;
};

// The bracket search as a pair at a time: mark top-level pairs while
// scanning; when one pair encloses the whole text, strip it and start over.
Scan literal_scan(std::string text) {
    for (;;) {
        std::vector<int32_t> list;
        int depth = 0;
        bool opens_at_start = false, closes_at_end = false, single = true;
        const int n = static_cast<int>(text.size());
        for (int p = 0; p < n; ++p) {
            const int before = depth;
            if (text[p] == '(') ++depth;
            if (text[p] == ')') --depth;
            if (before == 0 && depth == 1) {
                list.push_back(p);
                if (p == 0) opens_at_start = true;
            } else if (before == 1 && depth == 0) {
                list.push_back(p);
                if (p == n - 1) closes_at_end = true;
                else single = false;
            } else if (depth < 0) {
                return Scan{true, text, {}};
            }
        }
        if (depth != 0) return Scan{true, text, {}};
        if (opens_at_start && closes_at_end && single) {
            text = text.substr(1, text.size() - 2);
            continue;
        }
        return Scan{false, text, list};
    }
}

Scan library_scan(const std::string &text) {
    TreeNode *node = btree_new();
    auto *d = static_cast<lp::NodeData *>(std::malloc(sizeof(lp::NodeData)));
    *d = lp::NodeData{static_cast<char *>(std::malloc(text.size() + 1)), lp::OP_OPERAND, lp::EXPAND, 0.0f};
    std::memcpy(d->expr, text.c_str(), text.size() + 1);
    btree_fill(node, d);
    uint8_t error = 7;
    List *list = lp::find_extern_brakets(node, &error);
    Scan scan{error != 0, d->expr, {}};
    if (list != nullptr)
        for (const ListNode *e = list->head; e != nullptr; e = e->next) scan.brackets.push_back(*static_cast<int32_t *>(e->data));
    list_free(list, std::free);
    btree_free(node, lp::parser_bt_node_free);
    return scan;
}

TEST(LocateEquivalence, BracketScanMatchesStrippingPairByPair) {
    const char *const fixed[] = {"",        "()",      "(())",      "((a))",     "(a)(b)",   "((a)+(b))", ")(",
                                 "a)",      "(a",      "((a)",      "(a))",      "(()())",   "((()))x",   "x((()))",
                                 "((x))+1", "(((a)))", "((a)(b))",  "(a)+(b))", "((((((", "))))))",   "(()"};
    for (const char *t : fixed) {
        const Scan want = literal_scan(t), got = library_scan(t);
        EXPECT_EQ(got.error, want.error) << "'" << t << "'";
        if (!want.error) {
            EXPECT_EQ(got.text, want.text) << "'" << t << "'";
            EXPECT_EQ(got.brackets, want.brackets) << "'" << t << "'";
        }
    }
    // Random texts over a bracket-heavy alphabet, mostly balanced.
    uint64_t state = 88172645463325252ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    static const char alphabet[] = "((()))ab+";
    for (int round = 0; round < 30000; ++round) {
        std::string text;
        const size_t length = next() % 16;
        for (size_t i = 0; i < length; ++i) text += alphabet[next() % (sizeof alphabet - 1)];
        if (next() % 2) text = std::string(next() % 4, '(') + text + std::string(next() % 4, ')');
        const Scan want = literal_scan(text), got = library_scan(text);
        ASSERT_EQ(got.error, want.error) << "'" << text << "'";
        if (want.error) continue;
        ASSERT_EQ(got.text, want.text) << "'" << text << "'";
        ASSERT_EQ(got.brackets, want.brackets) << "'" << text << "'";
    }
}

struct NodeView {
    std::string expr;
    int op, state, depth, side;
    bool operator==(const NodeView &o) const {
        return expr == o.expr && op == o.op && state == o.state && depth == o.depth && side == o.side;
    }
};

std::vector<NodeView> expanded(const std::string &text) {
    ParserPtr p(parser_new());
    parser_func(p.get(), "f(a)", "a*2");
    parser_func(p.get(), "g(a,b)", "(a-b)/(b)");
    parser_func(p.get(), "rec(x)", "1+rec(x)"); // stopped by the substitution depth bound
    parser_func(p.get(), "k()", "7");
    parser_expand(p.get(), text.c_str());
    std::vector<NodeView> nodes;
    parser_walk(
        p.get(),
        [](void *ctx, int depth, int side, const char *expr, int op, int state, float) {
            static_cast<std::vector<NodeView> *>(ctx)->push_back(NodeView{expr != nullptr ? expr : "", op, state, depth, side});
        },
        &nodes);
    return nodes;
}

// With its messages emitted, the expansion takes the traced search; without,
// the quiet one. Both must build the same tree and report the same errors.
TEST(LocateEquivalence, QuietAndTracedExpansionBuildTheSameTree) {
    static const char *const pieces[] = {"x",   "2",     "+",  "-",  "^",    "*",  "/",   "%",    "(",   ")",
                                         "(",   ")",     "cos", "atan", "tan", "log10", "f(", ".5", " ",  "g(",
                                         ",",   "h(",    "k()", "rec(", "f(f(", "1,2)", "xcos", "2cos(", "((", "))"};
    std::vector<int> codes;
    exception_set_handler([](void *ctx, const char *, int, int code) { static_cast<std::vector<int> *>(ctx)->push_back(code); },
                          &codes);
    dbg_set_sink([](void *, int, const char *) {}, nullptr);
    auto compare = [&codes](const std::string &text) {
        codes.clear();
        dbg_set_level(0);
        const std::vector<NodeView> quiet = expanded(text);
        const std::vector<int> quiet_codes = codes;
        codes.clear();
        dbg_set_level(8);
        const std::vector<NodeView> traced = expanded(text);
        dbg_set_level(0);
        EXPECT_TRUE(quiet == traced) << "'" << text << "'";
        EXPECT_EQ(quiet_codes, codes) << "'" << text << "'";
        return quiet_codes;
    };
    // Texts that reach every branch: splits of each layout, stripping,
    // calls (nested, unknown, recursive, empty), errors and odd cuts.
    const char *const fixed[] = {
        "", "x", "()", "((x))", "(a)(b)", "(a)+(b)", "x+", "a+b-", "(x", "x)", "(a+b)-", "a--b", "-x",
        "1-2-3-4", "8/2/2/2", "2^3^2", "7%4%2", "costly", "xcos", "2cos(y)", "cos(x)cos(y)", "atan(x)",
        "tan(atan(x))", "2*(x+1)-cos(y)", "(x+1)*(y-2)/(x*y+3)", "f(2)", "(f(2))", "f(f(2))", "g(1,2)",
        "g(x,f(2))*3", "g(1)", "h(3)", "2(3)", "k()", "rec(1)", "f(rec(1))+g((1),(2))", "x*(y+z)*w",
        "((a)+(b))", "a^b*c", "a*b^c", "log10(log2(logn(exp(1))))", "f(2)+", "g(1,2)^f(3)%4"};
    bool seen[8] = {};
    for (const char *t : fixed)
        for (int code : compare(t)) seen[code & 7] = true;
    EXPECT_TRUE(seen[PARSER_ERR_TRAILING_OPERATOR] && seen[PARSER_ERR_UNKNOWN_FUNCTION] &&
                seen[PARSER_ERR_SUBSTITUTION_LIMIT]);
    std::string nested = "x";
    for (int i = 0; i < 300; ++i) nested = i % 2 ? "f(" + nested + ")-1" : "(x+" + nested + ")*2";
    compare(nested);

    uint32_t state = 99;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        for (int n = 1 + static_cast<int>(state % 16); n > 0; --n) {
            state = state * 1664525u + 1013904223u;
            text += pieces[(state >> 10) % (sizeof pieces / sizeof pieces[0])];
        }
        compare(text);
        if (HasFailure()) break;
    }
    dbg_set_sink(nullptr, nullptr);
    exception_set_handler(nullptr, nullptr);
}

} // namespace
