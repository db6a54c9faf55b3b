// sweep_mode.h - evaluating one expression over a range of one variable: a table or a plot.
#ifndef LPARSE_SWEEP_MODE_H
#define LPARSE_SWEEP_MODE_H

#include <string>

#include "calculator.h"
#include "options.h"

namespace lparse {

// Evaluates EXPR for SWEEP.var from SWEEP.from to SWEEP.to; prints a table of
// VAR and value, or with PLOT a picture of the curve. The other variables are
// already defined on the calculator. Returns the exit status.
int run_sweep(Calculator *calculator, const std::string &expr, const Sweep &sweep, bool plot, bool quiet);

} // namespace lparse

#endif // LPARSE_SWEEP_MODE_H
