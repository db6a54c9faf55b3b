// test_muparser.cpp - the standard grammar against muParser: random texts read alike.
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

// The library's % on doubles or floats: saturated truncation to 32-bit integers.
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

// muParser with x, y, z and what the standard grammar has that it lacks,
// computed as the library computes them: %, ! and logn.
struct MuParser {
    mu::Parser p;
    double x = 0, y = 0, z = 0;
    MuParser() {
        p.DefineVar("x", &x);
        p.DefineVar("y", &y);
        p.DefineVar("z", &z);
        p.DefineOprt("%", +[](double l, double r) { return remainder_of(l, r); }, mu::prMUL_DIV, mu::oaLEFT, true);
        p.DefineInfixOprt("!", +[](double v) { return v == 0 ? 1.0 : 0.0; });
        p.DefineFun("logn", +[](double v) { return std::log(v); });
    }
    // The value; *REFUSED when muParser refuses the text.
    double eval(const std::string &text, bool *refused) {
        try {
            p.SetExpr(text);
            *refused = false;
            return p.Eval();
        } catch (const mu::Parser::exception_type &) {
            *refused = true;
            return NAN;
        }
    }
};

enum Op { NUM, VAR, ADD, SUB, MUL, DIV, MOD, POW, LT, LE, GT, GE, EQ, NE, AND, OR, NEG, NOT, SEL, FUN };
const char *const kSymbols[] = {"", "", "+", "-", "*", "/", "%", "^", "<", "<=", ">", ">=", "==", "!=", "&&", "||", "-", "!"};
// How tightly each binds, by Op: operands tightest, ?: loosest.
constexpr int kLevel[] = {10, 10, 6, 6, 7, 7, 7, 9, 5, 5, 5, 5, 4, 4, 3, 2, 8, 8, 1, 10};
const char *const kFunctions[] = {"cos", "sin", "tan", "atan", "exp", "logn", "log2", "log10"};
double (*const kRoutines[])(double) = {std::cos, std::sin, std::tan, std::atan, std::exp, std::log, std::log2, std::log10};
const char *const kNumbers[] = {"0", "1", "2", "3", "10", "0.5", ".25", "5.", "1.5", "2.5e-1", "1E2", "0.1", "7", "1e-3"};
const float kValues[] = {0.0f, 1.0f, -1.0f, 2.5f, -3.0f, 0.1f, 1e-3f, 100.0f, 7.0f, -0.5f};

bool relation(Op op) { return op >= LT && op <= GE; }
bool equality(Op op) { return op == EQ || op == NE; }
bool unary(Op op) { return op == NEG || op == NOT; }

// What comparing a sample with muParser must skip: DECIDED is cleared when
// float and double decide a comparison, a branch or a truncation apart,
// IN_RANGE when a double leaves a float's range, ALIKE when muParser's && or
// || takes an operand that is not 0 for false (folding two constants, it
// truncates them to integers), IEEE when a division or power meets a zero,
// whose sign muParser may drop, or a value is infinite, which its rewriting
// of a*x + b terms may make NaN. SCALE is the largest magnitude met.
struct Flags {
    bool decided = true, in_range = true, alike = true, ieee = true;
    double scale = 1;
};

// A random tree, its text with the fewest brackets the standard grammar
// needs, and its value computed the library's way in float and muParser's
// way in double.
class Sample {
public:
    explicit Sample(uint32_t *state) : state_(state) { root_ = next(10) == 0 ? spine(40 + next(40)) : grow(next(7)); }

    std::string text() { return render(root_); }

    struct Values {
        float f;
        double d;
        bool constant = true; // muParser computes it as it reads the text: no variable, no ?:; y^0
    };
    Values eval(const float *xyz, Flags *flags) {
        xyz_ = xyz;
        flags_ = flags;
        return value(root_);
    }

private:
    struct Node {
        Op op;
        int index;    // NUM: kNumbers, VAR: x y z, FUN: kFunctions
        int part[3];
    };

    uint32_t next(uint32_t n) {
        *state_ = *state_ * 1664525u + 1013904223u;
        return (*state_ >> 8) % n;
    }
    int add(Op op, int index, int a = -1, int b = -1, int c = -1) {
        nodes_.push_back(Node{op, index, {a, b, c}});
        return static_cast<int>(nodes_.size()) - 1;
    }
    int leaf() {
        const Op op = next(2) == 0 ? NUM : VAR;
        return add(op, static_cast<int>(op == NUM ? next(sizeof kNumbers / sizeof *kNumbers) : next(3)));
    }
    int over(Op op, int a, int b = -1, int c = -1) { return add(op, op == FUN ? static_cast<int>(next(8)) : 0, a, b, c); }
    Op any_op() { return static_cast<Op>(ADD + next(FUN - ADD + 1)); }
    int grow(uint32_t depth) {
        if (depth == 0 || next(5) == 0) return leaf();
        const Op op = any_op();
        if (unary(op) || op == FUN) return over(op, grow(depth - 1));
        if (op == SEL) return over(op, grow(depth - 1), grow(depth - 1), grow(depth - 1));
        return over(op, grow(depth - 1), grow(depth - 1));
    }
    // A chain DEPTH deep: each level an operation over the one below and a leaf.
    int spine(uint32_t depth) {
        int n = leaf();
        for (uint32_t k = 0; k < depth; ++k) {
            const Op op = any_op();
            if (unary(op) || op == FUN) n = over(op, n);
            else if (op == SEL) n = next(2) ? over(op, leaf(), n, leaf()) : over(op, n, leaf(), leaf());
            else n = next(2) ? over(op, n, leaf()) : over(op, leaf(), n);
        }
        return n;
    }

