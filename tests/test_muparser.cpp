// test_muparser.cpp - the standard grammar against muParser: random texts read the same way by both, and the
// differences between the two grammars, each shown.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <muParser.h>

#include "lib_parse.h"

namespace {

// The library's % on the doubles of muParser: saturated truncation to 32-bit integers.
template <typename T>
int64_t saturated(T v) {
    if (std::isnan(v)) return INT32_MIN;
    return static_cast<int64_t>(std::fmax(std::fmin(std::trunc(static_cast<double>(v)), INT32_MAX), INT32_MIN));
}
template <typename T>
T remainder_of(T l, T r) {
    const int64_t a = saturated(l), b = saturated(r);
    return static_cast<T>(static_cast<double>(b == 0 ? a : a % b));
}
double mu_remainder(double l, double r) { return remainder_of(l, r); }
double mu_not(double v) { return v == 0 ? 1 : 0; }
double mu_logn(double v) { return std::log(v); }

// muParser with x, y, z and what the standard grammar has that it lacks:
// %, ! and logn, defined as the library computes them.
struct MuParser {
    mu::Parser p;
    double x = 0, y = 0, z = 0;
    MuParser() {
        p.DefineVar("x", &x);
        p.DefineVar("y", &y);
        p.DefineVar("z", &z);
        p.DefineOprt("%", mu_remainder, mu::prMUL_DIV, mu::oaLEFT, true);
        p.DefineInfixOprt("!", mu_not);
        p.DefineFun("logn", mu_logn);
    }
    // The value, or NaN with *ERROR set when muParser refuses the text.
    double eval(const std::string &text, bool *error) {
        try {
            p.SetExpr(text);
            *error = false;
            return p.Eval();
        } catch (const mu::Parser::exception_type &) {
            *error = true;
            return NAN;
        }
    }
};

enum Op { NUM, VAR, ADD, SUB, MUL, DIV, MOD, POW, LT, LE, GT, GE, EQ, NE, AND, OR, NEG, NOT, SEL, FUN };
const char *const kSymbols[] = {"", "", "+", "-", "*", "/", "%", "^", "<", "<=", ">", ">=", "==", "!=", "&&", "||", "-", "!", "?"};
const char *const kFunctions[] = {"cos", "sin", "tan", "atan", "exp", "logn", "log2", "log10"};
const char *const kNumbers[] = {"0", "1", "2", "3", "10", "0.5", ".25", "5.", "1.5", "2.5e-1", "1E2", "0.1", "7", "1e-3"};
const float kValues[] = {0.0f, 1.0f, -1.0f, 2.5f, -3.0f, 0.1f, 1e-3f, 100.0f, 7.0f, -0.5f};

// How tightly each operation binds in the text; operands are tightest.
int level(Op op) {
    switch (op) {
    case SEL: return 1;
    case OR: return 2;
    case AND: return 3;
    case EQ: case NE: return 4;
    case LT: case LE: case GT: case GE: return 5;
    case ADD: case SUB: return 6;
    case MUL: case DIV: case MOD: return 7;
    case NEG: case NOT: return 8;
    case POW: return 9;
    default: return 10;
    }
}
bool relation(Op op) { return op >= LT && op <= GE; }
bool equality(Op op) { return op == EQ || op == NE; }
bool unary(Op op) { return op == NEG || op == NOT; }

struct Node {
    Op op;
    int index = 0;        // NUM: kNumbers, VAR: x y z, FUN: kFunctions
    int part[3] = {-1, -1, -1};
};

// A random tree, its text with the fewest brackets the standard grammar
// needs, and its value computed the library's way in float and muParser's
// way in double, noting where the two may part.
class Sample {
public:
    explicit Sample(uint32_t *state) : state_(state) {
        const bool deep = next(10) == 0;
        root_ = deep ? spine(40 + next(40)) : grow(next(7));
    }

    std::string text() { return render(root_); }

