// csv_mode.h - evaluating one expression over every row of a CSV stream.
#ifndef LPARSE_CSV_MODE_H
#define LPARSE_CSV_MODE_H

#include <string>

#include "calculator.h"

namespace lparse {

// Reads PATH ("-" for standard input): the first row names the variables,
// each later row gives their values; writes every row back with a 'result'
// column. Returns the exit status: 1 after an error report or bad data (the
// rows before a bad one are written), else 0.
int run_csv(Calculator *calculator, const std::string &expr, const std::string &path, bool quiet);

} // namespace lparse

#endif // LPARSE_CSV_MODE_H
