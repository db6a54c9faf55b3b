// test_standard.cpp - the standard grammar: precedence, numbers, errors with their places, laziness and user
// functions in every evaluator, notes and names, the grammar switch, a million brackets deep.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core_test_support.h"
#include "api/build_tree.h"
#include "run/program.h"
#include "support/arena.h"
#include "support/check_point.h"
#include "tree/handle.h"
#include "tree/node_order.h"

using namespace test;

namespace {

using robust::Place; // code or kind, offset, length

// tick(k) counts its calls in slot k and returns k.
float tick(void *ctx, const float *a, int) {
    static_cast<int *>(ctx)[static_cast<int>(a[0])] += 1;
    return a[0];
}

// A handle reading the standard grammar: x = 3, y = 0.5, A = 7, the standard
// set, tick, and user functions of both grammars.
struct Standard {
    ParserPtr p{parser_new()};
    int ticks[8] = {};
    explicit Standard(bool native = true) {
        parser_var(p.get(), "x", 3.0f);
        parser_var(p.get(), "y", 0.5f);
        parser_var(p.get(), "A", 7.0f);
        parser_math(p.get());
        parser_native_func(p.get(), "tick", 1, tick, ticks, 0);
        parser_func(p.get(), "d(a)", "a*2"); // the defined grammar's
        EXPECT_EQ(parser_syntax(p.get(), PARSER_SYNTAX_STANDARD), PARSER_SYNTAX_DEFINED);
        parser_func(p.get(), "f(a, b)", "a*a + 1");
        parser_func(p.get(), "g(a)", "f(a, 0) - a");
        parser_func(p.get(), "r(n)", "s(n) + 1");
        parser_func(p.get(), "s(n)", "r(n)");
        parser_func(p.get(), "bad(a)", "a +");
        parser_func(p.get(), "k()", "x*2");
        parser_func(p.get(), "m(c, a, b)", "a*100 + b*10 + c");
        parser_limit(p.get(), PARSER_LIMIT_NATIVE_CODE, native);
    }
    std::vector<Place> errors() const { return robust::errors_of(p.get()); }
};

volatile float zero = 0.0f;

} // namespace

// Each row: a text and its value, bit for bit, with no error.
TEST(Standard, PrecedenceAndAssociativity) {
    Standard s;
    const float nan = zero / zero;
    const std::pair<const char *, float> rows[] = {
        {"2*3^2", 18}, {"2^3*2", 16}, {"-2^2", -4}, {"2^-1", 0.5f}, {"2^3^2", 512}, {"(2^3)^2", 64}, {"2^-1*4", 2},
        {"-x^2", -9}, {"2*-3", -6}, {"2--3", 5}, {"- -3", 3}, {"+-+3", -3}, {"-x*y", -1.5f}, {"!x+1", 1}, {"!!5", 1},
        {"1+2*3", 7}, {"1-2-3", -4}, {"8/2/2", 2}, {"7%4%2", 1}, {"2*7%4", 2}, {"7%4*2", 6}, {"1-2+3", 2},
        {"1<2==1", 1}, {"2==1<3", 0}, {"3>2>1", 0}, {"1<2<3", 1}, {"x>=3", 1}, {"x<=2", 0}, {"x!=y", 1}, {"x==3", 1},
        {"1||0&&0", 1}, {"(1||0)&&0", 0}, {"0&&1||1", 1}, {"2&&3", 1}, {"0||-2", 1}, {"!x<1", 1},
        {"1?2:3", 2}, {"0?2:3", 3}, {"0?1:0?2:3", 3}, {"1?0?4:5:6", 5}, {"1+1?5:6", 5}, {"x>y ? x : y", 3},
        {"1 ? 2 : 3 + 10", 2}, {"0 ? 2 : 3 + 10", 13}, {"x<y || y<x ? 7 : 8", 7},
        {"-0", -0.0f}, {"-(x-x)", -0.0f}, {"-(0/0)", -nan}, {"(0/0) ? 1 : 2", 1}, {"!(0/0)", 0}, {"0 || 0/0", 1},
        {"0/0 == 0/0", 0}, {"0/0 != 0/0", 1}, {"cos(0)+1", 2}, {"2*(x+1)-cos(0)", 7}, {" 2 *\t(\nx+1 )\r", 8},
        {"atan(1)*4", static_cast<float>(std::atan(1.0)) * 4}, {"logn(exp(2))", 2}, {"log2(8)+log10(100)", 5},
        {"A+1", 8}, {"cos (0)", 1}, {"0.5 && 1", 1}, {"1/(x*-0)", -INFINITY}, {"(0.5-1)*log2(0)", INFINITY},
        {"sqrt(16)+max(1, x, 2)", 7}, {"if(x < 4, 1, 2)", 1}, {"x*y+1", 2.5f}, {"", 0}, {" \t", 0},
        {"12", 12}, {"1.5", 1.5f}, {".5", 0.5f}, {"5.", 5}, {"1e3", 1000}, {"2.5E-4", 2.5e-4f}, {"1E+2", 100},
        {"1.00000005960464477539062500001", 1.00000012f}, // correctly rounded: past the midpoint
        {"9999999", 9999999}, {"0000012", 12}, {"99999999", 1e8f}, {"4294967297", 4294967296.0f},
        {"16777217", 16777216}, {"1e39", INFINITY}, {"1e-50", 0}, {"1e-45", 1.4e-45f}, {"0.1", 0.1f},
        {"340282366920938463463374607431768211456", INFINITY}, {"0.0000000000000000000000000000000000000000000001", 0},
        {"f(2, 9)", 5}, {"g(3)", 7}, {"f(f(2, 0), x)", 26}, {"k()", 6}, {"f(x, y) * 2", 20}, {"m(1, 2, 3)", 231},
    };
    for (const char *locale : {"C", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) continue; // a comma locale, where installed
        for (const auto &[text, value] : rows) {
            const float got = parser_calc(s.p.get(), text);
            EXPECT_EQ(bits(got), bits(value)) << "'" << text << "': " << got << ", want " << value << " in " << locale;
            EXPECT_EQ(parser_errors(s.p.get(), nullptr), 0) << "'" << text << "'";
        }
    }
    std::setlocale(LC_ALL, "C");
}

