// test_evaluate.cpp - values in 32-bit floats: number texts, names by prefix, every operation, the compiled program.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "core_test_support.h"
#include "operand.h"
#include "program.h"
#include "reference_eval.h"

using namespace test;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void expect_same(float got, float want, const std::string &what) {
    EXPECT_TRUE(same_value(got, want)) << what << ": got " << got << ", want " << want;
}

// Number texts in whatever locale is set, read directly and, unless a sign
// would make parser_calc cut them, as whole texts.
void expect_numbers(const char *locale) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "A", 9.0f); // never consulted: 'A' is a number text
    const std::pair<std::string, float> numbers[] = {
        {"2.5", 2.5f}, {"0.1", 0.100000001490116119384765625f}, {"16777217", 16777216.0f}, // 2^24 + 1 rounds to 2^24
        {"", 0.0f},   {"A", 0.0f},  {"5A", 5.0f}, {"  42", 42.0f}, {"\t\n7", 7.0f}, {"4 2", 4.0f},
        {"1.5.3", 1.5f}, {".5", 0.5f}, {"1,5", 1.0f}, {"-.5", -0.5f}, {"+5", 5.0f},
        {"--5", 0.0f}, {"+-5", 0.0f}, {"-+5", 0.0f}, {"- 5", 0.0f}, {"-", 0.0f}, // one sign at most, next to the digits
        {"340282346638528859811704183484516925440", 3.40282347e38f}, // the largest float
        {"340282366920938463463374607431768211456", kInf},          // 2^128 rounds up
        {"0.000000000000000000000000000000000000000000000001", 0.0f},
        {"1" + std::string(400, '0'), kInf}, {"-1" + std::string(400, '0'), -kInf}, {"0." + std::string(400, '0') + "1", 0.0f},
    };
    for (const auto &[text, value] : numbers) {
        expect_same(lp::read_number(text.c_str()), value, std::string(locale) + " '" + text + "'");
        if (text.find_first_of("+-") == std::string::npos)
            expect_same(parser_calc(p.get(), text.c_str()), value, std::string(locale) + " calc '" + text + "'");
    }
}

} // namespace

TEST(Evaluate, NumberTexts) { expect_numbers("C"); }

// A decimal comma in the host's locale changes nothing.
TEST(Evaluate, NumbersIgnoreTheProcessLocale) {
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed; generate it to run this test";
    expect_numbers("de_DE.UTF-8");
    std::setlocale(LC_ALL, "C");
}

TEST(Evaluate, NamesLookUpByPrefixNewestFirst) {
    struct Case {
        std::vector<std::pair<const char *, float>> defs;
        const char *text;
        float value;
    };
    const Case cases[] = {
        {{{"xy", 5}}, "x", 5},
        {{{"x", 5}}, "xy", 0},
        {{{"x", 1}, {"xy", 5}}, "x", 5},
        {{{"xy", 5}, {"x", 1}}, "x", 1},
        {{{"x", 1}, {"xy", 5}, {"x", 2}}, "x", 5}, // an update does not move x forward
        {{{"x", 3}}, "x ", 0},
        {{{"B", 4}}, "B", 4},
        {{}, "1e3", 0}, // 'e' makes it a name
        {{{"1e3", 7}}, "1e3", 7},
        {{{"_", 6}}, "_", 6},
        {{{"\xc3\xa9", 2}}, "\xc3\xa9", 2},
    };
    for (const Case &c : cases) {
        ParserPtr p(parser_new());
        for (const auto &d : c.defs) parser_var(p.get(), d.first, d.second);
        expect_same(parser_calc(p.get(), c.text), c.value, std::string("'") + c.text + "'");
    }
}

