// options.cpp - reading the command line: options anywhere, EXPR and NAME=VALUE as positional arguments.
#include "options.h"

#include <cctype>
#include <cstdlib>
#include <charconv>
#include <cmath>
#include <string_view>

#include "number_text.h"
#include "calculator.h"
#include "quote.h"
#include "session.h"

namespace lparse {

namespace {

// The most sweep points accepted, so that a slip in STEP cannot run for hours.
constexpr double kMaxSweepPoints = 1e7;

struct Reader {
    int argc;
    const char *const *argv;
    int next = 1;

    bool done() const { return next >= argc; }
    std::string_view take() { return argv[next++]; }
};

std::string parse_sweep(std::string_view arg, Sweep *sweep) {
    const std::string bad = "--sweep expects VAR=FROM:TO[:STEP], such as x=0:10 or x=-1:1:0.1, not " + quoted(arg);
    const size_t equals = arg.find('=');
    if (equals == 0 || equals == std::string_view::npos) return bad;
    sweep->var = std::string(arg.substr(0, equals));
    std::string_view range = arg.substr(equals + 1);
    std::optional<double> parts[3];
    int count = 0;
    while (count < 3) {
        const size_t colon = range.find(':');
        parts[count++] = parse_double(range.substr(0, colon));
        if (colon == std::string_view::npos) break;
        range.remove_prefix(colon + 1);
        if (count == 3) return bad; // a fourth part
    }
    if (count < 2 || !parts[0] || !parts[1] || (count == 3 && !parts[2])) return bad;
    sweep->from = *parts[0];
    sweep->to = *parts[1];
    if (!std::isfinite(static_cast<float>(sweep->from)) || !std::isfinite(static_cast<float>(sweep->to)))
        return "--sweep needs finite FROM and TO";
    if (count == 3) {
        // STEP is a distance, taken from FROM toward TO whatever its sign.
        const double step = *parts[2];
        if (step == 0.0 || !std::isfinite(step)) return "--sweep needs a finite STEP other than 0";
        sweep->step = sweep->to < sweep->from ? -std::fabs(step) : std::fabs(step);
        if (std::fabs(sweep->to - sweep->from) / std::fabs(step) > kMaxSweepPoints)
            return "--sweep would take more than 10000000 steps; use a larger STEP";
    }
    return "";
}

std::string parse_assignment(std::string_view arg, Options *options) {
    const size_t equals = assignment_at(arg);
    const std::string name(arg.substr(0, equals));
    if (name.empty()) return quoted(arg) + ": a variable needs a NAME before '='";
    const auto value = parse_float(arg.substr(equals + 1));
    if (!value) return quoted(arg) + ": VALUE must be a number, such as 2, -0.5 or 1e3";
    options->vars.emplace_back(name, *value);
    return "";
}

// PROTO=BODY, with blanks around '=' as a session allows them around ':=' (also accepted).
std::string parse_function(std::string_view arg, Options *options) {
    const size_t equals = arg.find('=');
    if (equals == std::string_view::npos)
        return "-f expects PROTO=BODY, such as 'f(x)=x*2', not " + quoted(arg);
    const size_t proto_end = equals > 0 && arg[equals - 1] == ':' ? equals - 1 : equals;
    options->funcs.emplace_back(std::string(trim(arg.substr(0, proto_end))), std::string(trim(arg.substr(equals + 1))));
    return "";
}

// Options that take a value accept it as "--name=VALUE" or as the next argument.
std::string value_of(std::string_view name, std::string_view attached, bool has_attached, Reader *in,
                     std::string *value) {
    if (has_attached) {
        *value = std::string(attached);
        return "";
    }
    if (in->done()) return "option " + quoted(name) + " needs a value";
    *value = std::string(in->take());
    return "";
}

std::string parse_long(std::string_view arg, Reader *in, Options *o) {
    const size_t equals = arg.find('=');
    const std::string_view name = arg.substr(0, equals);
    const bool attached = equals != std::string_view::npos;
    const std::string_view rest = attached ? arg.substr(equals + 1) : std::string_view();
    const auto flag = [&](bool *field) -> std::string {
        if (attached) return "option " + quoted(name) + " takes no value";
        *field = true;
        return "";
    };
    if (name == "--help") return flag(&o->help);
    if (name == "--version") return flag(&o->version);
    if (name == "--tree") return flag(&o->tree);
    if (name == "--math") return flag(&o->math);
    if (name == "--explain") return flag(&o->explain);
    if (name == "--dot") return flag(&o->dot);
    if (name == "--plot") {
        o->plot = true;
        if (!attached) return "";
        if (rest != "ascii" && rest != "braille")
            return "--plot=STYLE takes ascii or braille, not " + quoted(rest);
        o->plot_style = rest == "ascii" ? PlotStyle::ASCII : PlotStyle::BRAILLE;
        return "";
    }
    if (name == "--quiet") return flag(&o->quiet);
    if (name == "--no-history") {
        bool off = false;
        const std::string error = flag(&off);
        o->history = !off;
        return error;
    }
    if (name == "--trace") {
        o->trace = 8;
        if (!attached) return "";
        int level = 0;
        const auto r = std::from_chars(rest.data(), rest.data() + rest.size(), level);
        if (r.ec != std::errc() || r.ptr != rest.data() + rest.size() || level < 0 || level > 8)
            return "--trace=LEVEL needs a level from 0 (off) to 8 (everything)";
        o->trace = level;
        return "";
    }
    std::string value;
    if (name == "--on-error") {
        if (std::string error = value_of(name, rest, attached, in, &value); !error.empty()) return error;
        if (value != "stop" && value != "skip" && value != "nan")
            return "--on-error takes stop, skip or nan, not " + quoted(value);
        o->on_error = value == "stop" ? OnError::STOP : value == "skip" ? OnError::SKIP : OnError::WRITE_NAN;
        o->on_error_given = true;
        return "";
    }
    if (name == "--threads") {
        if (std::string error = value_of(name, rest, attached, in, &value); !error.empty()) return error;
        int threads = -1;
        const auto r = std::from_chars(value.data(), value.data() + value.size(), threads);
        if (r.ec != std::errc() || r.ptr != value.data() + value.size() || threads < 0 || threads > 256)
            return "--threads takes a count from 0 (every core) to 256, not " + quoted(value);
        o->threads = threads;
        o->threads_given = true;
        return "";
    }
    if (name == "--syntax") {
        if (std::string error = value_of(name, rest, attached, in, &value); !error.empty()) return error;
        if (value != "defined" && value != "standard")
            return "--syntax takes defined or standard, not " + quoted(value);
        o->standard = value == "standard";
        return "";
    }
    if (name == "--func" || name == "--csv" || name == "--sweep" || name == "--script") {
        if (std::string error = value_of(name, rest, attached, in, &value); !error.empty()) return error;
        if (name == "--func") return parse_function(value, o);
        if (name == "--csv" || name == "--script") {
            (name == "--csv" ? o->csv : o->script) = value;
            return "";
        }
        o->sweep.emplace();
        return parse_sweep(value, &*o->sweep);
    }
    return "unknown option " + quoted(name);
}

// '-' and a letter begins short options; '-' and anything else, such as a
// digit, '.' or '(', begins an expression: lparse -3+1, lparse '-(x*2)' x=1.
bool is_short_option(std::string_view arg) {
    return arg.size() >= 2 && arg[0] == '-' && std::isalpha(static_cast<unsigned char>(arg[1]));
}

// Letters may be grouped, as in -qf 'f(x)=x*3'; -f and -s take the rest of
// the group, or else the next argument, as their value.
std::string parse_short(std::string_view arg, Reader *in, Options *o) {
    for (size_t i = 1; i < arg.size(); ++i) {
        switch (arg[i]) {
        case 'h': o->help = true; break;
        case 'V': o->version = true; break;
        case 'q': o->quiet = true; break;
        case 'f':
        case 's': {
            std::string value;
            const std::string name = arg[i] == 'f' ? "-f" : "-s";
            if (std::string error = value_of(name, arg.substr(i + 1), i + 1 < arg.size(), in, &value); !error.empty())
                return error;
            if (arg[i] == 'f') return parse_function(value, o);
            o->script = value;
            return "";
        }
        default:
            return "unknown option " + quoted(std::string("-") + arg[i]) +
                   "; an EXPR that begins with '-' and a letter goes after '--': lparse -- " + quoted(arg);
        }
    }
    return "";
}

std::string check(const Options &o) {
    if (o.help || o.version) return "";
    if (o.csv && o.sweep) return "--csv and --sweep cannot be combined";
    if (o.script && (o.expr || o.csv || o.sweep))
        return "--script runs the lines of FILE; it takes no EXPR, --csv or --sweep (NAME=VALUE pairs are fine)";
    if (o.plot && !o.sweep) return "--plot draws a --sweep; add --sweep VAR=FROM:TO";
    if (o.on_error_given && !o.csv) return "--on-error applies to the rows of --csv";
    if (o.threads_given && !o.csv) return "--threads applies to the rows of --csv";
    if ((o.csv || o.sweep) && !o.expr) return std::string(o.csv ? "--csv" : "--sweep") + " needs an EXPR";
    if ((o.tree || o.explain || o.dot) && (o.csv || o.sweep))
        return "--tree, --explain and --dot show one evaluation; they do not combine with --csv or --sweep";
    if (o.dot && (o.tree || o.explain)) return "--dot prints the graph alone; it does not combine with --tree or --explain";
    if ((o.tree || o.explain || o.dot) && !o.expr)
        return "--tree, --explain and --dot need an EXPR; in a session use :tree EXPR and :explain EXPR";
    return "";
}

} // namespace

ParsedOptions parse_options(int argc, const char *const *argv) {
    ParsedOptions parsed;
    Options &o = parsed.options;
    // A user who always types formulas the standard way says so once, in
    // the environment; --syntax still decides.
    if (const char *env = std::getenv("LPARSE_SYNTAX"); env != nullptr && *env != 0) {
        const std::string_view value(env);
        if (value != "defined" && value != "standard") {
            parsed.error = "LPARSE_SYNTAX takes defined or standard, not " + quoted(value);
            return parsed;
        }
        o.standard = value == "standard";
    }
    Reader in{argc, argv};
    bool options_ended = false;
    while (!in.done()) {
        const std::string_view arg = in.take();
        std::string error;
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && arg.size() > 2 && arg.substr(0, 2) == "--") {
            error = parse_long(arg, &in, &o);
        } else if (!options_ended && is_short_option(arg)) {
            error = parse_short(arg, &in, &o);
        } else if (assignment_at(arg) != std::string_view::npos) {
            error = parse_assignment(arg, &o); // neither grammar has a lone '='
        } else if (!o.expr) {
            o.expr = std::string(arg);
        } else {
            error = "unexpected argument " + quoted(arg) + " (one EXPR, then NAME=VALUE pairs)";
        }
        if (!error.empty()) {
            parsed.error = error;
            return parsed;
        }
    }
    parsed.error = check(o);
    return parsed;
}