// Each error with its code and place, and the value NaN; in a body, at the
// call. A check notes the traps of the grammar besides (kinds from 100 on).
TEST(Standard, ErrorsAndNotesWithTheirPlaces) {
    const std::pair<const char *, std::vector<Place>> rows[] = {
        {"2**3", {{11, 2, 1}}}, {"x = 1", {{110, 2, 1}, {11, 2, 1}}}, {"2x+1", {{11, 0, 2}}}, {"1e", {{11, 0, 2}}},
        {"1.2.3", {{11, 0, 5}}}, {"x # 2", {{11, 2, 1}}}, {"(1, 2)", {{11, 2, 1}}}, {"x & 1", {{11, 2, 1}}},
        {"1 : 2", {{11, 2, 1}}}, {"(1 ? 2) ", {{12, 6, 1}}}, {"\xc3\xa9", {{11, 0, 2}}}, {"*2", {{11, 0, 1}}},
        {"2+", {{12, 2, 0}}}, {"x ? 1", {{12, 5, 0}}}, {"max(1,)", {{12, 6, 1}}}, {"(1+)", {{12, 3, 1}}},
        {"max(1 ? 2, 3)", {{12, 9, 1}}}, {"()", {{12, 1, 1}}}, {"-", {{12, 1, 0}}},
        {"(1+2", {{13, 0, 1}}}, {"1+2)", {{13, 3, 1}}}, {"max (1, 2", {{13, 0, 5}}},
        {"zz+1+zz", {{14, 0, 2}, {14, 5, 2}}}, {"nope(2)*q", {{14, 0, 4}, {14, 8, 1}}}, {"x(2)", {{14, 0, 1}}},
        {"cos(1, 2)", {{15, 0, 9}}}, {"max()", {{15, 0, 5}}}, {"f(1)", {{15, 0, 4}}}, {"k(1)", {{15, 0, 4}}},
        {"1 2", {{16, 2, 1}}}, {"(x) y+1", {{16, 4, 3}}}, {"1 ? 2 : 3 4", {{16, 10, 1}}},
        {"r(1)", {{17, 0, 4}}}, {"1 + s(2)", {{17, 4, 4}}},
        {"d(1)", {{18, 0, 4}}}, {"2 * bad(1)", {{12, 4, 6}}},
        {"1 < x < 3", {{111, 6, 1}}}, {"x == y != 0", {{111, 7, 2}}}, {"1 <= x > 0", {{111, 7, 1}}}, {"(1 < x) < 3", {}}, {"1 < x == 1", {}},
        {"!x", {{112, 0, 1}}}, {"!(x < 1) && !!y", {{112, 13, 1}}},
    };
    Standard s;
    for (const auto &[text, want] : rows) {
        std::vector<Place> notes, errors;
        parser_check(s.p.get(), text, [](void *ctx, int kind, size_t offset, size_t length, const char *message) {
            EXPECT_GT(std::string(message).size(), 10u);
            static_cast<std::vector<Place> *>(ctx)->emplace_back(kind, offset, length);
        }, &notes);
        EXPECT_EQ(notes, want) << "check '" << text << "'";
        for (const Place &p : want)
            if (std::get<0>(p) < 100) errors.push_back(p);
        EXPECT_EQ(std::isnan(parser_calc(s.p.get(), text)), !errors.empty()) << "'" << text << "'";
        EXPECT_EQ(s.errors(), errors) << "'" << text << "'";
    }
    // The walk shows one leaf, the text, NaN.
    parser_calc(s.p.get(), "1 +");
    const std::vector<Visit> leaf = walk(s.p.get());
    ASSERT_EQ(leaf.size(), 1u);
    EXPECT_EQ(std::get<2>(leaf[0]), "1 +");
    // A name defined after its text was built builds it again, though the text is the same.
    EXPECT_TRUE(std::isnan(parser_calc(s.p.get(), "w*2")));
    parser_var(s.p.get(), "w", 4.0f);
    EXPECT_EQ(parser_calc(s.p.get(), "w*2"), 8.0f);
    EXPECT_TRUE(std::isnan(parser_calc(s.p.get(), "v*2")));
    parser_var(s.p.get(), "v", 5.0f);
    EXPECT_EQ(parser_eval(s.p.get()), 10.0f);
    // The defined grammar calling a standard function: error 18, the call left as one operand.
    parser_syntax(s.p.get(), PARSER_SYNTAX_DEFINED);
    EXPECT_EQ(parser_calc(s.p.get(), "1+k()"), 1.0f);
    EXPECT_EQ(s.errors(), (std::vector<Place>{{18, 2, 3}}));
}

