// bulk_functions.cpp - parser_calc_bulk on texts that call functions, against the loops a programmer writes and muParser.
//
// 1,048,576 rows of five texts in the standard grammar with parser_math:
// lib_parse on one thread and on every core, the loop in float (cosf and
// its kin) at -O2 and at -O3, the loop in double rounded once to float (the
// values lib_parse gives), and muParser's bulk mode when it is installed.
// Each round times every way once, in an order that alternates from round
// to round; the table is the median of the rounds, in ms. Then the share of
// lanes each function's kernel sent to the C library's routine on these
// columns.
//
// Usage: bulk_functions [ROUNDS]  (default 5)
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bulk_loops.h"
#include "cases.h"
#include "engines.h"
#include "lib_parse.h"
#include "run/lane_math.h"

namespace {

constexpr size_t kRows = size_t{1} << 20;

struct Text {
    const char *name, *standard, *muparser;
};
const Text kTexts[5] = {{"short", "2*(x+1)-cos(y)", "2*(x+1)-cos(y)"},
                        {"trig", "sin(x)*cos(y)+atan(x/y)", "sin(x)*cos(y)+atan(x/y)"},
                        {"explog", "exp(x/10)-log10(y+2)", "exp(x/10)-log10(y+2)"},
                        {"hypot", "sqrt(x^2+y^2)", "sqrt(x^2+y^2)"},
                        {"select", "x > 0 ? logn(x) : 0", "x > 0 ? ln(x) : 0"}};

enum Way { kOneThread, kEveryCore, kFloatO2, kFloatO3, kDouble, kMuParser, kWays };
const char *const kWayNames[kWays] = {"lib_parse, 1 thread", "lib_parse, every core", "float loop -O2",
                                      "float loop -O3",      "double loop -O3",       "muParser bulk"};

double milliseconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

Parser *standard_parser(long long threads) {
    Parser *p = parser_new();
    parser_syntax(p, PARSER_SYNTAX_STANDARD);
    parser_math(p);
    parser_limit(p, PARSER_LIMIT_THREADS, threads);
    return p;
}

} // namespace

int main(int argc, char **argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    if (rounds < 1) return 2;
    // x in [-2.5, 2.5] (half of select's rows take logn), y in [0.5, 2.5].
    std::vector<float> x(kRows), y(kRows), out(kRows);
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 16777216.0f;
    };
    for (size_t i = 0; i < kRows; ++i) {
        x[i] = next() * 5.0f - 2.5f;
        y[i] = 0.5f + next() * 2.0f;
    }
    const char *names[] = {"x", "y"};
    const float *columns[] = {x.data(), y.data()};
    Parser *one = standard_parser(1), *every = standard_parser(0);

    std::vector<double> times[5][kWays];
    for (int round = 0; round < rounds; ++round) {
        for (int t = 0; t < 5; ++t) {
            const Text &text = kTexts[t];
#if defined(BENCH_HAVE_MUPARSER)
            bench::Case c{text.name, "", "", text.muparser, "", nullptr};
            bench::MuParserEngine muparser(c);
#endif
            for (int k = 0; k < kWays; ++k) {
                const int w = round % 2 == 0 ? k : kWays - 1 - k;
                auto run = [&]() -> bool {
                    switch (w) {
                    case kOneThread:
                    case kEveryCore:
                        return parser_calc_bulk(w == kOneThread ? one : every, text.standard, names, columns, 2, kRows,
                                                out.data()) == 0;
                    case kFloatO2: bench::o2::kLoops[t].in_float(x.data(), y.data(), out.data(), kRows); return true;
                    case kFloatO3: bench::o3::kLoops[t].in_float(x.data(), y.data(), out.data(), kRows); return true;
                    case kDouble: bench::o3::kLoops[t].in_double(x.data(), y.data(), out.data(), kRows); return true;
                    default:
#if defined(BENCH_HAVE_MUPARSER)
                        if (!muparser.ready()) return false;
                        muparser.bulk(x.data(), y.data(), kRows, out.data());
                        return true;
#else
                        return false;
#endif
                    }
                };
                if (round == 0 && !run()) continue; // the first call builds what later calls reuse
                const auto start = std::chrono::steady_clock::now();
                if (run()) times[t][w].push_back(milliseconds_since(start));
            }
        }
    }

    std::printf("| text |");
    for (const char *way : kWayNames) std::printf(" %s |", way);
    std::printf("\n|---|");
    for (int w = 0; w < kWays; ++w) std::printf("---|");
    std::printf("\n");
    for (int t = 0; t < 5; ++t) {
        std::printf("| `%s` `%s` |", kTexts[t].name, kTexts[t].standard);
        for (int w = 0; w < kWays; ++w) {
            std::vector<double> &v = times[t][w];
            if (v.empty()) {
                std::printf(" — |");
                continue;
            }
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
            std::printf(" %.2f |", v[v.size() / 2]);
        }
        std::printf("\n");
    }

    // Each function over the argument it has in the texts.
    struct Use {
        const char *text;
    };
    const Use uses[] = {{"cos(y)"}, {"sin(x)"}, {"atan(x/y)"}, {"exp(x/10)"}, {"log10(y+2)"}, {"x > 0 ? logn(x) : 0"}};
    std::printf("\nlanes sent to the C library's routine:");
    for (const Use &u : uses) {
        const uint64_t before = lp::lane_fallbacks();
        if (parser_calc_bulk(one, u.text, names, columns, 2, kRows, out.data()) != 0) return 1;
        std::printf(" %s %.4f%%;", u.text, 100.0 * static_cast<double>(lp::lane_fallbacks() - before) / kRows);
    }
    std::printf("\n");
    parser_destroy(one);
    parser_destroy(every);
    return 0;
}