// The help states what the costliest texts cost at these lengths.
static_assert(kTextLimitBytes == 1 << 20 && kDefinitionLimitBytes == 128 << 10, "measure again for --help");

std::string help_text() {
    return R"(Usage: lparse [OPTIONS] EXPR [NAME=VALUE ...]
       lparse [OPTIONS] [NAME=VALUE ...]         read lines: a session, or a script from a pipe
       lparse [OPTIONS] -s FILE [NAME=VALUE ...] run the lines of FILE as a script
       lparse [OPTIONS] --csv FILE EXPR
       lparse [OPTIONS] --sweep VAR=FROM:TO[:STEP] [--plot[=STYLE]] EXPR [NAME=VALUE ...]

Evaluates arithmetic expressions in 32-bit floats.

  lparse '2*(x+1)-cos(y)' x=1 y=0       prints 3
  lparse -f 'f(x)=x*2' 'f(3)+1'          prints 7
  lparse --explain '2*3^2'                prints ((2*3)^2), then 36
  lparse --sweep x=-10:10 --plot 'sin(x)*x'

NAME=VALUE sets a variable; VALUE is a number such as 2, -0.5, 1e3, inf or nan,
read as a double and then rounded to a float, as the language reads a number.

Options:
  -f, --func PROTO=BODY   define a user function, such as 'f(x)=x*2' or 'f(x) = x*2'
                          (repeatable); no blanks in its name
      --syntax=defined|standard
                          read texts and -f definitions in the library's own
                          grammar (the default) or in the standard grammar of
                          formulas, as other formula libraries read them (below);
                          the environment variable LPARSE_SYNTAX sets the default
  -s, --script FILE       run the lines of FILE ('-' for standard input) as a
                          script: 'lparse -s FILE' is 'lparse < FILE', and a
                          first line '#!/usr/bin/env -S lparse -s' makes FILE
                          a program
      --math              define the library's standard host functions: sqrt
                          cbrt abs sign floor ceil round trunc fmod pow hypot
                          atan2 asin acos sinh cosh tanh exp2, min and max of
                          1 to 64 arguments, clamp(x,lo,hi), pi() and e(), lt
                          le gt ge eq ne and or not (1 or 0), and if(c,a,b),
                          which works out only a or b; each computed in double
                          and rounded once to a float
      --tree              print the expanded tree, one node a line, before the value
      --explain           print the expression fully bracketed as it was understood,
                          before the value
      --dot               print the tree as Graphviz DOT instead of the value;
                          not with --tree or --explain
      --trace[=LEVEL]     send the library's diagnostics up to LEVEL, from 0 (off)
                          to 8 (everything), to standard error; 8 without LEVEL
      --csv FILE          evaluate EXPR once per row of FILE ('-' for standard input):
                          the first row names the variables, and every row is written
                          back with a 'result' column; only the columns EXPR reads
                          must hold numbers
      --on-error=stop|skip|nan
                          with --csv, what a row does when a column EXPR reads is not
                          a number or the row has the wrong number of fields: stop
                          the run (the default; exit status 1), or leave the row out
                          (skip) or give it the result nan, with a warning for each
                          of the first five such rows and a count of the rest
      --threads=N         with --csv, the threads that compute the rows: 0, the
                          default, every core; 1 the calling thread only (a
                          block of rows is spread only when it is long enough
                          to gain from it)
      --sweep VAR=FROM:TO[:STEP]
                          evaluate EXPR for VAR from FROM to TO and print a table of
                          VAR and value: point i is FROM+i*STEP, and TO is the last
                          point when a step reaches it (x=0:1:0.1 gives 11 points).
                          STEP is a distance: its sign follows FROM and TO, so
                          x=1:0:0.5 counts down as x=1:0:-0.5 does, and x=0:1:-0.25
                          counts up. Without STEP there are 20 equal steps; with
                          --plot, one point per dot column
      --plot[=STYLE]      with --sweep: draw the curve instead of printing the table,
                          as wide as the terminal (or COLUMNS). STYLE is braille (the
                          default in a UTF-8 locale) or ascii (the default otherwise)
  -q, --quiet             print no warnings (errors are still printed)
      --no-history        in a session, neither read nor save the line history,
                          kept in ~/.lparse_history, or when XDG_STATE_HOME is
                          set in $XDG_STATE_HOME/lparse/history
  -h, --help              show this help and exit
  -V, --version           show the version and the evaluators of this build, and exit
  --                      end of options. Short options group: -qf 'f(x)=x*3'.
                          An argument of '-' and a letter is an option, so such
                          an EXPR goes after '--': lparse -- -x x=2; '-' and
                          anything else begins an EXPR: lparse -3+1

Without EXPR, lparse reads lines: from a terminal as a session with line editing,
Tab completion and history, otherwise one line at a time, so 'lparse < script.txt'
works. At a terminal, Ctrl-C cancels the line being typed or stops the one being
carried out, and the session goes on. A session or script reads these lines:
)" + session_lines_text() + R"(
The language (docs/language.md): + - ^ * / % and cos sin atan tan exp logn log2
log10, searched in that order, so '^' binds more loosely than '*': '2*3^2' is 36.
A name finds the newest variable that begins with it, blanks are part of names,
'1e3' is a name, and 'costly' is cos(tly). A user function's parameters are known
by their first character, and arguments go in without brackets.

The standard grammar (--syntax=standard, or :syntax standard in a session):
blanks separate tokens, 1e3 is a number, names are matched exactly, and from
loosest to tightest  c ? a : b,  ||,  &&,  == !=,  < <= > >=,  + -,  * / %,
unary - + !,  ^  (to the right: 2^3^2 is 512, -2^2 is -4); comparisons and
logic give 1 or 0. Its user functions take parameters by value: 'f(a, b) =
a*b + 1'. A text with an error is nan.

Values print as plain decimals with the fewest digits that read back to the same
32-bit float: 0.0001 and 10000000, never 1e-04 or 1e+07, which the language reads
as names; inf, -inf and nan name the special values.
Variables given on the command line or as CSV columns are defined longest name
first, so that an exact name wins over a longer one that begins with it.

Messages quote at most 40 bytes of input, with control bytes written as \xNN.
Of the messages of one kind that one evaluation gives, the first five are shown
and the rest counted.

Exit status: 0 success; 1 an error was reported (the value is still printed),
bad data, an unreadable file or a failed write; 2 a usage error. A script read
from a pipe or file exits 1 when any of its lines reported an error; a session
at a terminal, which you end yourself, exits 0 after errors too. Output into
a closed pipe (lparse ... | head) ends the run quietly with the status so far.

An expression may be up to 1 MiB long (a longer one is refused: error 6), and
a function definition up to 128 KiB. The costliest texts found at those lengths
take up to a second of CPU time and 410 MiB on a 2-core x86-64 machine: 1 MiB
of operators in a row (1^^^...^1, 1+-*/^%+-*...: up to 0.75 s and 410 MiB),
200,000 calls of a 128 KiB body (f(1)+f(1)+...: 1 s, 121 MiB).
)";
}

} // namespace lparse