// Only the part a conditional chooses runs, in the interpreter, in machine
// code past the tier, in bulk rows and, for the walk, as records; arguments
// of a user function run once each, before its body, used or not.
TEST(Standard, LazyPartsAndArgumentsOnceInEveryEvaluator) {
    struct Row {
        const char *text;
        float value;
        std::vector<int> ticks; // calls of tick(k) per evaluation
    };
    const Row rows[] = {
        {"x > 0 ? tick(1) : tick(2)", 1, {0, 1, 0}},   {"x < 0 ? tick(1) : tick(2)", 2, {0, 0, 1}},
        {"0 && tick(1)", 0, {0, 0}},                    {"tick(1) && tick(2)", 1, {0, 1, 1}},
        {"tick(0) && tick(2)", 0, {1, 0, 0}},           {"1 || tick(1)", 1, {0, 0}},
        {"tick(0) || tick(2)", 1, {1, 0, 1}},           {"if(x < 0, tick(1), tick(2))", 2, {0, 0, 1}},
        {"f(tick(1), tick(2))", 2, {0, 1, 1}},          {"f(tick(3), 0) + f(1, tick(2))", 12, {0, 0, 1, 1}},
        {"g(x > 1 ? tick(4) : tick(5))", 13, {0, 0, 0, 0, 1}},
        {"f(y, x) < 2 ? x : f(tick(1), tick(2))", 3, {0, 0, 0}},
    };
    constexpr int kRuns = static_cast<int>(lp::kNativeAfterRuns) + 6;
    for (const Row &row : rows) {
        for (const bool native : {false, true}) {
            Standard s(native);
            for (int run = 0; run < kRuns; ++run) ASSERT_EQ(parser_calc(s.p.get(), row.text), row.value) << row.text;
            EXPECT_EQ(s.p->program->native != nullptr, native && LIB_PARSE_TEST_JIT) << row.text;
            for (size_t k = 0; k < 8; ++k)
                EXPECT_EQ(s.ticks[k], k < row.ticks.size() ? row.ticks[k] * kRuns : 0) << row.text << " tick " << k;
            // The walk shows a call not made as never evaluated: CALCULATE, 0.
            const std::vector<Visit> visits = walk(s.p.get());
            for (size_t i = 0; i + 1 < visits.size(); ++i) {
                if (std::get<2>(visits[i]) != "tick") continue;
                const size_t k = static_cast<size_t>(std::stoi(std::get<2>(visits[i + 1]))); // its argument
                const bool made = k < row.ticks.size() && row.ticks[k] > 0;
                EXPECT_EQ(std::get<4>(visits[i]), made ? PARSER_STATE_DONE : PARSER_STATE_CALCULATE) << row.text;
                if (!made) {
                    EXPECT_EQ(std::get<5>(visits[i]), 0u) << row.text;
                }
            }
        }
        Standard s;
        std::vector<float> xs(5000, 3.0f), out(xs.size());
        const char *names[] = {"x"};
        const float *columns[] = {xs.data()};
        ASSERT_EQ(parser_calc_bulk(s.p.get(), row.text, names, columns, 1, xs.size(), out.data()), 0);
        for (size_t k = 0; k < row.ticks.size(); ++k)
            EXPECT_EQ(s.ticks[k], row.ticks[k] * static_cast<int>(xs.size())) << row.text << " bulk tick " << k;
        EXPECT_EQ(out.back(), row.value) << row.text;
    }
}