    struct Values {
        float f;
        double d;
        bool constant = true; // muParser computes it as it reads the text: no variable, no ?:; y^0
    };
    // The value both ways; DECIDED is cleared when float and double decide a
    // comparison, a branch or a truncation differently, IN_RANGE when a
    // double value lies outside what a float holds; ALIKE when muParser's
    // && or || takes an operand for false that is not 0 (folding two
    // constants, it truncates them to integers); IEEE when a division or
    // power meets a zero, whose sign muParser may drop, or a value is
    // infinite, which its rewriting of a*x + b terms may make NaN. SCALE is
    // the largest magnitude met.
    Values eval(float x, float y, float z, bool *decided, bool *in_range, bool *alike, bool *ieee, double *scale) {
        vars_[0] = x, vars_[1] = y, vars_[2] = z;
        decided_ = decided, in_range_ = in_range, alike_ = alike, ieee_ = ieee, scale_ = scale;
        return value(root_);
    }

private:
    uint32_t next(uint32_t n) {
        *state_ = *state_ * 1664525u + 1013904223u;
        return (*state_ >> 8) % n;
    }
    int add(Node n) {
        nodes_.push_back(n);
        return static_cast<int>(nodes_.size()) - 1;
    }
    int leaf() {
        Node n{next(2) == 0 ? NUM : VAR};
        n.index = static_cast<int>(n.op == NUM ? next(sizeof kNumbers / sizeof *kNumbers) : next(3));
        return add(n);
    }
    int over(Op op, int a, int b = -1, int c = -1) {
        Node n{op};
        n.part[0] = a, n.part[1] = b, n.part[2] = c;
        if (op == FUN) n.index = static_cast<int>(next(8));
        return add(n);
    }
    Op any_op() { return static_cast<Op>(ADD + next(FUN - ADD + 1)); }
    int grow(uint32_t depth) {
        if (depth == 0 || next(5) == 0) return leaf();
        const Op op = any_op();
        if (op == NEG || op == NOT || op == FUN) return over(op, grow(depth - 1));
        if (op == SEL) return over(op, grow(depth - 1), grow(depth - 1), grow(depth - 1));
        return over(op, grow(depth - 1), grow(depth - 1));
    }
    // A chain DEPTH deep: each level an operation over the one below and a leaf.
    int spine(uint32_t depth) {
        int n = leaf();
        for (uint32_t k = 0; k < depth; ++k) {
            const Op op = any_op();
            if (op == NEG || op == NOT || op == FUN) n = over(op, n);
            else if (op == SEL) n = next(2) ? over(op, leaf(), n, leaf()) : over(op, n, leaf(), leaf());
            else n = next(2) ? over(op, n, leaf()) : over(op, leaf(), n);
        }
        return n;
    }

    std::string blank() { return next(3) == 0 ? " " : ""; }
    std::string bracket(const std::string &s) { return "(" + s + ")"; }
    // Child C of operator PARENT at SIDE (0 left, 1 right, 2 a unary's
    // operand) in brackets where the standard grammar needs them, and where
    // muParser reads otherwise: a comparison of the other kind, a unary
    // operator after another.
    std::string operand(Op parent, int c, int side) {
        const Op child = nodes_[c].op;
        const int p = level(parent), l = level(child);
        bool needed = side == 2 ? l < 8 : parent == POW ? (side == 0 ? l <= p : l < 8) : (side == 0 ? l < p : l <= p);
        needed = needed || (relation(parent) && equality(child)) || (equality(parent) && relation(child)) ||
                 (unary(parent) && unary(child));
        const std::string s = render(c);
        return needed ? bracket(s) : s;
    }
    std::string render(int k) {
        const Node &n = nodes_[k];
        switch (n.op) {
        case NUM: return kNumbers[n.index];
        case VAR: return std::string(1, "xyz"[n.index]);
        case FUN: return std::string(kFunctions[n.index]) + "(" + blank() + render(n.part[0]) + blank() + ")";
        case NEG: case NOT: return kSymbols[n.op] + blank() + operand(n.op, n.part[0], 2);
        case SEL: {
            const std::string c = render(n.part[0]);
            return (level(nodes_[n.part[0]].op) <= 1 ? bracket(c) : c) + blank() + "?" + blank() + render(n.part[1]) +
                   blank() + ":" + blank() + render(n.part[2]);
        }
        default:
            return operand(n.op, n.part[0], 0) + blank() + kSymbols[n.op] + blank() + operand(n.op, n.part[1], 1);
        }
    }

