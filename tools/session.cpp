// session.cpp - reading and carrying out the lines of a session or a script.
#include "session.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "lib_parse/diagnostics.h"
#include "number_text.h"
#include "tree_view.h"

namespace lparse {

namespace {

class Session {
public:
    Session(Calculator *calculator, const SessionStyle &style) : calc_(*calculator), style_(style) {}

    // Carries out one line; false after ':quit'.
    bool run(std::string_view raw, long number) {
        line_number_ = number;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') return true;
        if (line.front() == ':') return command(line);
        if (const size_t define = line.find(":="); define != std::string_view::npos) {
            define_function(trim(line.substr(0, define)), trim(line.substr(define + 2)));
        } else if (const size_t equals = line.find('='); equals != std::string_view::npos) {
            assign(trim(line.substr(0, equals)), trim(line.substr(equals + 1)));
        } else {
            print_value(evaluate(line));
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

    float evaluate(std::string_view text) {
        const Evaluation result = calc_.evaluate(std::string(text));
        for (const std::string &line : result.errors) complain(line, true);
        for (const std::string &line : result.warnings) complain(line, false);
        return result.value;
    }

    static void print_value(float value) { std::printf("%s\n", format_float(value).c_str()); }

    void assign(std::string_view name, std::string_view expr) {
        if (name.empty()) return complain("error: an assignment needs a NAME before '='", true);
        if (name.find('(') != std::string_view::npos)
            return complain("error: to define a function write PROTO := BODY, such as f(x) := x*2", true);
        const float value = evaluate(expr);
        const std::string warning = calc_.set_var(std::string(name), value);
        if (!warning.empty()) complain(warning, false);
        if (style_.interactive) std::printf("%.*s = %s\n", static_cast<int>(name.size()), name.data(),
                                            format_float(value).c_str());
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
            std::fputs(session_help_text(), stdout);
        } else if (name == ":vars") {
            for (const auto &[var, value] : calc_.variables())
                std::printf("%s = %s\n", var.c_str(), format_float(value).c_str());
        } else if (name == ":funcs") {
            for (const auto &[proto, body] : calc_.functions()) std::printf("%s := %s\n", proto.c_str(), body.c_str());
        } else if (name == ":tree" || name == ":explain") {
            if (arg.empty()) {
                complain("error: " + std::string(name) + " needs an EXPR", true);
                return true;
            }
            const float value = evaluate(arg);
            if (name == ":tree") {
                std::fputs(render_tree(calc_.tree(), calc_).c_str(), stdout);
            } else {
                std::printf("%s\n", explain(calc_.tree()).c_str());
                print_value(value);
            }
        } else if (name == ":trace") {
            int level = -1;
            const auto r = std::from_chars(arg.data(), arg.data() + arg.size(), level);
            if (arg.empty() || r.ec != std::errc() || r.ptr != arg.data() + arg.size() || level < 0)
                complain("error: :trace needs a level from 0 (off) to 8 (everything)", true);
            else
                dbg_set_level(level);
        } else {
            complain("error: unknown command '" + std::string(name) + "'; :help lists the commands", true);
        }
        return true;
    }

    Calculator &calc_;
    SessionStyle style_;
    long line_number_ = 0;
    bool failed_ = false;
};

} // namespace

int run_session(Calculator *calculator, LineInput *input, const SessionStyle &style) {
    Session session(calculator, style);
    std::string line;
    for (long number = 1; input->read(&line); ++number) {
        const bool go_on = session.run(line, number);
        std::fflush(stdout);
        if (!go_on) break;
    }
    return session.failed() ? 1 : 0;
}

const char *session_help_text() {
    return R"(Lines:
  EXPR              print the value of EXPR, such as 2*(x+1)-cos(y)
  NAME = EXPR       set variable NAME to the value of EXPR
  PROTO := BODY     define a function, such as f(x) := x*2 or g(a,b) := a-b
  :vars             list the variables
  :funcs            list the functions
  :tree EXPR        print the expanded tree of EXPR, one node a line
  :explain EXPR     print EXPR fully bracketed as it was understood, then its value
  :trace LEVEL      send the library's diagnostics up to LEVEL (0 off, 8 all) to standard error
  :help             this text
  :quit             leave (so does end of input)
  # text            a comment
Surprises: '^' binds more loosely than '*' ('2*3^2' is 36), a name finds the
newest variable that begins with it, blanks belong to names ('x ' is not 'x'),
'1e3' is a name, 'costly' is cos(tly). See docs/language.md.
)";
}

} // namespace lparse