// A text of random operators, calls and operands of the handle Standard
// makes, at most DEPTH levels deep.
std::string random_text(std::mt19937 &random, int depth) {
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    if (depth == 0 || pick(4) == 0) {
        static const char *const operands[] = {"x", "y", "A", "2", "0.5", "3", "pi", "e", "k()"};
        return operands[pick(9)];
    }
    static const char *const binary[] = {"+", "-", "*", "/", "^", "%", "<", "==", ">="};
    switch (pick(6)) {
    case 0: return "-" + random_text(random, depth - 1);
    case 1: return "(" + random_text(random, depth - 1) + ")";
    case 2: return "sin(" + random_text(random, depth - 1) + ")";
    case 3: return "max(" + random_text(random, depth - 1) + ", " + random_text(random, depth - 1) + ")";
    case 4: return "tick(" + std::to_string(pick(8)) + ")*" + random_text(random, depth - 1); // not folded
    default: return random_text(random, depth - 1) + binary[pick(9)] + random_text(random, depth - 1);
    }
}

// The standard grammar lists its nodes in post-order as it makes them, and
// the program is flattened from that list instead of by a walk of the tree:
// the same steps, leaves, folded constants, tape and value as the walk's.
// A tree with a conditional or a user function is not listed, and is walked.
TEST(Standard, ListedNodesMakeTheProgramTheWalkMakes) {
    Standard s;
    parser_func(s.p.get(), "both(a, b)", "a && b || !a");
    std::vector<std::string> texts = {"x+y", "2*(x+1)-cos(y)", "x*(2+3)^2", "-(1+2)*x", "max(1, 2)*tick(3)+abs(x)",
                                      "(x+1)*(y-2)/(x*y+3)", "x^2 + pi", "sin(1)*x + abs(-2)", "tick(1+1) - -x"};
    std::mt19937 random(5);
    for (int k = 0; k < 300; ++k) texts.push_back(random_text(random, 6));
    // A tree that is not listed is bounded by the nodes its build made:
    // the bound must hold the room the walk's count finds, && and || their
    // conditionals' steps too, in a function's body as well.
    std::string chain = "x";
    for (int k = 0; k < 200; ++k) chain += k % 3 == 0 ? " || y" : " && x";
    for (const char *unlisted : {"x > 0 ? 1 : 2", "x && y", "f(x, 1) + 2", "if(x, 1, y)", "x || y", "both(x, y) && y",
                                 "x && y || x && (y || 1)", "x ? y && 1 : both(1, x)", "if(x && y, x || y, g(1))"})
        texts.push_back(unlisted);
    texts.push_back(chain);
    size_t listed_count = 0;
    for (const std::string &text : texts) {
        lp::Arena arena;
        lp::NodeOrder order;
        lp::BuildWatch watch;
        watch.order = &order;
        const TreeNode *tree =
            lp::build_tree(s.p.get(), lp::BuildFor::ASIDE, &arena, text.c_str(), text.size(), watch);
        ASSERT_NE(tree, nullptr) << text;
        const bool expect_listed = text.find_first_of("?&|") == std::string::npos && text.find("f(") == std::string::npos &&
                                   text.find("k()") == std::string::npos; // user functions, and if
        EXPECT_EQ(order.usable, expect_listed) << text;
        listed_count += order.usable;
        lp::CheckPoint check(nullptr);
        lp::Program *listed = lp::program_build(tree, &s.p->var_index, s.p->generation, nullptr, check, nullptr, &order);
        lp::Program *walked = lp::program_build(tree, &s.p->var_index, s.p->generation, nullptr, check);
        ASSERT_NE(listed, nullptr) << text;
        ASSERT_NE(walked, nullptr) << text;
        if (!order.usable) {
            EXPECT_GE(order.room, walked->capacity) << text; // the count sized the walked one's arrays
        }
        ASSERT_EQ(listed->order_count, walked->order_count) << text;
        ASSERT_EQ(listed->leaf_count, walked->leaf_count) << text;
        ASSERT_EQ(listed->op_count, walked->op_count) << text;
        ASSERT_EQ(listed->constant_count, walked->constant_count) << text;
        EXPECT_EQ(listed->max_stack, walked->max_stack) << text;
        EXPECT_EQ(listed->call_count, walked->call_count) << text;
        for (size_t i = 0; i < listed->order_count; ++i) EXPECT_EQ(listed->order[i], walked->order[i]) << text;
        for (size_t i = 0; i < listed->leaf_count; ++i) {
            const lp::LeafStep &a = listed->leaves[i], &b = walked->leaves[i];
            EXPECT_EQ(a.tree, b.tree) << text;
            EXPECT_TRUE(same_value(a.constant, b.constant)) << text;
            EXPECT_EQ(a.is_name, b.is_name) << text;
            EXPECT_EQ(a.constants_from, b.constants_from) << text;
            EXPECT_EQ(a.constants_to, b.constants_to) << text;
        }
        for (size_t i = 0; i < listed->op_count; ++i) {
            EXPECT_EQ(listed->ops[i].node, walked->ops[i].node) << text;
            EXPECT_EQ(listed->ops[i].op, walked->ops[i].op) << text;
            EXPECT_EQ(listed->ops[i].call, walked->ops[i].call) << text;
        }
        for (size_t i = 0; i < listed->constant_count; ++i)
            EXPECT_TRUE(same_value(listed->constant_values[i], walked->constant_values[i])) << text;
        ASSERT_EQ(listed->tape_count, walked->tape_count) << text;
        for (size_t i = 0; i < listed->tape_count; ++i) EXPECT_EQ(listed->tape[i].code, walked->tape[i].code) << text;
        EXPECT_TRUE(same_value(lp::program_execute(listed), lp::program_execute(walked))) << text;
        lp::program_free(listed);
        lp::program_free(walked);
    }
    EXPECT_GT(listed_count, texts.size() / 2); // most texts take the listed path
}

