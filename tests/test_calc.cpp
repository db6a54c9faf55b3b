// test_calc.cpp - values of number texts, names and operations, the expression cache, eval through bound
// addresses, the walk of the current tree, bulk evaluation and the C++ wrapper.
#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core_test_support.h"
#include "lib_parse.hpp"
#include "tree/operand.h"

using namespace test;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void expect_same(float got, float want, const std::string &what) {
    EXPECT_TRUE(same_value(got, want)) << what << ": got " << got << ", want " << want;
}

} // namespace

// Number texts read directly and, unless a sign would make parser_calc cut
// them, as whole texts; the same in a locale whose decimal separator is a
// comma (where installed).
TEST(Values, NumbersIgnoreTheProcessLocale) {
    for (const char *locale : {"C", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) GTEST_SKIP() << "locale " << locale << " is not installed";
        ParserPtr p(parser_new());
        parser_var(p.get(), "A", 9.0f); // never consulted: 'A' is a number text
        const std::pair<std::string, float> numbers[] = {
            {"2.5", 2.5f}, {"0.1", 0.100000001490116119384765625f}, {"16777217", 16777216.0f}, // 2^24 + 1 rounds to 2^24
            {"123456789", 123456792.0f}, {"4294967297", 4294967296.0f}, {"0000000012", 12.0f}, // wider than 32 bits read whole
            {"", 0.0f},   {"A", 0.0f},  {"5A", 5.0f}, {"  42", 42.0f}, {"\t\n7", 7.0f}, {"4 2", 4.0f},
            {"1.5.3", 1.5f}, {".5", 0.5f}, {"1,5", 1.0f}, {"-.5", -0.5f}, {"+5", 5.0f},
            {"--5", 0.0f}, {"+-5", 0.0f}, {"- 5", 0.0f}, {"-", 0.0f}, // one sign at most, next to the digits
            {"340282346638528859811704183484516925440", 3.40282347e38f}, // the largest float
            {"340282366920938463463374607431768211456", kInf},          // 2^128 rounds up
            {"1" + std::string(400, '0'), kInf}, {"-1" + std::string(400, '0'), -kInf}, {"0." + std::string(400, '0') + "1", 0.0f},
        };
        for (const auto &[text, value] : numbers) {
            expect_same(lp::read_number(text.c_str()), value, "'" + text + "'");
            if (text.find_first_of("+-") == std::string::npos) expect_same(parser_calc(p.get(), text.c_str()), value, "calc '" + text + "'");
        }
    }
    std::setlocale(LC_ALL, "C");
}

// Decimals of every length up to seventeen digits, read in both grammars as
// the general reader reads them (the defined grammar's as a double made a
// float, the standard grammar's straight to a float), in every rounding mode.
TEST(Values, DecimalsReadAsTheGeneralReaderReadsThem) {
    ParserPtr defined(parser_new());
    ParserPtr standard(parser_new());
    parser_syntax(standard.get(), PARSER_SYNTAX_STANDARD);
    std::mt19937_64 random(11);
    const int saved = std::fegetround();
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(mode);
        // Zeros first: +0 in every mode, however the digits are converted.
        const char *const zeros[] = {"0.0", "00.000", "0.0000000000000", "000000000000", "000000000000000000"};
        for (int k = -5; k < 20000; ++k) {
            std::string text = k < 0 ? zeros[k + 5] : "";
            const int digits = k < 0 ? 0 : 1 + static_cast<int>(random() % 17);
            for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + random() % 10);
            const size_t point = random() % (text.size() + 1);
            if (k >= 0 && point < text.size()) text.insert(point == 0 ? 0 : point, point == 0 ? "0." : ".");
            double wide = 0.0;
            float narrow = 0.0f;
            std::from_chars(text.data(), text.data() + text.size(), wide);
            std::from_chars(text.data(), text.data() + text.size(), narrow);
            const std::string what = "'" + text + "' in rounding mode " + std::to_string(mode);
            expect_same(lp::read_number(text.c_str()), static_cast<float>(wide), what);
            expect_same(parser_calc(defined.get(), text.c_str()), static_cast<float>(wide), "defined " + what);
            expect_same(parser_calc(standard.get(), text.c_str()), narrow, "standard " + what);
        }
    }
    std::fesetround(saved);
}

