// csv_mode.h - evaluating one expression over every row of a CSV stream.
#ifndef LPARSE_CSV_MODE_H
#define LPARSE_CSV_MODE_H

#include <string>

#include "calculator.h"
#include "options.h"

namespace lparse {

struct CsvStyle {
    bool quiet = false; // no warnings
    OnError on_error = OnError::STOP;
};

// Reads PATH ("-" for standard input): the first row names the variables,
// each later row gives their values; writes every row back with a 'result'
// column. Only the columns the expression reads must hold numbers; a row
// where one does not, or with the wrong number of fields, stops the run
// (after the rows before it are written), is left out, or gets the result
// nan, as STYLE says. Returns the exit status: 1 after an error report, bad
// data that stopped the run, or a bad header or file, else 0.
int run_csv(Calculator *calculator, const std::string &expr, const std::string &path, const CsvStyle &style);

} // namespace lparse

#endif // LPARSE_CSV_MODE_H