    void met(double d) {
        if (std::isinf(d)) *ieee_ = false;
        if (std::isfinite(d) && (std::fabs(d) > FLT_MAX || (d != 0 && std::fabs(d) < FLT_MIN))) *in_range_ = false;
        if (std::isfinite(d)) *scale_ = std::fmax(*scale_, std::fabs(d));
    }
    bool truth(Values v) {
        const bool f = !(v.f == 0), d = !(v.d == 0);
        if (f != d) *decided_ = false;
        return f;
    }
    Values compare(Op op, Values l, Values r) {
        auto test = [op](auto a, auto b) {
            return op == LT ? a < b : op == LE ? a <= b : op == GT ? a > b : op == GE ? a >= b : op == EQ ? a == b : a != b;
        };
        const bool f = test(l.f, r.f), d = test(l.d, r.d);
        if (f != d) *decided_ = false;
        return Values{f ? 1.0f : 0.0f, d ? 1.0 : 0.0};
    }
    Values value(int k) {
        const Node &n = nodes_[k];
        Values v{};
        switch (n.op) {
        case NUM: v = Values{std::strtof(kNumbers[n.index], nullptr), std::strtod(kNumbers[n.index], nullptr)}; break;
        case VAR: v = Values{vars_[n.index], vars_[n.index], false}; break;
        case NEG: v = value(n.part[0]), v = Values{-v.f, -v.d, v.constant}; break;
        case NOT: v = value(n.part[0]), truth(v), v = Values{v.f == 0 ? 1.0f : 0.0f, v.d == 0 ? 1.0 : 0.0, v.constant}; break;
        case AND: case OR: {
            const Values l = value(n.part[0]), r = value(n.part[1]);
            const bool a = truth(l), b = truth(r);
            // muParser's, when it folds them: integers.
            const bool folded = l.constant && r.constant;
            const bool ma = folded ? !(std::fabs(l.d) < 1) : !(l.d == 0), mb = folded ? !(std::fabs(r.d) < 1) : !(r.d == 0);
            if (ma != !(l.d == 0) || mb != !(r.d == 0)) *alike_ = false;
            v = Values{static_cast<float>(n.op == AND ? a && b : a || b), static_cast<double>(n.op == AND ? ma && mb : ma || mb),
                       folded};
            break;
        }
        case SEL: {
            const Values c = value(n.part[0]), a = value(n.part[1]), b = value(n.part[2]);
            truth(c);
            v = Values{!(c.f == 0) ? a.f : b.f, !(c.d == 0) ? a.d : b.d, false};
            break;
        }
        case FUN: {
            static double (*const f[])(double) = {std::cos, std::sin, std::tan, std::atan, std::exp, std::log, std::log2, std::log10};
            const Values a = value(n.part[0]);
            v = Values{static_cast<float>(f[n.index](a.f)), f[n.index](a.d), a.constant};
            break;
        }
        default: {
            const Values l = value(n.part[0]), r = value(n.part[1]);
            if (relation(n.op) || equality(n.op)) {
                v = compare(n.op, l, r);
                v.constant = l.constant && r.constant;
                return v;
            }
            if (n.op == MOD && (saturated(l.f) != saturated(l.d) || saturated(r.f) != saturated(r.d))) *decided_ = false;
            // A negative number's power is real at an integer exponent only, its sign that of an odd one.
            const bool whole_f = std::trunc(r.f) == r.f, whole_d = std::trunc(r.d) == r.d;
            if (n.op == POW && (std::signbit(l.f) || std::signbit(l.d)) &&
                (whole_f != whole_d || (whole_f && std::fmod(r.f, 2.0f) != std::fmod(r.d, 2.0))))
                *decided_ = false;
            // muParser computes x*0 as 0*x + 0, which is +0 for a negative x: only a division and a
            // power of zero tell.
            if ((n.op == DIV && (r.f == 0 || r.d == 0)) || (n.op == POW && (l.f == 0 || l.d == 0) && r.d < 0))
                *ieee_ = false;
            switch (n.op) {
            case ADD: v = Values{l.f + r.f, l.d + r.d}; break;
            case SUB: v = Values{l.f - r.f, l.d - r.d}; break;
            case MUL: v = Values{l.f * r.f, l.d * r.d}; break;
            case DIV: v = Values{l.f / r.f, l.d / r.d}; break;
            case MOD: v = Values{remainder_of(l.f, r.f), remainder_of(l.d, r.d)}; break;
            default: v = Values{static_cast<float>(std::pow(static_cast<double>(l.f), static_cast<double>(r.f))), std::pow(l.d, r.d)};
            }
            v.constant = (l.constant && r.constant) || (n.op == POW && nodes_[n.part[0]].op == VAR && r.constant && r.d == 0);
        }
        }
        met(v.d);
        return v;
    }

    uint32_t *state_;
    std::vector<Node> nodes_;
    int root_;
    float vars_[3] = {};
    bool *decided_ = nullptr, *in_range_ = nullptr, *alike_ = nullptr, *ieee_ = nullptr;
    double *scale_ = nullptr;
};

uint32_t bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
bool same(float a, float b) { return bits(a) == bits(b) || (std::isnan(a) && std::isnan(b)); }
bool close(double a, double b, double tolerance) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    if (std::isinf(a) || std::isinf(b)) return a == b;
    return std::fabs(a - b) <= tolerance;
}

} // namespace