// A tree of a shape no builder makes, as a builder's fault would leave it,
// is refused by the walk that checks each node, whether a bound or a count
// sized the program: never walked into a missing child. Builds with
// assertions stop at it instead.
TEST(Standard, ShapesNoBuilderMakesAreRefused) {
    Standard s;
    char x[] = "x", one[] = "1";
    lp::NodeData leaf_x{x, lp::OP_OPERAND, lp::CALCULATE, 0.0f}, leaf_1{one, lp::OP_OPERAND, lp::CALCULATE, 0.0f};
    lp::NodeData no_text{nullptr, lp::OP_OPERAND, lp::CALCULATE, 0.0f};
    lp::NodeData add{nullptr, lp::OP_ADD, lp::CALCULATE, 0.0f}, cosine{nullptr, lp::OP_COS, lp::CALCULATE, 0.0f};
    lp::NodeData unknown{nullptr, 999, lp::CALCULATE, 0.0f};
    TreeNode a{&leaf_x, nullptr, nullptr}, b{&leaf_1, nullptr, nullptr};
    struct Case {
        const char *name;
        TreeNode bad;
    };
    const Case cases[] = {
        {"an operator without its right operand", TreeNode{&add, &a, nullptr}},
        {"an operator without operands", TreeNode{&add, nullptr, nullptr}},
        {"a leaf with a child", TreeNode{&leaf_x, &b, nullptr}},
        {"a leaf without its text", TreeNode{&no_text, nullptr, nullptr}},
        {"a function with a left operand", TreeNode{&cosine, &a, &b}},
        {"no operation", TreeNode{&unknown, &a, &b}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool nested : {false, true}) {
            lp::NodeData times{nullptr, lp::OP_MUL, lp::CALCULATE, 0.0f};
            TreeNode bad = c.bad, root{&times, &b, &bad};
            const TreeNode *tree = nested ? &root : &bad;
            for (const bool bounded : {false, true}) {
                lp::NodeOrder order;
                order.room = bounded ? 16 : 0;
                lp::CheckPoint check(nullptr);
                auto build = [&] {
                    return lp::program_build(tree, &s.p->var_index, s.p->generation, nullptr, check, nullptr, &order);
                };
#ifdef NDEBUG
                EXPECT_EQ(build(), nullptr) << nested << bounded;
#else
                EXPECT_DEATH(build(), "a branch no input reaches") << nested << bounded;
#endif
            }
        }
    }
}

