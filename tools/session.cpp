// session.cpp - reading and carrying out the lines of a session or a script.
#include "session.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <unistd.h>

#include "lib_parse/diagnostics.h"
#include "number_text.h"
#include "output.h"
#include "quote.h"
#include "tree_view.h"

#ifndef LPARSE_VERSION
#define LPARSE_VERSION "unknown"
#endif

namespace lparse {

namespace {

// Every line a session understands, for :help and lparse --help. The words
// of a form that begin with ':', and quit and exit, are what Tab completes.
struct LineForm {
    const char *form;
    const char *meaning;
};
constexpr LineForm kLineForms[] = {
    {"EXPR", "print the value of EXPR, such as 2*(x+1)-cos(y)"},
    {"NAME = EXPR", "set variable NAME to the value of EXPR"},
    {"PROTO := BODY", "define a function, such as f(x) := x*2 or g(a,b) := a-b"},
    {"ans", "the last value printed without an error (unless you set ans)"},
    {":vars", "list the variables"},
    {":funcs", "list the functions; a replaced one shows as '# replaced: ...',"},
    {"", "a host function (of :math) as '# host function: ...'"},
    {":unset NAME", "remove variable NAME"},
    {":undef NAME", "remove function NAME (every definition of it)"},
    {":tree EXPR", "print the expanded tree of EXPR, one node a line"},
    {":explain EXPR", "print EXPR bracketed as it was understood, then its value"},
    {":math", "define the standard host functions, such as sqrt, min, pi()"},
    {"", "and if(c,a,b) (as --math does)"},
    {":syntax [NAME]", "read later lines in grammar NAME, defined or standard"},
    {"", "(as --syntax does); alone, say which one"},
    {":trace LEVEL", "send the library's diagnostics up to LEVEL (0 off, 8 all)"},
    {"", "to standard error (as --trace=LEVEL does)"},
    {":help", "this list"},
    {":quit :q :exit", "leave; so do quit, exit and the end of input (Ctrl-D)"},
    {"# text", "a comment (so a first line #!... is one)"},
};
constexpr size_t kFormWidth = 16;

class Session {
public:
    Session(Calculator *calculator, const SessionStyle &style) : calc_(*calculator), style_(style) {
        user_ans_ = is_variable("ans"); // such as ans=2 on the command line
    }

