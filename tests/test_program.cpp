// test_program.cpp - the compiled program against the reference evaluator: same bits, same node records.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "diagnostics.h"
#include "lib_parse_internal.h"
#include "program.h"

namespace {

struct ParserFree {
    void operator()(Parser *p) const { parser_destroy(p); }
};
struct TreeFree {
    void operator()(TreeNode *n) const { btree_free(n, lp::parser_bt_node_free); }
};
using ParserPtr = std::unique_ptr<Parser, ParserFree>;
using TreePtr = std::unique_ptr<TreeNode, TreeFree>;

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

TreeNode *leaf(const char *text) {
    TreeNode *n = btree_new();
    char *copy = static_cast<char *>(std::malloc(std::strlen(text) + 1));
    std::strcpy(copy, text);
    btree_fill(n, lp::fill_operand_node(copy));
    return n;
}

TreeNode *op_node(int32_t id, TreeNode *left, TreeNode *right) {
    TreeNode *n = btree_new();
    btree_fill(n, lp::fill_operator_node(id));
    n->left = left;
    n->right = right;
    return n;
}

// A small deterministic generator, so the texts are the same on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 16);
    }
    size_t below(size_t n) { return next() % n; }
    template <size_t N>
    const char *pick(const char *const (&items)[N]) { return items[below(N)]; }

private:
    uint64_t state_;
};

const char *const kNumbers[] = {"0", "1", "2", "2.5", "0.1", "10", "3.", ".5", "-1", "1e3", "A", "", " 7",
                                "16777217", "1e39", "99999999999999999999999999999999999999999"};
const char *const kNames[] = {"x", "y", "xy", "z", "zz", "B", "x1", "q", "x ", "_", "f(1)", "g(x,2)", "h(3)"};
const char *const kBinary[] = {"+", "-", "*", "/", "%", "^"};
const char *const kFunctions[] = {"cos", "sin", "atan", "tan", "exp", "logn", "log2", "log10"};
const char *const kJunk[] = {"(", ")", "+", "-", "^", "x", "2", "cos", ",", " ", "\xff", "e", "%"};

// A well-formed text of bounded depth, or (one time in eight) a random
// sequence of pieces that may be anything.
std::string random_text(Random &rng, int depth) {
    if (depth == 0 && rng.below(8) == 0) {
        std::string junk;
        for (size_t n = rng.below(12); n > 0; --n) junk += rng.pick(kJunk);
        return junk;
    }
    switch (depth >= 4 ? 0 : rng.below(6)) {
    case 0: return rng.below(2) ? rng.pick(kNumbers) : rng.pick(kNames);
    case 1: return "(" + random_text(rng, depth + 1) + ")";
    case 2: return std::string(rng.pick(kFunctions)) + "(" + random_text(rng, depth + 1) + ")";
    default: {
        std::string text = random_text(rng, depth + 1);
        for (size_t n = 1 + rng.below(3); n > 0; --n) text += rng.pick(kBinary) + random_text(rng, depth + 1);
        return text;
    }
    }
}

float random_value(Random &rng) {
    static const float special[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 3.0f, 1e30f, -1e30f, INFINITY, -INFINITY, NAN, 2147483648.0f};
    if (rng.below(3) == 0) return special[rng.below(sizeof special / sizeof special[0])];
    return (static_cast<float>(rng.below(20001)) - 10000.0f) / 64.0f;
}

struct NodeView {
    std::string expr;
    int op, state, depth, side;
    float value;
};

std::vector<NodeView> view(const Parser *p) {
    std::vector<NodeView> nodes;
    parser_walk(
        p,
        [](void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
            static_cast<std::vector<NodeView> *>(ctx)->push_back(
                NodeView{expr != nullptr ? expr : "(null)", op, state, depth, side, value});
        },
        &nodes);
    return nodes;
}

// Equal bits, or both NaN.
bool same_value(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }

// Empty when the two handles' trees hold the same texts, operations, states and values.
std::string compare_trees(const Parser *fast, const Parser *reference) {
    const std::vector<NodeView> a = view(fast), b = view(reference);
    if (a.size() != b.size()) return "node count " + std::to_string(a.size()) + " vs " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].expr != b[i].expr || a[i].op != b[i].op || a[i].depth != b[i].depth || a[i].side != b[i].side)
            return "shape differs at node " + std::to_string(i);
        if (a[i].state != b[i].state || !same_value(a[i].value, b[i].value))
            return "node " + std::to_string(i) + " '" + a[i].expr + "': state " + std::to_string(a[i].state) + " value " +
                   std::to_string(a[i].value) + " vs state " + std::to_string(b[i].state) + " value " +
                   std::to_string(b[i].value);
    }
    return {};
}

void define(Parser *a, Parser *b, const char *name, float value) {
    parser_var(a, name, value);
    parser_var(b, name, value);
}

void define_functions(Parser *p) {
    parser_func(p, "f(a)", "a*2");
    parser_func(p, "g(a,b)", "a-b");
}

// The reference evaluation, as parser_calc computed it before programs existed.
float reference_calc(Parser *p) {
    lp::parser_clean(p->tree);
    return lp::parser_bt_calc(p->tree, p->vars);
}

