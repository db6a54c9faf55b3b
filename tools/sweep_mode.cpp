// sweep_mode.cpp - the points of a sweep, evaluated over one parsed tree, as a table or a plot.
#include "sweep_mode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "number_text.h"
#include "plot.h"

namespace lparse {

namespace {

// Points in a table when no STEP is given: 20 intervals.
constexpr int kDefaultIntervals = 20;

} // namespace

int run_sweep(Calculator *calculator, const std::string &expr, const Sweep &sweep, bool plot, bool quiet) {
    const PlotSize size = terminal_plot_size();
    const double from = sweep.from, to = sweep.to;
    const double distance = std::fabs(to - from);
    // Without STEP a plot takes one sample per dot column.
    const double intervals = sweep.step ? std::floor(distance / *sweep.step * (1.0 + 1e-9))
                                        : (plot ? size.columns * 2 - 1 : kDefaultIntervals);
    const double step = intervals > 0 ? (to - from) / intervals : 0.0;
    const auto points = static_cast<size_t>(distance > 0 ? intervals + 1 : 1);
    const double signed_step = sweep.step ? (to >= from ? *sweep.step : -*sweep.step) : step;

    const std::string warning = calculator->set_var(sweep.var, sweep.from);
    if (!warning.empty() && !quiet) std::fprintf(stderr, "lparse: %s\n", warning.c_str());
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
        for (size_t i = 0; i < points; ++i) {
            const auto x = static_cast<float>(from + static_cast<double>(i) * signed_step);
            parser_var(parser, name, x);
            const float y = parser_calc(parser, text);
            std::printf("%s\t%s\n", format_float(x).c_str(), format_float(y).c_str());
        }
        return status;
    }
    std::vector<double> xs(points);
    std::vector<float> ys(points);
    for (size_t i = 0; i < points; ++i) {
        const auto x = static_cast<float>(from + static_cast<double>(i) * signed_step);
        parser_var(parser, name, x);
        xs[i] = x;
        ys[i] = parser_calc(parser, text);
    }
    // The picture reads left to right whichever way the sweep ran.
    if (xs.size() > 1 && xs.front() > xs.back()) {
        std::reverse(xs.begin(), xs.end());
        std::reverse(ys.begin(), ys.end());
    }
    const std::string picture = plot_curve(xs, ys, expr, sweep.var, size);
    if (picture.empty()) {
        std::fprintf(stderr, "lparse: %s has no finite value between %s and %s\n", text,
                     format_float(sweep.from).c_str(), format_float(sweep.to).c_str());
        return 1;
    }
    std::fputs(picture.c_str(), stdout);
    return status;
}

} // namespace lparse