    std::string blank() { return next(3) == 0 ? " " : ""; }
    // Child C of PARENT at SIDE (0 left, 1 right, 2 a unary's operand), in
    // brackets where the standard grammar needs them, and where muParser
    // reads otherwise: a comparison of the other kind, a unary after another.
    std::string operand(Op parent, int c, int side) {
        const Op child = nodes_[c].op;
        const int p = kLevel[parent], l = kLevel[child];
        const bool needed = (side == 2 ? l < 8 : parent == POW ? (side == 0 ? l <= p : l < 8) : (side == 0 ? l < p : l <= p)) ||
                            (relation(parent) && equality(child)) || (equality(parent) && relation(child)) ||
                            (unary(parent) && unary(child));
        const std::string s = render(c);
        return needed ? "(" + s + ")" : s;
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
            return (kLevel[nodes_[n.part[0]].op] <= 1 ? "(" + c + ")" : c) + blank() + "?" + blank() + render(n.part[1]) +
                   blank() + ":" + blank() + render(n.part[2]);
        }
        default: return operand(n.op, n.part[0], 0) + blank() + kSymbols[n.op] + blank() + operand(n.op, n.part[1], 1);
        }
    }

    // A decision taken in float and in double.
    bool decide(bool f, bool d) {
        if (f != d) flags_->decided = false;
        return f;
    }
    bool truth(Values v) { return decide(!(v.f == 0), !(v.d == 0)); }
    // A comparison's value, 1 or 0, both ways.
    Values compared(bool f, bool d) { return Values{decide(f, d) ? 1.0f : 0.0f, d ? 1.0 : 0.0}; }
    Values value(int k) {
        const Node &n = nodes_[k];
        Values v{};
        const Values l = n.part[0] >= 0 ? value(n.part[0]) : v, r = n.part[1] >= 0 ? value(n.part[1]) : v;
        switch (n.op) {
        case NUM: v = Values{std::strtof(kNumbers[n.index], nullptr), std::strtod(kNumbers[n.index], nullptr)}; break;
        case VAR: v = Values{xyz_[n.index], xyz_[n.index], false}; break;
        case NEG: v = Values{-l.f, -l.d, l.constant}; break;
        case NOT: truth(l), v = Values{l.f == 0 ? 1.0f : 0.0f, l.d == 0 ? 1.0 : 0.0, l.constant}; break;
        case FUN: v = Values{static_cast<float>(kRoutines[n.index](l.f)), kRoutines[n.index](l.d), l.constant}; break;
        case SEL: {
            const Values b = value(n.part[2]);
            truth(l);
            v = Values{!(l.f == 0) ? r.f : b.f, !(l.d == 0) ? r.d : b.d, false};
            break;
        }
        case AND: case OR: {
            const bool a = truth(l), b = truth(r), folded = l.constant && r.constant;
            const bool ma = folded ? !(std::fabs(l.d) < 1) : !(l.d == 0), mb = folded ? !(std::fabs(r.d) < 1) : !(r.d == 0);
            if (ma != !(l.d == 0) || mb != !(r.d == 0)) flags_->alike = false;
            v = Values{static_cast<float>(n.op == AND ? a && b : a || b), static_cast<double>(n.op == AND ? ma && mb : ma || mb),
                       folded};
            break;
        }
        case LT: v = compared(l.f < r.f, l.d < r.d); break;
        case LE: v = compared(l.f <= r.f, l.d <= r.d); break;
        case GT: v = compared(l.f > r.f, l.d > r.d); break;
        case GE: v = compared(l.f >= r.f, l.d >= r.d); break;
        case EQ: v = compared(l.f == r.f, l.d == r.d); break;
        case NE: v = compared(l.f != r.f, l.d != r.d); break;
        case ADD: v = Values{l.f + r.f, l.d + r.d}; break;
        case SUB: v = Values{l.f - r.f, l.d - r.d}; break;
        case MUL: v = Values{l.f * r.f, l.d * r.d}; break;
        case DIV: v = Values{l.f / r.f, l.d / r.d}; break;
        case MOD:
            decide(saturated(l.f) == saturated(l.d) && saturated(r.f) == saturated(r.d), true);
            v = Values{remainder_of(l.f, r.f), remainder_of(l.d, r.d)};
            break;
        case POW: {
            // A negative number's power is real at an integer exponent only, its sign that of an odd one.
            const bool whole = std::trunc(r.f) == r.f;
            if (std::signbit(l.f) || std::signbit(l.d))
                decide(whole == (std::trunc(r.d) == r.d) && (!whole || std::fmod(r.f, 2.0f) == std::fmod(r.d, 2.0)), true);
            v = Values{static_cast<float>(std::pow(static_cast<double>(l.f), static_cast<double>(r.f))), std::pow(l.d, r.d)};
            break;
        }
        }
        if (n.op >= ADD && n.op <= NE) // arithmetic and comparisons
            v.constant = (l.constant && r.constant) || (n.op == POW && nodes_[n.part[0]].op == VAR && r.constant && r.d == 0);
        // muParser computes x*0 as 0*x + 0, +0 for a negative x: a division and a power of zero tell.
        if ((n.op == DIV && (r.f == 0 || r.d == 0)) || (n.op == POW && (l.f == 0 || l.d == 0) && r.d < 0) || std::isinf(v.d))
            flags_->ieee = false;
        if (std::isfinite(v.d) && (std::fabs(v.d) > FLT_MAX || (v.d != 0 && std::fabs(v.d) < FLT_MIN)))
            flags_->in_range = false;
        if (std::isfinite(v.d)) flags_->scale = std::fmax(flags_->scale, std::fabs(v.d));
        return v;
    }

    uint32_t *state_;
    std::vector<Node> nodes_;
    int root_;
    const float *xyz_ = nullptr;
    Flags *flags_ = nullptr;
};