TEST(Program, RandomTextsGiveTheReferenceBitsAndNodeRecords) {
    const int previous_level = dbg_get_level();
    dbg_set_level(0);
    exception_set_handler([](void *, const char *, int, int) {}, nullptr);
    Random rng(20240611);
    int compiled = 0;
    for (int round = 0; round < 1500; ++round) {
        const std::string text = random_text(rng, 0);
        ParserPtr fast(parser_new()), reference(parser_new());
        define_functions(fast.get());
        define_functions(reference.get());
        // Some names get variables before the text is built, some after:
        // the program must bind the late ones when they appear.
        for (size_t n = rng.below(4); n > 0; --n) define(fast.get(), reference.get(), rng.pick(kNames), random_value(rng));
        parser_expand(reference.get(), text.c_str());
        for (int pass = 0; pass < 4; ++pass) {
            const float got = parser_calc(fast.get(), text.c_str());
            const float want = reference_calc(reference.get());
            ASSERT_TRUE(same_value(got, want)) << "text '" << text << "' pass " << pass << ": " << got << " vs " << want;
            const std::string difference = compare_trees(fast.get(), reference.get());
            ASSERT_TRUE(difference.empty()) << "text '" << text << "' pass " << pass << ": " << difference;
            if (rng.below(2)) define(fast.get(), reference.get(), rng.pick(kNames), random_value(rng));
            else define(fast.get(), reference.get(), "x", random_value(rng));
        }
        compiled += fast->program != nullptr ? 1 : 0;
    }
    EXPECT_EQ(compiled, 1500) << "every expanded tree should run as a program";
    exception_set_handler(nullptr, nullptr);
    dbg_set_level(previous_level);
}

// Name binding follows the variable list as it grows: the newest variable
// whose name begins with the text, and the node's own value without one.
TEST(Program, NamesBindAgainWhenAVariableIsAdded) {
    struct Step {
        const char *name; // defined (or updated) before the calculation
        float value;
        float expected;   // of "x*1+zz"
    };
    const Step steps[] = {
        {"y", 1.0f, 0.0f},     // x and zz unbound: both keep 0
        {"xy", 5.0f, 5.0f},    // x binds to xy by prefix
        {"x", 2.0f, 2.0f},     // the newer x is found first
        {"xy", 7.0f, 2.0f},    // an update changes no binding
        {"zzz", 0.5f, 2.5f},   // zz binds to zzz
        {"x", -1.0f, -0.5f},   // value update only
    };
    ParserPtr p(parser_new());
    for (const Step &s : steps) {
        parser_var(p.get(), s.name, s.value);
        const float got = parser_calc(p.get(), "x*1+zz");
        EXPECT_EQ(bits(got), bits(s.expected)) << "after " << s.name << "=" << s.value << ": " << got;
    }
    // An unbound name keeps the value an earlier evaluation stored in its node.
    ParserPtr q(parser_new());
    parser_var(q.get(), "ab", 4.0f);
    EXPECT_EQ(parser_calc(q.get(), "a+0"), 4.0f);
    EXPECT_NE(q->program, nullptr);
}

// parser_expand replaces the tree and its program: each text keeps its own value.
TEST(Program, ExpandCalledDirectlyReplacesTheProgram) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 3.0f);
    EXPECT_EQ(parser_calc(p.get(), "x+1"), 4.0f);
    parser_expand(p.get(), "x*10");
    EXPECT_EQ(parser_calc(p.get(), "x*10"), 30.0f);
    EXPECT_EQ(parser_calc(p.get(), "x+1"), 4.0f);
    parser_var(p.get(), "x", 2.0f);
    EXPECT_EQ(parser_calc(p.get(), "x+1"), 3.0f);
}

// A sum whose operation id is then overwritten.
TreeNode *with_id(int32_t id) {
    lp::parser_init(); // the table gives the operator's symbol
    TreeNode *n = op_node(lp::OP_ADD, leaf("1"), leaf("2"));
    static_cast<lp::NodeData *>(n->data)->op = id;
    return n;
}

// Trees parser_bt_calc handles but no expansion builds have no program;
// parser_calc then takes the reference path.
TEST(Program, HandBuiltShapesAreLeftToTheReferencePath) {
    struct Shape {
        const char *what;
        TreeNode *(*build)();
    };
    const Shape shapes[] = {
        {"operation id 15", [] { return with_id(15); }},
        {"negative operation id", [] { return with_id(-1); }},
        {"sum without right child", [] { return op_node(lp::OP_ADD, leaf("1"), nullptr); }},
        {"function with a left child", [] { return op_node(lp::OP_COS, leaf("1"), leaf("0")); }},
        {"leaf with a child", [] {
             TreeNode *n = leaf("1");
             n->left = leaf("2");
             return n;
         }},
    };
    for (const Shape &s : shapes) {
        TreePtr tree(s.build());
        EXPECT_EQ(lp::program_build(tree.get(), nullptr, 0), nullptr) << s.what;
    }
    // Constant subtrees are folded, yet every node still ends DONE with its value.
    ParserPtr p(parser_new());
    EXPECT_EQ(bits(parser_calc(p.get(), "cos(0)*2+x")), bits(2.0f));
    for (const NodeView &n : view(p.get())) EXPECT_EQ(n.state, PARSER_STATE_DONE) << n.expr;
    ASSERT_NE(p->program, nullptr);
    EXPECT_EQ(p->program->op_count, 1u); // only the "+" over the name is computed
}

// Number texts are read the same whatever locale the host has set.
TEST(Program, NumbersIgnoreTheProcessLocale) {
    const char *locale = std::setlocale(LC_ALL, "de_DE.UTF-8");
    if (locale == nullptr) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed; generate it to run this test";
    struct Row {
        const char *text;
        float expected;
    };
    const Row rows[] = {{"2.5", 2.5f}, {"x*0.5", 1.5f}, {" -0.25", -0.25f}, {"2,5", 2.0f}, {"1.5+1.25", 2.75f}};
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 3.0f);
    for (const Row &r : rows) {
        EXPECT_EQ(bits(parser_calc(p.get(), r.text)), bits(r.expected)) << r.text;
        EXPECT_EQ(bits(reference_calc(p.get())), bits(r.expected)) << r.text;
    }
    std::setlocale(LC_ALL, "C");
}

} // namespace