TEST(Values, NamesLookUpByPrefixNewestFirst) {
    struct Case {
        std::vector<std::pair<const char *, float>> defs;
        const char *text;
        float value;
    };
    const Case cases[] = {
        {{{"xy", 5}}, "x", 5}, {{{"x", 5}}, "xy", 0}, {{{"x", 1}, {"xy", 5}}, "x", 5}, {{{"xy", 5}, {"x", 1}}, "x", 1},
        {{{"x", 1}, {"xy", 5}, {"x", 2}}, "x", 5}, // an update does not move x forward
        {{{"x", 3}}, "x ", 0}, {{}, "1e3", 0},     // 'e' makes it a name
        {{{"1e3", 7}}, "1e3", 7}, {{{"\xc3\xa9", 2}}, "\xc3\xa9", 2},
        // parser_var updates the record of the exact name, also past the eight bytes kept beside each record.
        {{{"abcdefghi", 1}, {"abcdefghj", 2}, {"abcdefghi", 3}, {"abcdefgh", 4}}, "abcdefghi", 3},
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
TEST(Values, Operations) {
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
        {"2147483520", "%", "1000", 520.0f}, // the largest float below 2^31 converts as it is
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

// x^2 runs as the product x*x: the float pow gives in double, on every kind
// of input, in the interpreter, machine code and bulk rows; another constant
// exponent keeps pow.
TEST(Values, SquaresAreThePowersFloat) {
    std::vector<float> xs = {0.0f, -0.0f, kInf, -kInf, kNaN, -kNaN, std::nanf("0x123"), FLT_MAX, -FLT_MAX,
                             FLT_MIN, std::numeric_limits<float>::denorm_min(), 1.8446743e19f, 1.8446744e19f};
    for (int e = -149; e <= 127; ++e)
        for (const float m : {1.0f, 1.2345679f, 1.9999999f, -1.5f}) xs.push_back(std::ldexp(m, e));
    const std::vector<float> once = xs;
    while (xs.size() < 5000) xs.insert(xs.end(), once.begin(), once.end()); // enough rows for vector code
    const char *names[] = {"x"};
    const float *columns[] = {xs.data()};
    std::vector<float> out(xs.size());
    for (const auto &[text, exponent] : {std::pair{"x^2", 2.0}, {"x^(1+1)", 2.0}, {"x^3", 3.0}}) {
        ParserPtr p(parser_new());
        float *x = parser_var_ref(p.get(), "x");
        parser_calc(p.get(), text);
        for (int round = 0; round < 2; ++round) // the interpreter, then machine code where there is any
            for (const float v : xs) {
                *x = v;
                const float want = static_cast<float>(std::pow(static_cast<double>(v), exponent));
                ASSERT_EQ(bits(parser_eval(p.get())), bits(want)) << text << " of " << v;
            }
        ASSERT_EQ(parser_calc_bulk(p.get(), text, names, columns, 1, xs.size(), out.data()), 0);
        for (size_t i = 0; i < xs.size(); ++i)
            ASSERT_EQ(bits(out[i]), bits(static_cast<float>(std::pow(static_cast<double>(xs[i]), exponent))))
                << text << " of " << xs[i] << " in bulk";
    }
}

// One handle given texts in turn: each value is the text's own, never the
// tree of the text before. Texts under six bytes and longer ones are
// compared in different ways.
TEST(Calc, EveryOtherTextIsBuiltAnew) {
    const std::string big = "123456789012345678901234567890123";
    const std::pair<std::string, float> texts[] = {
        {"1+2", 3}, {"3+2", 5}, {"3+2", 5}, {"3+22", 25}, {"3+2", 5}, {"1", 1}, {"12", 12}, {"1", 1}, {"", 0},
        {"1234+", 1234}, {"1234+1", 1235}, {"1235+1", 1236}, {"1235+", 1235}, {"12345+1", 12346}, {"12345+2", 12347},
        {"12345+22", 12367}, {big + "+1", 1.23456789e32f}, {big + "-1", 1.23456789e32f}, {big + "*0", 0}, {big, 1.23456789e32f},
    };
    ParserPtr p(parser_new());
    for (const auto &[text, value] : texts) {
        const std::string copy = text; // another buffer with the same bytes
        EXPECT_EQ(parser_calc(p.get(), copy.c_str()), value) << "'" << text << "'";
    }
    // parser_expand makes its text the cached one: the text before is built again.
    parser_expand(p.get(), "7");
    EXPECT_EQ(parser_calc(p.get(), big.c_str()), 1.23456789e32f);
    parser_expand(p.get(), "7");
    EXPECT_EQ(parser_calc(p.get(), "7"), 7.0f);
}

// Variables set through their addresses: an address stays valid while more
// variables are defined, and parser_eval runs the current tree without its
// text, rebuilding it only after a definition.
TEST(Calc, EvalThroughBoundAddresses) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "y", 7.0f);
    float *x = parser_var_ref(p.get(), "x"), *y = parser_var_ref(p.get(), "y");
    ASSERT_TRUE(x != nullptr && y != nullptr);
    EXPECT_TRUE(bits(*x) == bits(0.0f) && *y == 7.0f);
    for (int i = 0; i < 2000; ++i) *parser_var_ref(p.get(), ("v" + std::to_string(i)).c_str()) = static_cast<float>(i);
    EXPECT_TRUE(parser_var_ref(p.get(), "x") == x && parser_var_ref(p.get(), "y") == y);
    *x = 1.5f;
    // Past the 64th run the tree runs as machine code; a definition must
    // still rebuild it, through parser_calc and through parser_eval.
    for (int i = 0; i < 100; ++i) ASSERT_EQ(parser_calc(p.get(), "f(x)+y"), 7.0f); // f is not defined yet
    parser_var(p.get(), "x", 2.5f);
    EXPECT_EQ(*x, 2.5f) << "parser_var and the address name one record";
    parser_func(p.get(), "f(a)", "a*2");
    EXPECT_EQ(parser_calc(p.get(), "f(x)+y"), 12.0f);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(parser_eval(p.get()), 12.0f);
    parser_func(p.get(), "f(a)", "a*3");
    EXPECT_EQ(parser_eval(p.get()), 14.5f);
    EXPECT_EQ(parser_errors(p.get(), nullptr), 0);
    *y = 1.0f;
    EXPECT_EQ(parser_eval(p.get()), 8.5f);
    EXPECT_EQ(parser_var_ref(nullptr, "x"), nullptr);
    EXPECT_EQ(parser_var_ref(p.get(), nullptr), nullptr);
    EXPECT_TRUE(std::isnan(parser_eval(nullptr)));
    ParserPtr empty(parser_new()); // no tree yet: the empty text's value
    EXPECT_EQ(bits(parser_eval(empty.get())), bits(0.0f));
}

// A host lists the variables in definition order, reads one without
// defining it, and removes one: no tree reads it then (the tree that did is
// built again, the defined grammar's prefix read finding the next newest),
// its old address stays writable, and the name may be defined anew. Reading
// and the version are safe inside a callback; the rest is refused there.
TEST(Calc, VariablesListedReadAndRemoved) {
    ParserPtr p(parser_new());
    using Listed = std::vector<std::pair<std::string, float>>;
    const auto listed = [&] {
        Listed out;
        const int n = parser_vars(p.get(), [](void *ctx, const char *name, float value) {
            static_cast<Listed *>(ctx)->emplace_back(name, value);
        }, &out);
        EXPECT_EQ(n, static_cast<int>(out.size()));
        return out;
    };
    parser_var(p.get(), "xa", 1.0f);
    parser_var(p.get(), "yy", 5.0f);
    *parser_var_ref(p.get(), "xb") = 2.0f;
    parser_var(p.get(), "xa", 4.0f); // updated in place, not moved
    EXPECT_EQ(listed(), (Listed{{"xa", 4.0f}, {"yy", 5.0f}, {"xb", 2.0f}}));
    float value = -1.0f;
    EXPECT_EQ(parser_var_get(p.get(), "yy", &value), 0);
    EXPECT_EQ(value, 5.0f);
    EXPECT_EQ(parser_var_get(p.get(), "y", &value), 1); // exact names only, nothing defined
    EXPECT_EQ(parser_vars(p.get(), nullptr, nullptr), 3);

    float *old = parser_var_ref(p.get(), "xb");
    parser_var(p.get(), "xb", 2.0f); // set by name: its lookup is remembered, and must be forgotten below
    EXPECT_EQ(parser_calc(p.get(), "x*10"), 20.0f); // x reads xb, the newest beginning with it
    for (int k = 0; k < 100; ++k) parser_eval(p.get()); // in machine code, where it is built
    EXPECT_EQ(parser_unset(p.get(), "xb"), 0);
    EXPECT_EQ(parser_eval(p.get()), 40.0f); // now xa
    *old = 7.0f; // still writable, read by no tree
    EXPECT_EQ(parser_calc(p.get(), "x*10"), 40.0f);
    EXPECT_EQ(parser_unset(p.get(), "xb"), 1);
    EXPECT_EQ(listed(), (Listed{{"xa", 4.0f}, {"yy", 5.0f}}));
    parser_var(p.get(), "xb", 3.0f); // a new record
    EXPECT_NE(parser_var_ref(p.get(), "xb"), old);
    EXPECT_EQ(parser_calc(p.get(), "x*10"), 30.0f);
    EXPECT_EQ(parser_unset(nullptr, "x") + parser_var_get(nullptr, "x", &value) + parser_vars(nullptr, nullptr, nullptr), -3);

    parser_native_func(p.get(), "peek", 0, [](void *ctx, const float *, int) {
        auto *q = static_cast<Parser *>(ctx);
        float v = 0.0f;
        const bool refused = parser_vars(q, nullptr, nullptr) == -1 && parser_unset(q, "yy") == -1 &&
                             parser_func_unset(q, "f") == -1 && parser_on_unknown(q, nullptr, nullptr) != 0;
        return parser_var_get(q, "yy", &v) == 0 && refused && parser_version() != nullptr ? v : -1.0f;
    }, p.get(), 0);
    EXPECT_EQ(parser_calc(p.get(), "peek()"), 5.0f);

    // The standard grammar: an exact name gone is an unknown name again.
    ParserPtr s(parser_new());
    parser_syntax(s.get(), PARSER_SYNTAX_STANDARD);
    parser_var(s.get(), "y", 2.0f);
    EXPECT_EQ(parser_calc(s.get(), "y + 1"), 3.0f);
    parser_unset(s.get(), "y");
    int code = -1;
    EXPECT_TRUE(std::isnan(parser_calc(s.get(), "y + 1")));
    EXPECT_EQ(parser_errors(s.get(), &code), 1);
    EXPECT_EQ(code, PARSER_ERR_UNKNOWN_NAME);

    lib_parse::Parser wrapped;
    wrapped.var("b", 5.0f);
    wrapped.var("a", 6.0f);
    EXPECT_EQ(wrapped.unset("b"), 0);
    EXPECT_EQ(wrapped.vars(), (Listed{{"a", 6.0f}}));
    EXPECT_EQ(wrapped.var_get("a"), std::optional<float>(6.0f));
    EXPECT_EQ(wrapped.var_get("b"), std::nullopt);
    EXPECT_EQ(lib_parse::Parser::version(), std::to_string(LIB_PARSE_VERSION_MAJOR) + "." +
                                                std::to_string(LIB_PARSE_VERSION_MINOR) + "." +
                                                std::to_string(LIB_PARSE_VERSION_PATCH));
}

// A user function removed, every definition of it: its calls name no
// function, the tree that called it is built again, a new one may follow.
TEST(Calc, RemovedFunctionsAreCalledByNoTree) {
    for (const int syntax : {PARSER_SYNTAX_DEFINED, PARSER_SYNTAX_STANDARD}) {
        lib_parse::Parser p;
        p.syntax(syntax);
        p.func("f(a)", "a+1");
        p.func("f(a)", "a+2"); // hides the first
        p.func("g(a)", "a*3");
        EXPECT_EQ(p.calc("f(1)+g(1)"), 6.0f) << syntax;
        EXPECT_EQ(p.unset_func("f"), 0);
        const float gone = p.eval();
        ASSERT_EQ(p.errors().size(), 1u) << syntax;
        if (syntax == PARSER_SYNTAX_STANDARD) EXPECT_TRUE(std::isnan(gone));
        else EXPECT_EQ(gone, 3.0f); // f(1) is 0
        EXPECT_EQ(p.errors()[0].code, syntax == PARSER_SYNTAX_STANDARD ? PARSER_ERR_UNKNOWN_NAME : PARSER_ERR_UNKNOWN_FUNCTION);
        EXPECT_EQ(p.unset_func("f"), 1);
        ASSERT_EQ(p.functions().size(), 1u);
        EXPECT_EQ(p.functions()[0].proto, "g(a)");
        p.func("f(a)", "a*10");
        EXPECT_EQ(p.calc("f(1)+g(1)"), 13.0f) << syntax;
    }
}

// A host that resolves names lazily (a sheet's cells): a build asks for each
// name no variable has, once, and a supplied one becomes a variable the tree
// reads; checks and listings never ask, nor does a tree re-used.
TEST(Calc, UnknownNamesSuppliedByTheHostOncePerBuild) {
    struct Sheet {
        Parser *p;
        std::vector<std::string> asked;
        int refused = 0; // calls into the handle from the callback that were refused
    };
    const auto supply = [](void *ctx, const char *name, float *value) {
        auto *sheet = static_cast<Sheet *>(ctx);
        sheet->asked.emplace_back(name);
        sheet->refused += parser_var(sheet->p, "other", 1.0f); // refused: 1
        if (std::string(name).rfind("cell", 0) != 0 && std::string(name) != "pi") return 0;
        *value = std::string(name) == "pi" ? 3.0f : static_cast<float>(std::string(name).size());
        return 1;
    };
    for (const int syntax : {PARSER_SYNTAX_DEFINED, PARSER_SYNTAX_STANDARD}) {
        ParserPtr p(parser_new());
        parser_syntax(p.get(), syntax);
        parser_math(p.get());
        Sheet sheet{p.get(), {}, 0};
        EXPECT_EQ(parser_on_unknown(p.get(), supply, &sheet), 0);
        const bool standard = syntax == PARSER_SYNTAX_STANDARD;
        const char *text = standard ? "cellA1 * 2 + cellA1 + cellB22 + zz" : "cellA1*2+cellA1+cellB22+zz";
        EXPECT_GT(parser_check(p.get(), text, nullptr, nullptr), 0);
        EXPECT_GT(parser_names(p.get(), text, nullptr, nullptr), 0);
        EXPECT_TRUE(sheet.asked.empty()) << syntax; // a check or a listing asks nothing
        const float value = parser_calc(p.get(), text);
        if (standard) {
            EXPECT_TRUE(std::isnan(value)); // zz is still unknown: an error there
        } else {
            EXPECT_EQ(value, 6.0f * 3 + 7.0f);
        }
        EXPECT_EQ(sheet.asked, (std::vector<std::string>{"cellA1", "cellB22", "zz"})) << syntax;
        EXPECT_EQ(sheet.refused, 3);
        float cell = 0.0f;
        EXPECT_EQ(parser_var_get(p.get(), "cellB22", &cell), 0);
        EXPECT_EQ(cell, 7.0f);
        EXPECT_EQ(parser_var_get(p.get(), "other", nullptr), 1);
        parser_calc(p.get(), text); // the same tree: nothing asked
        EXPECT_EQ(sheet.asked.size(), 3u);
        // A variable supplied is a variable: the host's value changes it.
        parser_var(p.get(), "cellA1", 1.0f);
        if (!standard) {
            EXPECT_EQ(parser_calc(p.get(), text), 3.0f + 7.0f);
        }
        // pi is asked before the math set's constant is read.
        sheet.asked.clear();
        EXPECT_EQ(parser_calc(p.get(), standard ? "pi + 1" : "pi+1"), 4.0f);
        EXPECT_EQ(sheet.asked, std::vector<std::string>{"pi"});
        // The defined grammar asks for the leaf as it reads it, blanks included.
        if (!standard) {
            sheet.asked.clear();
            parser_calc(p.get(), "zz *2");
            EXPECT_EQ(sheet.asked, std::vector<std::string>{"zz "});
        }
        EXPECT_EQ(parser_on_unknown(p.get(), nullptr, nullptr), 0);
        sheet.asked.clear();
        parser_calc(p.get(), "cellC3 + 1");
        EXPECT_TRUE(sheet.asked.empty());
        EXPECT_EQ(parser_on_unknown(nullptr, supply, &sheet), 1);
    }
    lib_parse::Parser wrapped;
    wrapped.on_unknown([](const std::string &name) -> std::optional<float> {
        if (name == "boom") throw 1; // supplies nothing
        return name == "k" ? std::optional<float>(4.0f) : std::nullopt;
    });
    lib_parse::Parser moved = std::move(wrapped); // the callable goes with the handle
    EXPECT_EQ(moved.calc("k*2+boom+j"), 8.0f);
    EXPECT_EQ(moved.var_get("k"), std::optional<float>(4.0f));
    EXPECT_EQ(moved.var_get("boom"), std::nullopt);
}

TEST(Bulk, BadArgumentsAreRefusedAndChangeNothing) {
    ParserPtr p(parser_new());
    parser_var(p.get(), "x", 5.0f);
    const char *names[] = {"x"}, *null_name[] = {nullptr};
    const float x[] = {1.0f, 2.0f};
    const float *columns[] = {x}, *null_column[] = {nullptr};
    float out[2] = {-1.0f, -1.0f};
    struct Call {
        Parser *parser;
        const char *text;
        const char *const *names;
        const float *const *columns;
        size_t vars, rows;
        float *out;
    };
    // Each refused call differs from a good one in one argument: the handle,
    // text, names, a name, columns, a column, out.
    std::vector<Call> refused(7, Call{p.get(), "x", names, columns, 1, 2, out});
    refused[0].parser = nullptr, refused[1].text = nullptr, refused[2].names = nullptr, refused[3].names = null_name;
    refused[4].columns = nullptr, refused[5].columns = null_column, refused[6].out = nullptr;
    for (size_t i = 0; i < 2 * refused.size(); ++i) { // with two rows, then one
        const Call &c = refused[i % refused.size()];
        EXPECT_NE(parser_calc_bulk(c.parser, c.text, c.names, c.columns, c.vars, c.rows - i / refused.size(), c.out), 0) << "call " << i;
        EXPECT_EQ(out[0], -1.0f) << "call " << i;
        EXPECT_EQ(parser_calc(p.get(), "x"), 5.0f) << "call " << i << ": x was changed";
    }
    // No rows need no columns and no out; no variables need no names.
    EXPECT_EQ(parser_calc_bulk(p.get(), "x", names, nullptr, 1, 0, nullptr), 0);
    EXPECT_EQ(parser_calc_bulk(p.get(), "x", nullptr, nullptr, 0, 2, out), 0);
    EXPECT_TRUE(out[0] == 5.0f && out[1] == 5.0f);
}