// Random texts of numbers, variables, every operator and function, nested
// deep: the library's value is the float evaluation of the tree the text
// was made from, bit for bit, and muParser's the double one; the two agree
// within a relative tolerance unless float and double decide a comparison,
// a branch or a truncation differently, or a value leaves a float's range.
TEST(MuParser, RandomTextsReadAlike) {
    Parser *lp = parser_new();
    parser_syntax(lp, PARSER_SYNTAX_STANDARD);
    float *xyz[] = {parser_var_ref(lp, "x"), parser_var_ref(lp, "y"), parser_var_ref(lp, "z")};
    MuParser mu;
    uint32_t state = 20261207;
    int compared = 0, decided_apart = 0, out_of_range = 0, folded = 0, not_ieee = 0, ill_conditioned = 0;
    for (int sample = 0; sample < 4000; ++sample) {
        Sample tree(&state);
        const std::string text = tree.text();
        float v[3];
        for (int k = 0; k < 3; ++k) v[k] = kValues[(state >> (4 * k)) % 10];
        state = state * 1664525u + 1013904223u;
        for (int k = 0; k < 3; ++k) *xyz[k] = v[k];
        mu.x = v[0], mu.y = v[1], mu.z = v[2];
        bool decided = true, in_range = true, alike = true, ieee = true, refused = false;
        double scale = 1;
        const Sample::Values want = tree.eval(v[0], v[1], v[2], &decided, &in_range, &alike, &ieee, &scale);
        const float got = parser_calc(lp, text.c_str());
        const double peer = mu.eval(text, &refused);
        ASSERT_EQ(parser_errors(lp, nullptr), 0) << text;
        ASSERT_FALSE(refused) << "muParser refuses " << text;
        ASSERT_TRUE(same(got, want.f)) << text << ": " << got << ", float evaluation " << want.f;
        ASSERT_TRUE(!ieee || close(peer, want.d, 1e-9 * scale))
            << text << ": muParser " << peer << ", double evaluation " << want.d << " at x=" << v[0] << " y=" << v[1] << " z=" << v[2];
        if (!decided) {
            ++decided_apart;
        } else if (!alike) {
            ++folded;
        } else if (!ieee) {
            ++not_ieee;
        } else if (!in_range) {
            ++out_of_range;
        } else if (!close(want.f, want.d, 1e-5 * scale)) {
            ++ill_conditioned; // rounding to float amplified: log2(1 + 1e-3) and its reciprocal
        } else {
            ++compared;
            EXPECT_TRUE(close(got, peer, 1e-5 * scale))
                << text << ": " << got << ", muParser " << peer << " at x=" << v[0] << " y=" << v[1] << " z=" << v[2];
        }
    }
    std::printf("compared %d; skipped %d where float and double decide apart, %d where muParser folds && or || of "
                "fractions to 0, %d with a zero divisor or an infinity, %d out of a float's range, %d where float "
                "rounding is amplified past the tolerance\n",
                compared, decided_apart, folded, not_ieee, out_of_range, ill_conditioned);
    EXPECT_GT(compared, 3000);
    parser_destroy(lp);
}

// Each difference from muParser (docs/language.md lists them): the text, the
// library's value (NaN for an error) and muParser's, or that it refuses the text.
TEST(MuParser, TheDifferences) {
    constexpr double kRefused = -12345;
    const struct {
        const char *text;
        float ours;
        double theirs;
    } rows[] = {
        {"2 == 1 < 3", 0, 1},           // == binds looser than <; muParser gives them one level
        {"- -2", 2, kRefused},          // unary operators stack
        {"!!2", 1, kRefused},           //
        {"cos (0)", 1, kRefused},       // a blank between a function's name and its bracket
        {"", 0, kRefused},              // the empty text is 0
        {"log(100)", NAN, std::log(100.0)}, // no log: logn, log2, log10
        {"_pi", NAN, M_PI},             // no built-in constants
        {"7 % 4", 3, 3},                // % and ! are the library's: muParser is given them here
        {"0.5 && 1", 1, 0},             // muParser folds && and || of constants as integers,
        {"y && 1", 1, 1},               // but not of a variable (y = 0.5)
        {"1/(z*0)", -INFINITY, INFINITY}, // muParser computes z*0 as 0*z + 0: +0 for z = -1
        {"(0.5 + z) * log2(0)", INFINITY, NAN}, // and (0.5 + z)*-inf as -inf*z + -inf*0.5
    };
    Parser *lp = parser_new();
    parser_syntax(lp, PARSER_SYNTAX_STANDARD);
    parser_var(lp, "y", 0.5f);
    parser_var(lp, "z", -1.0f);
    MuParser mu;
    mu.y = 0.5, mu.z = -1;
    for (const auto &row : rows) {
        bool refused = false;
        EXPECT_TRUE(same(parser_calc(lp, row.text), row.ours)) << row.text;
        const double theirs = mu.eval(row.text, &refused);
        EXPECT_EQ(refused, row.theirs == kRefused) << row.text;
        EXPECT_TRUE(refused || close(theirs, row.theirs, 1e-12)) << row.text << ": " << theirs;
    }
    parser_destroy(lp);
}
