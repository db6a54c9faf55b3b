// lparse.cpp - the command-line calculator: one expression, a session, a CSV stream or a sweep.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "calculator.h"
#include "csv_mode.h"
#include "lib_parse/diagnostics.h"
#include "line_input.h"
#include "number_text.h"
#include "options.h"
#include "output.h"
#include "quote.h"
#include "session.h"
#include "sweep_mode.h"
#include "tree_view.h"

#ifndef LPARSE_VERSION
#define LPARSE_VERSION "unknown"
#endif

namespace {

using namespace lparse;

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

// The evaluators of this build: machine code comes with vector code for bulk rows.
std::string evaluators() {
    lib_parse::Parser probe;
    return probe.limit(PARSER_LIMIT_NATIVE_CODE) == 1 ? "interpreter, machine code, vector bulk code" : "interpreter";
}

void complain(const std::string &message) { std::fprintf(stderr, "lparse: %s\n", message.c_str()); }

// Variables from the command line, longest name first: a name finds the
// newest variable that begins with it, so an exact name must be newest.
std::vector<std::pair<std::string, float>> definition_order(const Options &options) {
    auto vars = options.vars;
    if (options.sweep) vars.emplace_back(options.sweep->var, options.sweep->from);
    std::stable_sort(vars.begin(), vars.end(),
                     [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
    return vars;
}

int evaluate_once(Calculator *calculator, const Options &options) {
    const Evaluation result = calculator->evaluate(*options.expr);
    if (interrupt_pending()) return kExitError; // stopped: no value to show
    for (const std::string &line : result.errors) complain(line);
    if (!options.quiet)
        for (const std::string &line : result.warnings) complain(line);
    // 'lparse script.lp' reads the file name as an expression with unknown names.
    if (!options.quiet && !result.warnings.empty() && access(options.expr->c_str(), F_OK) == 0)
        complain("note: " + quoted(*options.expr) + " is also a file; lparse -s FILE runs a file's lines as a script");
    if (options.dot) {
        std::fputs(render_dot(calculator->tree()).c_str(), stdout);
    } else {
        if (options.tree) std::fputs(render_tree(calculator->tree(), *calculator).c_str(), stdout);
        if (options.explain) std::printf("%s\n", explain(calculator->tree(), calculator->standard()).c_str());
        std::printf("%s\n", format_float(result.value).c_str());
    }
    return result.errors.empty() ? kExitOk : kExitError;
}

int run(int argc, const char *const *argv) {
    const ParsedOptions parsed = parse_options(argc, argv);
    if (!parsed.error.empty()) {
        complain(parsed.error);
        std::fprintf(stderr, "Try 'lparse --help' for more information.\n");
        return kExitUsage;
    }
    const Options &options = parsed.options;
    if (options.help) {
        std::fputs(help_text().c_str(), stdout);
        return kExitOk;
    }
    if (options.version) {
        std::printf("lparse %s (lib_parse %s)%s\nevaluators: %s\n", LPARSE_VERSION, LPARSE_VERSION,
                    have_line_editor() ? ", line editing by libedit" : "", evaluators().c_str());
        return kExitOk;
    }

    if (options.trace > 0) dbg_set_level(options.trace);
    // Ctrl-C stops the library call running and then the mode, which writes
    // what it has computed; the process then ends with 130, as a shell
    // expects of a program stopped by SIGINT.
    catch_interrupts();
    Calculator calculator;
    if (options.math) calculator.enable_math();
    if (options.standard) calculator.set_standard(true);
    for (const auto &[proto, body] : options.funcs) {
        const std::string message = calculator.define_function(proto, body);
        if (message.rfind("error", 0) == 0) {
            complain("-f " + quoted(proto + "=" + body) + ": " + message.substr(7));
            return kExitUsage;
        }
        if (!message.empty() && !options.quiet) complain(message);
    }
    for (const auto &[name, value] : definition_order(options)) {
        const std::string warning = calculator.set_var(name, value);
        if (!warning.empty() && !options.quiet) complain(warning);
    }

    if (options.csv) {
        parser_limit(calculator.handle(), PARSER_LIMIT_THREADS, options.threads);
        return run_csv(&calculator, *options.expr, *options.csv, {options.quiet, options.on_error});
    }
    if (options.sweep) return run_sweep(&calculator, *options.expr, *options.sweep, options.plot, options.plot_style,
                                         options.quiet);
    if (options.expr) return evaluate_once(&calculator, options);

    SessionStyle style;
    style.quiet = options.quiet;
    style.history = options.history;
    if (options.script) return run_script_file(&calculator, *options.script, style);
    return run_standard_input(&calculator, style);
}

} // namespace

int main(int argc, char **argv) {
    lparse::ignore_broken_pipe();
    const int status = run(argc, argv);
    if (lparse::interrupt_pending()) {
        std::fflush(stdout);
        std::fprintf(stderr, "lparse: interrupted\n");
        lparse::close_output(status);
        return 130;
    }
    return lparse::close_output(status);
}