bool same(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }
bool close(double a, double b, double tolerance) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::isinf(a) || std::isinf(b) ? a == b : std::fabs(a - b) <= tolerance;
}

} // namespace

// Random texts of numbers, variables, every operator and function, some
// nested 40 to 80 deep: the library's value is the float evaluation of the
// tree the text was made from, bit for bit, and muParser's the double one;
// the two agree within a relative tolerance unless the sample is skipped
// (Flags) and counted.
TEST(MuParser, RandomTextsReadAlike) {
    Parser *lp = parser_new();
    parser_syntax(lp, PARSER_SYNTAX_STANDARD);
    float *xyz[] = {parser_var_ref(lp, "x"), parser_var_ref(lp, "y"), parser_var_ref(lp, "z")};
    MuParser mu;
    uint32_t state = 20261207;
    int compared = 0, decided_apart = 0, folded = 0, not_ieee = 0, out_of_range = 0, amplified = 0;
    for (int sample = 0; sample < 4000; ++sample) {
        Sample tree(&state);
        const std::string text = tree.text();
        float v[3];
        for (int k = 0; k < 3; ++k) *xyz[k] = v[k] = kValues[(state >> (4 * k)) % 10];
        state = state * 1664525u + 1013904223u;
        mu.x = v[0], mu.y = v[1], mu.z = v[2];
        Flags flags;
        bool refused = false;
        const Sample::Values want = tree.eval(v, &flags);
        const float got = parser_calc(lp, text.c_str());
        const double peer = mu.eval(text, &refused);
        const std::string at = text + " at x=" + std::to_string(v[0]) + " y=" + std::to_string(v[1]) + " z=" + std::to_string(v[2]);
        ASSERT_EQ(parser_errors(lp, nullptr), 0) << at;
        ASSERT_FALSE(refused) << "muParser refuses " << at;
        ASSERT_TRUE(same(got, want.f)) << at << ": " << got << ", float evaluation " << want.f;
        ASSERT_TRUE(!flags.ieee || close(peer, want.d, 1e-9 * flags.scale)) << at << ": muParser " << peer << ", double " << want.d;
        if (!flags.decided) {
            ++decided_apart;
        } else if (!flags.alike) {
            ++folded;
        } else if (!flags.ieee) {
            ++not_ieee;
        } else if (!flags.in_range) {
            ++out_of_range;
        } else if (!close(want.f, want.d, 1e-5 * flags.scale)) {
            ++amplified; // float rounding amplified: 1/log2(1 + 1e-3)
        } else {
            ++compared;
            EXPECT_TRUE(close(got, peer, 1e-5 * flags.scale)) << at << ": " << got << ", muParser " << peer;
        }
    }
    std::printf("compared %d; skipped %d where float and double decide apart, %d where muParser folds && or || of "
                "fractions to 0, %d with a zero divisor or an infinity, %d out of a float's range, %d where float "
                "rounding is amplified past the tolerance\n",
                compared, decided_apart, folded, not_ieee, out_of_range, amplified);
    EXPECT_GT(compared, 3000);
    parser_destroy(lp);
}