    // Carries out one line; false after ':quit', 'quit' or 'exit'.
    bool run(std::string_view raw, long number) {
        line_number_ = number;
        // The language reads texts up to a NUL, so such a line would run cut short.
        if (raw.find('\0') != std::string_view::npos) {
            complain("error: the line contains a NUL byte, so it is not run", true);
            return true;
        }
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') return true;
        if (line == "quit" || line == "exit") return false;
        if (line.front() == ':') return command(line);
        if (const size_t define = line.find(":="); define != std::string_view::npos) {
            define_function(trim(line.substr(0, define)), trim(line.substr(define + 2)));
        } else if (const size_t equals = assignment_at(line); equals != std::string_view::npos) {
            assign(trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
        } else if (bool clean = false; const auto value = evaluate(line, &clean)) {
            print_value(*value);
            // ans is the last value printed without an error, unless the user owns the name.
            if (clean && !user_ans_) calc_.set_var("ans", *value);
        }
        return true;
    }

    bool failed() const { return failed_; }

private:
    // Error and warning lines go to standard error, numbered in a script.
    void complain(const std::string &message, bool is_error) {
        if (is_error) failed_ = true;
        if (!is_error && style_.quiet) return;
        std::fflush(stdout); // keep values and messages in order on one terminal
        if (style_.interactive)
            std::fprintf(stderr, "lparse: %s\n", message.c_str());
        else
            std::fprintf(stderr, "lparse: line %ld: %s\n", line_number_, message.c_str());
    }

    // The value of TEXT after its error and warning lines, or nothing when
    // Ctrl-C was pressed meanwhile: the line is dropped then. *CLEAN tells
    // whether no error was reported.
    std::optional<float> evaluate(std::string_view text, bool *clean = nullptr) {
        const Evaluation result = calc_.evaluate(std::string(text));
        if (!style_.interactive && interrupt_pending()) return std::nullopt; // the script ends here
        if (take_interrupt()) {
            std::fflush(stdout);
            std::fprintf(stderr, "\nlparse: interrupted; the line is dropped\n");
            return std::nullopt;
        }
        for (const std::string &line : result.errors) complain(line, true);
        for (const std::string &line : result.warnings) complain(line, false);
        if (clean != nullptr) *clean = result.errors.empty();
        return result.value;
    }

    bool is_variable(std::string_view name) const {
        const auto &vars = calc_.variables();
        return std::any_of(vars.begin(), vars.end(), [&](const auto &var) { return var.first == name; });
    }

    static void print_value(float value) { std::printf("%s\n", format_float(value).c_str()); }

    void assign(std::string_view name, std::string_view expr) {
        if (name.empty()) return complain("error: an assignment needs a NAME before '='", true);
        if (expr.empty()) return complain("error: an assignment needs an EXPR after '='", true);
        if (name.find('(') != std::string_view::npos)
            return complain("error: to define a function write PROTO := BODY, such as f(x) := x*2", true);
        const auto value = evaluate(expr);
        if (!value) return;
        if (name == "ans") user_ans_ = true;
        const std::string warning = calc_.set_var(std::string(name), *value);
        if (!warning.empty()) complain(warning, false);
        if (style_.interactive) std::printf("%.*s = %s\n", static_cast<int>(name.size()), name.data(),
                                            format_float(*value).c_str());
    }

    void define_function(std::string_view proto, std::string_view body) {
        const std::string message = calc_.define_function(std::string(proto), std::string(body));
        if (!message.empty()) complain(message, message.rfind("error", 0) == 0);
    }

    bool command(std::string_view line) {
        const size_t space = line.find_first_of(" \t");
        const std::string_view name = line.substr(0, space);
        const std::string_view arg = space == std::string_view::npos ? std::string_view() : trim(line.substr(space));
        if (name == ":quit" || name == ":q" || name == ":exit") return false;
        if (name == ":help") {
            std::fputs(session_help_text().c_str(), stdout);
        } else if (name == ":vars") {
            for (const auto &[var, value] : calc_.variables())
                std::printf("%s = %s\n", var.c_str(), format_float(value).c_str());
        } else if (name == ":funcs") {
            list_functions();
        } else if (name == ":math") {
            calc_.enable_math();
        } else if (name == ":syntax") {
            if (arg.empty())
                std::printf("%s\n", calc_.standard() ? "standard" : "defined");
            else if (arg == "defined" || arg == "standard")
                calc_.set_standard(arg == "standard");
            else
                complain("error: :syntax takes defined or standard, not " + quoted(arg), true);
        } else if (name == ":unset" || name == ":undef") {
            forget(name, arg);
        } else if (name == ":tree" || name == ":explain") {
            if (arg.empty()) {
                complain("error: " + std::string(name) + " needs an EXPR", true);
                return true;
            }
            const auto value = evaluate(arg);
            if (!value) return true;
            if (name == ":tree") {
                std::fputs(render_tree(calc_.tree(), calc_).c_str(), stdout);
            } else {
                std::printf("%s\n", explain(calc_.tree(), calc_.standard()).c_str());
                print_value(*value);
            }
        } else if (name == ":trace") {
            int level = -1;
            const auto r = std::from_chars(arg.data(), arg.data() + arg.size(), level);
            if (arg.empty() || r.ec != std::errc() || r.ptr != arg.data() + arg.size() || level < 0 || level > 8)
                complain("error: :trace needs a level from 0 (off) to 8 (everything)", true);
            else
                dbg_set_level(level);
        } else {
            complain("error: unknown command " + quoted(name) + "; :help lists the commands", true);
        }
        return true;
    }

    // User functions oldest first, a definition that a later one of the same
    // name replaces as a comment, so the list can be read back as a script;
    // then the host functions, as comments too.
    void list_functions() {
        const std::vector<lib_parse::Function> funcs = calc_.functions();
        const auto hosts = std::find_if(funcs.begin(), funcs.end(),
                                        [](const auto &f) { return f.kind == PARSER_FUNCTION_HOST; });
        for (auto f = std::make_reverse_iterator(hosts); f != funcs.rend(); ++f)
            std::printf("%s%s := %s\n", f->replaced ? "# replaced: " : "", f->proto.c_str(), f->body.c_str());
        for (auto f = hosts; f != funcs.end(); ++f) {
            const std::string count = f->n_args < 0    ? "up to " + std::to_string(PARSER_NATIVE_MAX_ARGS) + " arguments"
                                      : f->n_args == 1 ? "1 argument"
                                                       : std::to_string(f->n_args) + " arguments";
            std::printf("# host function: %s, %s\n", f->name.c_str(), count.c_str());
        }
    }

    // :unset NAME removes a variable, :undef NAME (or NAME(PARAMS)) every definition of a function.
    void forget(std::string_view command, std::string_view arg) {
        const bool function = command == ":undef";
        const std::string name(function ? trim(arg.substr(0, arg.find('('))) : arg);
        if (name.empty()) return complain("error: " + std::string(command) + " needs a NAME", true);
        if (calc_.forget(name, function)) {
            if (!function && name == "ans") user_ans_ = false;
            return;
        }
        const std::vector<std::string> hosts = calc_.host_names();
        const bool host = function && std::find(hosts.begin(), hosts.end(), name) != hosts.end();
        complain(host ? "error: " + quoted(name) + " is a host function; :undef removes user functions"
                      : "error: no " + std::string(function ? "function" : "variable") + " is named " + quoted(name),
                 true);
    }

    Calculator &calc_;
    SessionStyle style_;
    bool user_ans_ = false; // a variable ans that the user set, which lparse leaves alone
    long line_number_ = 0;
    bool failed_ = false;
};

// What Tab offers: variables, user and host functions, the language's functions and the commands.
std::vector<std::string> completions(const Calculator &calculator) {
    std::vector<std::string> names = {"quit", "exit"};
    for (const LineForm &line : kLineForms) {
        std::string_view form = line.form;
        for (size_t at = form.find(':'); at != std::string_view::npos; at = form.find(':', at + 1)) {
            const bool command = (at == 0 || form[at - 1] == ' ') && at + 1 < form.size() &&
                                 std::isalpha(static_cast<unsigned char>(form[at + 1]));
            if (command) names.emplace_back(form.substr(at, form.find(' ', at) - at));
        }
    }
    for (const auto &var : calculator.variables()) names.push_back(var.first);
    for (const lib_parse::Function &func : calculator.functions()) names.push_back(func.name);
    for (int op = 0; op < PARSER_OP_COUNT; ++op)
        if (const char *symbol = parser_op_symbol(op); symbol != nullptr && std::isalpha(static_cast<unsigned char>(symbol[0])))
            names.emplace_back(symbol);
    return names;
}

} // namespace

int run_session(Calculator *calculator, LineInput *input, const SessionStyle &style) {
    Session session(calculator, style);
    std::string line;
    ReadStatus status = ReadStatus::LINE;
    for (long number = 1; (status = input->read(&line)) != ReadStatus::END;) {
        if (status == ReadStatus::CANCELLED) continue;
        if (!style.interactive && interrupt_pending()) break; // a script stops at Ctrl-C
        take_interrupt(); // a Ctrl-C from before the line was entered
        const bool go_on = session.run(line, number++);
        if (!flush_output() || !go_on) break;
        if (!style.interactive && interrupt_pending()) break;
    }
    if (style.interactive) {
        if (status == ReadStatus::END) std::fputc('\n', style.screen); // after Ctrl-D, leave the shell a fresh line
        return 0; // the person ended it, and saw every error as it came
    }
    return session.failed() ? 1 : 0;
}

int run_standard_input(Calculator *calculator, SessionStyle style) {
    style.interactive = isatty(STDIN_FILENO) != 0;
    if (!style.interactive) return run_session(calculator, open_script_input(stdin).get(), style);
    // The banner and prompts go to the terminal, never into output sent on to a pipe or file.
    style.screen = isatty(STDOUT_FILENO) != 0 ? stdout : stderr;
    std::fprintf(style.screen, "lparse %s: expressions in 32-bit floats. :help lists the commands; quit or Ctrl-D leaves.\n",
                 LPARSE_VERSION);
    catch_interrupts();
    TerminalSetup setup;
    setup.prompt = "> ";
    setup.prompt_stream = style.screen;
    if (style.history) setup.history_file = default_history_file();
    setup.names = [calculator] { return completions(*calculator); };
    return run_session(calculator, open_terminal_input(setup).get(), style);
}

int run_script_file(Calculator *calculator, const std::string &path, const SessionStyle &style) {
    if (path == "-") return run_session(calculator, open_script_input(stdin).get(), style);
    const std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "r"), std::fclose);
    if (!file) {
        std::fprintf(stderr, "lparse: cannot open %s: %s\n", quoted(path).c_str(), std::strerror(errno));
        return 1;
    }
    const int status = run_session(calculator, open_script_input(file.get()).get(), style);
    if (!std::ferror(file.get())) return status;
    std::fprintf(stderr, "lparse: cannot read %s: %s\n", quoted(path).c_str(), std::strerror(errno));
    return 1;
}

std::string session_lines_text() {
    std::string text;
    for (const LineForm &line : kLineForms) {
        text += "  ";
        text += line.form;
        text.append(kFormWidth > std::strlen(line.form) ? kFormWidth - std::strlen(line.form) : 1, ' ');
        text += line.meaning;
        text += '\n';
    }
    return text;
}

std::string session_help_text() {
    return "Lines:\n" + session_lines_text() +
           R"(At a terminal, Ctrl-C cancels the line being typed or carried out, Tab
completes names and commands, and lines are kept between sessions.
Surprises: '^' binds more loosely than '*' ('2*3^2' is 36), a name finds the
newest variable that begins with it, blanks belong to names ('x ' is not 'x'),
'1e3' is a name, 'costly' is cos(tly). See docs/language.md.
)";
}

} // namespace lparse
