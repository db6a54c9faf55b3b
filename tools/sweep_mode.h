// sweep_mode.h - evaluating one expression over a range of one variable: a table or a plot.
#ifndef LPARSE_SWEEP_MODE_H
#define LPARSE_SWEEP_MODE_H

#include <string>
#include <vector>

#include "calculator.h"
#include "options.h"

namespace lparse {

// The points of SWEEP: FROM + i*STEP in double, each rounded to a float once,
// and TO itself when a step reaches it. Without a STEP, INTERVALS equal steps.
std::vector<float> sweep_points(const Sweep &sweep, int intervals);

// Evaluates EXPR for SWEEP.var from SWEEP.from to SWEEP.to; prints a table of
// VAR and value, or with PLOT a picture of the curve in STYLE. The other
// variables are already defined on the calculator. Returns the exit status.
int run_sweep(Calculator *calculator, const std::string &expr, const Sweep &sweep, bool plot, PlotStyle style,
              bool quiet);

} // namespace lparse

#endif // LPARSE_SWEEP_MODE_H
