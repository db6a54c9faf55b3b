// options.h - the calculator's command line, read into one record.
#ifndef LPARSE_OPTIONS_H
#define LPARSE_OPTIONS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lparse {

struct Sweep {
    std::string var;
    float from = 0.0f;
    float to = 0.0f;
    std::optional<float> step; // positive; the default depends on the output
};

struct Options {
    std::optional<std::string> expr;
    std::vector<std::pair<std::string, float>> vars;         // NAME=VALUE, in command-line order
    std::vector<std::pair<std::string, std::string>> funcs;  // -f PROTO=BODY
    bool tree = false;
    bool explain = false;
    bool dot = false;
    bool plot = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    int trace = 0;
    std::optional<std::string> csv; // file name, "-" for standard input
    std::optional<Sweep> sweep;
};

// The options, or a usage error message (without the "lparse: " prefix).
struct ParsedOptions {
    Options options;
    std::string error;
};

ParsedOptions parse_options(int argc, const char *const *argv);

// The text of --help.
const char *help_text();

} // namespace lparse

#endif // LPARSE_OPTIONS_H