// Each operation folded while compiling (operands that are number texts) and
// computed at every run (operands that are variables), with the same bits.
// An empty operand counts as 0.
TEST(Evaluate, Operations) {
    struct Case {
        const char *l, *op, *r; // l is null for a function
        float value;
    };
    const Case cases[] = {
        {"0.1", "+", "0.2", 0.300000011920928955078125f}, {"1", "-", "0.1", 0.89999997615814208984375f},
        {"0.1", "*", "3", 0.300000011920928955078125f},   {"1", "/", "3", 0.3333333432674407958984375f},
        {"1", "/", "0", kInf}, {"0", "/", "0", kNaN}, {"2", "^", "(0-1)", 0.5f}, {"(0-8)", "^", "(1/3)", kNaN},
        {"2", "^", "0.5", 1.41421353816986083984375f}, {"", "-", "5", -5.0f}, {"", "^", "0", 1.0f},
        // "%" on 32-bit integers, saturating; NaN counts as the smallest.
        {"7.9", "%", "2.5", 1.0f}, {"(0-7.5)", "%", "2", -1.0f}, {"5", "%", "0", 5.0f}, {"2", "%", "0.5", 2.0f},
        {"9", "%", "(0-1)", 0.0f}, {"(0-2147483648)", "%", "(0-1)", 0.0f}, {"(0/0)", "%", "3", -2.0f},
        {"(1/0)", "%", "7", 1.0f},          // 2147483647 % 7
        {"(0-1/0)", "%", "10", -8.0f},      // -2147483648 % 10
        {"2147483648", "%", "1000", 647.0f}, {"(1/0)", "%", "2000000000", 147483648.0f}, // 147483647 rounded to float
        {nullptr, "cos", "0", 1.0f}, {nullptr, "cos", "", 1.0f}, {nullptr, "sin", "1", 0.8414709568023681640625f},
        {nullptr, "atan", "1", 0.785398185253143310546875f}, {nullptr, "tan", "1", 1.55740773677825927734375f},
        {nullptr, "exp", "1", 2.71828174591064453125f}, {nullptr, "logn", "0.5", -0.693147182464599609375f},
        {nullptr, "logn", "0", -kInf}, {nullptr, "log2", "8", 3.0f}, {nullptr, "log10", "1000", 3.0f},
        {nullptr, "log10", "(0-1)", kNaN},
    };
    ParserPtr p(parser_new());
    for (const Case &c : cases) {
        const std::string text = std::string(c.l != nullptr ? c.l : "") + c.op + c.r;
        expect_same(parser_calc(p.get(), text.c_str()), c.value, text);
        parser_var(p.get(), "a", parser_calc(p.get(), c.l != nullptr ? c.l : ""));
        parser_var(p.get(), "b", parser_calc(p.get(), c.r));
        expect_same(parser_calc(p.get(), (std::string(c.l != nullptr ? "a" : "") + c.op + "b").c_str()), c.value, text + " on variables");
    }
}

namespace {

// A random tree of the shapes expansion builds, the same for the same seed.
// A name that finds no variable keeps the value its record holds, here 7.
TreeNode *random_tree(uint32_t *state, int depth) {
    auto next = [state](uint32_t n) { return ((*state = *state * 1664525u + 1013904223u) >> 8) % n; };
    if (depth == 0 || next(4) == 0) {
        static const char *const texts[] = {"x", "xy", "y", "q", "2.5", "0", "-1", "0.1", "", "3000000000"};
        TreeNode *n = leaf(texts[next(10)]);
        data_of(n)->value = 7.0f;
        return n;
    }
    const auto op = static_cast<int32_t>(next(lp::OP_COUNT));
    TreeNode *left = lp::is_binary(op) ? random_tree(state, depth - 1) : nullptr;
    return op_node(op, left, random_tree(state, depth - 1));
}

// Every node's state and value, pre-order, with every NaN as one.
void nodes(const TreeNode *n, std::vector<std::pair<int, uint32_t>> *out) {
    if (n == nullptr) return;
    out->emplace_back(data_of(n)->state, std::isnan(data_of(n)->value) ? 0x7fc00000u : bits(data_of(n)->value));
    nodes(n->left, out);
    nodes(n->right, out);
}

} // namespace

// The compiled program leaves every node as the plain bottom-up evaluation
// does: on the first run, with no variables, after names are bound, on later
// runs (names only), and after a newer variable takes over names by prefix.
TEST(Evaluate, ProgramMatchesTheTreeEvaluation) {
    const float values[] = {0.0f, -0.0f, 1.0f, -2.5f, 3.0f, kInf, -kInf, kNaN, 1e30f, 0.1f};
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        ParserPtr p(parser_new()); // fills the operation table the trees' records copy
        uint32_t s1 = seed, s2 = seed;
        TreePtr mine(random_tree(&s1, 6)), theirs(random_tree(&s2, 6));
        lp::Program *program = lp::program_build(mine.get(), p->vars, p->generation);
        ASSERT_NE(program, nullptr);
        for (int run = 0; run < 4; ++run) {
            if (run > 0) { // the first run has no variables at all
                parser_var(p.get(), run < 3 ? "x" : "xy", values[(seed + run) % 10]);
                parser_var(p.get(), "y", values[(seed * 7 + run) % 10]);
            }
            const float got = lp::program_run(program, p->vars, p->generation, false);
            reference_clean(theirs.get());
            const float want = reference_calc(theirs.get(), p->vars);
            std::vector<std::pair<int, uint32_t>> a, b;
            nodes(mine.get(), &a);
            nodes(theirs.get(), &b);
            ASSERT_TRUE(same_value(got, want) && a == b) << render(mine.get()) << " run " << run << ": " << got << " vs " << want;
        }
        lp::program_free(program);
    }
}
