// options.h - the calculator's command line, read into one record.
#ifndef LPARSE_OPTIONS_H
#define LPARSE_OPTIONS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lparse {

// FROM, TO and STEP as written, in double: each point is FROM + i*STEP,
// rounded to a float once.
struct Sweep {
    std::string var;
    double from = 0.0;
    double to = 0.0;
    std::optional<double> step; // its sign follows FROM and TO; the default depends on the output
};

// How --plot draws: chosen from the locale, or named as --plot=ascii|braille.
enum class PlotStyle { AUTO, ASCII, BRAILLE };

// What a CSV row does when a column the expression reads is not a number,
// or the row has the wrong number of fields.
enum class OnError { STOP, SKIP, WRITE_NAN };

struct Options {
    std::optional<std::string> expr;
    std::vector<std::pair<std::string, float>> vars;         // NAME=VALUE, in command-line order
    std::vector<std::pair<std::string, std::string>> funcs;  // -f PROTO=BODY
    bool tree = false;
    bool math = false; // --math: the library's standard host functions (parser_math)
    bool standard = false; // --syntax=standard: the standard grammar (parser_syntax)
    bool explain = false;
    bool dot = false;
    bool plot = false;
    PlotStyle plot_style = PlotStyle::AUTO;
    bool quiet = false;
    bool history = true; // --no-history turns it off
    bool help = false;
    bool version = false;
    int trace = 0;
    std::optional<std::string> csv;    // file name, "-" for standard input
    std::optional<std::string> script; // -s FILE: lines to run, "-" for standard input
    OnError on_error = OnError::STOP; // --on-error, with --csv
    bool on_error_given = false;
    int threads = 0; // --threads, with --csv: PARSER_LIMIT_THREADS, 0 every core
    bool threads_given = false;
    std::optional<Sweep> sweep;
};

// The options, or a usage error message (without the "lparse: " prefix).
struct ParsedOptions {
    Options options;
    std::string error;
};

ParsedOptions parse_options(int argc, const char *const *argv);

// The text of --help.
std::string help_text();

} // namespace lparse

#endif // LPARSE_OPTIONS_H
