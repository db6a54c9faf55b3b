// sweep_mode.cpp - the points of a sweep, evaluated over one parsed tree, as a table or a plot.
#include "sweep_mode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "line_input.h"
#include "number_text.h"
#include "output.h"
#include "plot.h"
#include "quote.h"

namespace lparse {

namespace {

// Points in a table when no STEP is given: 20 intervals.
constexpr int kDefaultIntervals = 20;

// How close (in steps) the last step must come to TO to end there: STEP and
// the range are decimals such as 0.1 that a double holds only nearly.
constexpr double kReachTolerance = 1e-6;

} // namespace

std::vector<float> sweep_points(const Sweep &sweep, int intervals) {
    const double from = sweep.from, to = sweep.to;
    if (from == to) return {static_cast<float>(from)};
    double step = (to - from) / std::max(intervals, 1);
    double count = std::max(intervals, 1);
    bool reaches_to = true;
    if (sweep.step) {
        step = *sweep.step; // its sign already points from FROM toward TO
        const double exact = (to - from) / step;
        count = std::round(exact);
        reaches_to = std::fabs(exact - count) <= kReachTolerance;
        if (!reaches_to) count = std::floor(exact);
    }
    const auto last = static_cast<size_t>(count);
    std::vector<float> points(last + 1);
    for (size_t i = 0; i <= last; ++i) points[i] = static_cast<float>(from + static_cast<double>(i) * step);
    if (reaches_to) points[last] = static_cast<float>(to);
    return points;
}

int run_sweep(Calculator *calculator, const std::string &expr, const Sweep &sweep, bool plot, PlotStyle style,
              bool quiet) {
    PlotSize size;
    size.width = terminal_width();
    size.ascii = style == PlotStyle::ASCII || (style == PlotStyle::AUTO && !locale_is_utf8());
    // Without STEP a plot takes about one sample per dot column.
    const std::vector<float> xs =
        sweep_points(sweep, plot ? plot_dot_columns(size, sweep.var) - 1 : kDefaultIntervals);

    const std::string warning = calculator->set_var(sweep.var, xs.front());
    if (!warning.empty() && !quiet) std::fprintf(stderr, "lparse: %s\n", warning.c_str());
    if (const std::vector<std::string> missing = calculator->names_without_values(expr); !missing.empty()) {
        for (const std::string &line : missing) std::fprintf(stderr, "lparse: %s\n", line.c_str());
        return 1;
    }
    const Evaluation prepared = calculator->prepare(expr);
    for (const std::string &line : prepared.errors) std::fprintf(stderr, "lparse: %s\n", line.c_str());
    if (!quiet)
        for (const std::string &line : prepared.warnings) std::fprintf(stderr, "lparse: %s\n", line.c_str());
    const int status = prepared.errors.empty() ? 0 : 1;

    Parser *parser = calculator->handle();
    const char *name = sweep.var.c_str();
    const char *text = expr.c_str();
    if (!plot) {
        std::printf("%s\t%s\n", name, text);
        for (const float x : xs) {
            parser_var(parser, name, x);
            const float y = parser_calc(parser, text);
            if (interrupt_pending()) break; // Ctrl-C: the rows so far stand
            std::printf("%s\t%s\n", format_float(x).c_str(), format_float(y).c_str());
            if (!output_ok()) break; // a closed pipe or a failed write ends the table
        }
        return status;
    }
    std::vector<double> at(xs.begin(), xs.end());
    std::vector<float> ys(xs.size());
    for (size_t i = 0; i < xs.size(); ++i) {
        parser_var(parser, name, xs[i]);
        ys[i] = parser_calc(parser, text);
        if (interrupt_pending()) return 1; // Ctrl-C: no picture of part of a curve
    }
    // The picture reads left to right whichever way the sweep ran.
    if (at.size() > 1 && at.front() > at.back()) {
        std::reverse(at.begin(), at.end());
        std::reverse(ys.begin(), ys.end());
    }
    const std::string picture = plot_curve(at, ys, expr, sweep.var, size);
    if (picture.empty()) {
        std::fprintf(stderr, "lparse: %s has no finite value between %s and %s\n", quoted(expr).c_str(),
                     format_float(static_cast<float>(sweep.from)).c_str(),
                     format_float(static_cast<float>(sweep.to)).c_str());
        return 1;
    }
    std::fputs(picture.c_str(), stdout);
    return status;
}

} // namespace lparse