// The limits bound inlining: depth, count, bytes; the walk shows a call's
// arguments, then its body, whose parameters are leaves named as they.
TEST(Standard, UserFunctionsWithinTheLimits) {
    Standard s;
    parser_func(s.p.get(), "twice(a)", "a + a");
    std::string text = "1";
    for (int k = 0; k < 20; ++k) text = "twice(" + text + ")";
    EXPECT_EQ(parser_calc(s.p.get(), text.c_str()), 1048576.0f); // 20 calls, arguments by value: no blow-up
    parser_func(s.p.get(), "p(a)", "q(a) * 2");
    parser_func(s.p.get(), "q(a)", "a - 1");
    EXPECT_EQ(parser_calc(s.p.get(), "p(5)"), 8.0f);
    EXPECT_EQ(walk(s.p.get()), (std::vector<Visit>{
        {0, 0, "p", PARSER_OP_FUNCTION, 2, bits(8)}, {1, 1, "5", PARSER_OP_OPERAND, 2, bits(5)},
        {1, 1, "*", 3, 2, bits(8)}, {2, 1, "q", PARSER_OP_FUNCTION, 2, bits(4)}, {3, 1, "a", PARSER_OP_OPERAND, 2, bits(5)},
        {3, 1, "-", 1, 2, bits(4)}, {4, 1, "a", PARSER_OP_OPERAND, 2, bits(5)}, {4, 2, "1", PARSER_OP_OPERAND, 2, bits(1)},
        {2, 2, "2", PARSER_OP_OPERAND, 2, bits(2)}}));
    // Each limit at its edge: the least value that lets the call through.
    // p(5) nests q in p, reads 12 + 9 bytes of body and prototype, inlines 8 + 5 of body.
    const std::tuple<int, int, const char *, float> limits[] = {
        {PARSER_LIMIT_SUBST_DEPTH, 2, "p(5)", 8}, {PARSER_LIMIT_SUBST_COUNT, 20, text.c_str(), 1048576},
        {PARSER_LIMIT_SUBST_BYTES, 21, "p(5)", 8}, {PARSER_LIMIT_TREE_GROWTH, 13, "p(5)", 8}};
    for (const auto &[which, least, call, value] : limits) {
        const long long was = parser_limit(s.p.get(), which, least - 1);
        parser_calc(s.p.get(), "0"); // the limits apply to the next tree built
        EXPECT_TRUE(std::isnan(parser_calc(s.p.get(), call))) << which;
        EXPECT_EQ(std::get<0>(s.errors().at(0)), PARSER_ERR_SUBSTITUTION_LIMIT) << which;
        parser_limit(s.p.get(), which, least);
        parser_calc(s.p.get(), "0");
        EXPECT_EQ(parser_calc(s.p.get(), call), value) << which;
        parser_limit(s.p.get(), which, was);
    }
    // Prototypes the standard grammar refuses; and its names listed.
    for (const char *proto : {"f(a, a)", "f(1)", "f a", "cos(a)", "f(a", "f(a) x", "(a)", "f(a,)"})
        EXPECT_EQ(parser_func(s.p.get(), proto, "1"), 1) << proto;
    std::vector<std::tuple<int, size_t, size_t, std::string>> names;
    parser_names(s.p.get(), "sqrt(x) + p(A) + zz", [](void *ctx, int kind, size_t offset, size_t length, const char *name) {
        static_cast<decltype(names) *>(ctx)->emplace_back(kind, offset, length, name);
    }, &names);
    EXPECT_EQ(names, (decltype(names){{PARSER_NAME_HOST, 0, 7, "sqrt"}, {PARSER_NAME_VARIABLE, 5, 1, "x"},
                                      {PARSER_NAME_FUNCTION, 10, 4, "p"}, {PARSER_NAME_VARIABLE, 12, 1, "A"},
                                      {PARSER_NAME_FUNCTION, 10, 4, "q"}, {PARSER_NAME_UNKNOWN, 17, 2, "zz"}}));
    // A call never closed keeps its name's place.
    names.clear();
    parser_names(s.p.get(), "1 + sqrt(x", [](void *ctx, int kind, size_t offset, size_t length, const char *name) {
        static_cast<decltype(names) *>(ctx)->emplace_back(kind, offset, length, name);
    }, &names);
    EXPECT_EQ(names, (decltype(names){{PARSER_NAME_HOST, 4, 4, "sqrt"}, {PARSER_NAME_VARIABLE, 9, 1, "x"}}));
}

// The switch: what it returns and refuses, and that it rebuilds the kept text.
TEST(Standard, SyntaxSwitch) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 2.0f);
    parser_native_func(p.get(), "two", 0, [](void *, const float *, int) { return 2.0f; }, nullptr, 0);
    // The defined grammar: (2*x)^2, evaluated past the tier into machine code.
    for (int i = 0; i < 100; ++i) EXPECT_EQ(parser_calc(p.get(), "2*x^two()"), 16.0f);
    EXPECT_EQ(parser_syntax(p.get(), -1), PARSER_SYNTAX_DEFINED);
    EXPECT_EQ(parser_syntax(p.get(), 2), -1);
    EXPECT_EQ(parser_syntax(nullptr, 1), -1);
    EXPECT_EQ(parser_syntax(p.get(), PARSER_SYNTAX_STANDARD), PARSER_SYNTAX_DEFINED);
    EXPECT_EQ(parser_eval(p.get()), 8.0f); // the same text, read again
    EXPECT_EQ(parser_calc(p.get(), "2*x^two()"), 8.0f);
    EXPECT_EQ(parser_syntax(p.get(), -5), PARSER_SYNTAX_STANDARD);
    // Refused from a callback, even to read.
    parser_native_func(p.get(), "probe", 0, [](void *ctx, const float *, int) {
        return static_cast<float>(parser_syntax(static_cast<Parser *>(ctx), -1));
    }, p.get(), 0);
    EXPECT_EQ(parser_calc(p.get(), "probe()"), -1.0f);
    // An interrupt from the error handler stops the build at the next token.
    exception_set_handler([](void *ctx, const char *, int, int) { parser_interrupt(static_cast<Parser *>(ctx)); }, p.get());
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), "zz + x + y")));
    exception_set_handler(nullptr, nullptr);
    int code = -1;
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_INTERRUPTED);
    EXPECT_TRUE(std::isnan(parser_eval(p.get()))); // the tree of a text not read: NaN, as with any error
}

// A text over the length limit is NaN like any text with an error here,
// through every entry point and in every row of bulk; the handle goes on.
TEST(Standard, ARefusedTextIsNaNLikeAnyError) {
    ParserPtr p(parser_new());
    parser_syntax(p.get(), PARSER_SYNTAX_STANDARD);
    parser_var(p.get(), "x", 1.0f);
    parser_limit(p.get(), PARSER_LIMIT_TEXT_BYTES, 8);
    const char *text = "x + 1 + 2 + 3";
    int code = -1;
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), text)));
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_TEXT_TOO_LONG);
    EXPECT_TRUE(std::isnan(parser_eval(p.get())));
    const char *names[] = {"x"};
    const float xs[5] = {1, 2, 3, 4, 5};
    const float *columns[] = {xs};
    float out[5];
    EXPECT_EQ(parser_calc_bulk(p.get(), text, names, columns, 1, 5, out), 0); // the call itself succeeded
    for (const float v : out) EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_TEXT_TOO_LONG);
    EXPECT_EQ(parser_calc(p.get(), "x + 1"), 6.0f);
    EXPECT_EQ(parser_eval(p.get()), 6.0f);
}

// With the math set, the standard grammar reads what users type for the
// natural logarithm and the constants, with the bits of logn, pi() and e();
// a variable, a host function or a user function of the name comes first.
// Without the set, and in the defined grammar, nothing changes.
TEST(Standard, MathSetReadsTheNamesUsersType) {
    ParserPtr p(parser_new());
    parser_syntax(p.get(), PARSER_SYNTAX_STANDARD);
    int code = -1;
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), "log(8)")));
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), "pi")));
    EXPECT_EQ(parser_errors(p.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_UNKNOWN_NAME);

    parser_math(p.get());
    EXPECT_EQ(bits(parser_calc(p.get(), "pi")), bits(parser_calc(p.get(), "pi()"))); // no stale tree
    EXPECT_EQ(bits(parser_calc(p.get(), "e")), bits(parser_calc(p.get(), "e()")));
    EXPECT_EQ(parser_calc(p.get(), "pi"), static_cast<float>(3.14159265358979323846));
    float *x = parser_var_ref(p.get(), "x");
    for (const float v : {8.0f, 0.5f, 1e-30f, 3e38f, 0.0f, -2.0f}) {
        *x = v;
        const uint32_t logn = bits(parser_calc(p.get(), "logn(x)"));
        EXPECT_EQ(bits(parser_calc(p.get(), "log(x)")), logn) << v;
        EXPECT_EQ(bits(parser_calc(p.get(), "ln(x)")), logn) << v;
    }
    *x = 8.0f;
    EXPECT_EQ(parser_calc(p.get(), "x > 0 ? log(x) : pi"), parser_calc(p.get(), "logn(8)"));
    *x = -1.0f;
    EXPECT_EQ(parser_calc(p.get(), "x > 0 ? log(x) : pi"), parser_calc(p.get(), "pi()"));
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), "pix"))); // only the names themselves
    EXPECT_EQ(parser_names(p.get(), "2*pi", nullptr, nullptr), 0); // a constant, not a variable

    // A variable of the name wins, even over a tree built before it.
    EXPECT_EQ(parser_calc(p.get(), "e + 1"), parser_calc(p.get(), "e() + 1"));
    parser_var(p.get(), "e", 10.0f);
    EXPECT_EQ(parser_calc(p.get(), "e + 1"), 11.0f);
    // So do a host function and a user function named log.
    parser_func(p.get(), "ln(a)", "a + 100");
    EXPECT_EQ(parser_calc(p.get(), "ln(1)"), 101.0f);
    parser_native_func(p.get(), "log", 1, [](void *, const float *a, int) { return a[0] * 2; }, nullptr, PARSER_NATIVE_PURE);
    EXPECT_EQ(parser_calc(p.get(), "log(4)"), 8.0f);

    // The defined grammar keeps its own reading: log( is no call there,
    // and pi reads a variable whose name begins with it.
    ParserPtr d(parser_new());
    parser_math(d.get());
    EXPECT_EQ(parser_calc(d.get(), "log(8)"), 0.0f);
    EXPECT_EQ(parser_errors(d.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_UNKNOWN_FUNCTION);
    EXPECT_EQ(parser_calc(d.get(), "pi"), 0.0f);
    parser_var(d.get(), "pix", 5.0f);
    EXPECT_EQ(parser_calc(d.get(), "pi+e"), 5.0f);
}

// Each error as one line an end user can act on: the token, and the fix.
TEST(Standard, ErrorMessagesNameTheTokenAndTheFix) {
    ParserPtr p(parser_new());
    parser_syntax(p.get(), PARSER_SYNTAX_STANDARD);
    parser_math(p.get());
    parser_var(p.get(), "total", 1.0f);
    const auto first_message = [&](const char *text) {
        parser_calc(p.get(), text);
        char line[256];
        const int n = parser_error_message(p.get(), 0, line, sizeof line);
        EXPECT_EQ(n, static_cast<int>(std::strlen(line))) << text;
        return std::string(line);
    };
    const std::pair<const char *, const char *> kCases[] = {
        {"sin x", "'sin' is a function: write sin(x)"},
        {"foo(1)", "unknown function 'foo'"},
        {"flor(total)", "unknown function 'flor': did you mean 'floor'?"},
        {"totl + 1", "unknown name 'totl': did you mean 'total'?"},
        {"q + 1", "unknown name 'q'"}, // a name this short is near everything: no guess
        {"total \xC3\x97 2", "'\xC3\x97' is not an operator: use '*'"},
        {"total \xE2\x88\x92 2", "'\xE2\x88\x92' is not an operator: use '-'"},
        {"(1 + 2", "this '(' is never closed"},
        {"1 + 2)", "this ')' closes nothing"},
        {"2 +", "the text ends where a value is needed"},
        {"total = 1", "'=' is no operator: '==' compares"},
        {"1 2", "'2' follows a whole formula: an operator is missing before it"},
        {"cos(1, 2)", "wrong number of arguments in 'cos(1, 2)'"},
    };
    for (const auto &[text, message] : kCases) EXPECT_EQ(first_message(text), message) << text;

    // A character of several bytes is one token: its place covers it whole.
    parser_calc(p.get(), "total \xC3\x97 2");
    size_t offset = 0, length = 0;
    parser_error_at(p.get(), 0, nullptr, &offset, &length);
    EXPECT_EQ(std::make_pair(offset, length), std::make_pair(size_t{6}, size_t{2}));

    // As snprintf: cut to the room given, always terminated, the whole length returned.
    parser_calc(p.get(), "foo(1)");
    char small[8] = "xxxxxxx";
    EXPECT_EQ(parser_error_message(p.get(), 0, small, sizeof small), 22);
    EXPECT_STREQ(small, "unknown");
    EXPECT_EQ(parser_error_message(p.get(), 0, nullptr, 0), 22);
    EXPECT_EQ(parser_error_message(p.get(), 1, small, sizeof small), -1);
    EXPECT_EQ(parser_error_message(nullptr, 0, small, sizeof small), -1);

    // The defined grammar's errors, and a text not kept.
    ParserPtr d(parser_new());
    parser_calc(d.get(), "g(2)");
    char line[128];
    parser_error_message(d.get(), 0, line, sizeof line);
    EXPECT_STREQ(line, "unknown function 'g'");
    parser_limit(d.get(), PARSER_LIMIT_TEXT_BYTES, 4);
    parser_calc(d.get(), "1+2+3");
    parser_error_message(d.get(), 0, line, sizeof line);
    EXPECT_STREQ(line, "the text is longer than the limit of 4 bytes");
}

// A million brackets deep, with a negation every eight: nothing recurses.
TEST(Standard, AMillionBracketsDeep) {
    constexpr size_t kDepth = 1000000;
    ParserPtr p(parser_new());
    parser_syntax(p.get(), PARSER_SYNTAX_STANDARD);
    parser_var(p.get(), "x", 1.0f);
    parser_limit(p.get(), PARSER_LIMIT_TEXT_BYTES, 4 * kDepth);
    std::string text;
    for (size_t k = 0; k < kDepth / 8; ++k) text += k % 2 == 0 ? "-((((((((" : " ! ((((((((";
    text += "x" + std::string(kDepth, ')');
    EXPECT_EQ(parser_calc(p.get(), text.c_str()), -1.0f); // -(!(...-(!x))): from inside 0, -0, 1, -1, 0, ...
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
    EXPECT_EQ(walk(p.get()).size(), kDepth / 8 + 1);
    EXPECT_EQ(parser_check(p.get(), text.c_str(), nullptr, nullptr), static_cast<int>(kDepth / 16)); // each ! of a number
    text.pop_back();
    EXPECT_TRUE(std::isnan(parser_calc(p.get(), text.c_str())));
    EXPECT_EQ(parser_errors(p.get(), nullptr), 1);
}
