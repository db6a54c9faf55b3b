// calculator.cpp - definitions, evaluation and the error and warning lines the calculator prints.
#include "calculator.h"

#include <algorithm>
#include <cctype>
#include <unordered_set>

#include "caret.h"
#include "number_text.h"
#include "line_input.h"
#include "quote.h"

namespace lparse {

namespace {

// Messages of each kind shown for one evaluation; the rest are counted. A
// long text may hold a hundred thousand unknown names or refused calls.
constexpr size_t kShownMessages = 5;

// The error and warning lines of one evaluation of TEXT, taken as the
// library reports them, none kept beyond those shown.
class MessageLines {
public:
    // HOSTS: the names of the host functions, for hints.
    MessageLines(const std::string &text, Evaluation *into, std::vector<std::string> hosts)
        : text_(text), into_(*into), hosts_(std::move(hosts)) {}

    // Error entry INDEX of PARSER's tree, in the library's words for its
    // token and fix.
    void error(const Parser *parser, int index, int code, size_t offset, size_t length) {
        add(&into_.errors, &hidden_errors_, [&] {
            std::string message(static_cast<size_t>(std::max(0, parser_error_message(parser, index, nullptr, 0))), '\0');
            parser_error_message(parser, index, message.data(), message.size() + 1);
            return "error " + std::to_string(code) + ": " + message + "\n" + show_place(text_, offset, length);
        });
    }

    // A note of parser_check that is not an error of the build.
    void note(int kind, size_t offset, size_t length, const char *message) {
        if (!said_.insert(message).second) return; // a trap repeated in a text is told once
        const auto line = [&] {
            return message + hint(kind, offset, length) + "\n" + show_place(text_, offset, length);
        };
        if (kind == PARSER_NOTE_UNMATCHED_BRACKET)
            add(&into_.errors, &hidden_errors_, [&] { return "error: " + line(); });
        else
            add(&into_.warnings, &hidden_warnings_, [&] { return "warning: " + line(); });
    }

    // Ends each list with a line counting what it left out.
    void finish() {
        if (hidden_errors_ > 0) into_.errors.push_back("error: " + not_shown(hidden_errors_, "error"));
        if (hidden_warnings_ > 0) into_.warnings.push_back("warning: " + not_shown(hidden_warnings_, "warning"));
    }

private:
    // The line is made only when it is shown.
    template <typename MakeLine>
    static void add(std::vector<std::string> *lines, size_t *hidden, MakeLine make_line) {
        if (lines->size() < kShownMessages)
            lines->push_back(make_line());
        else
            ++*hidden;
    }

    // pi reads a variable, pi() calls the host function pi; a blank in a
    // name is what the standard grammar reads otherwise.
    std::string hint(int kind, size_t offset, size_t length) const {
        if (kind == PARSER_NOTE_BLANK_IN_NAME)
            return "; --syntax=standard (or LPARSE_SYNTAX=standard) reads it as most calculators do";
        if (kind != PARSER_NOTE_UNKNOWN_NAME) return "";
        const std::string name = text_.substr(offset, length);
        const bool host = std::find(hosts_.begin(), hosts_.end(), name) != hosts_.end();
        return host ? "; write " + name + "() to call the host function" : "";
    }

    static std::string not_shown(size_t count, const char *kind) {
        return std::to_string(count) + " more " + kind + (count == 1 ? " is" : "s are") + " not shown";
    }

    const std::string &text_;
    Evaluation &into_;
    std::vector<std::string> hosts_;
    std::unordered_set<std::string> said_;
    size_t hidden_errors_ = 0, hidden_warnings_ = 0;
};

// How the library reads TEXT alone, with TEXT the one variable of a handle
// of its own.
struct AloneReading {
    const char *split_at = nullptr; // the root's operation symbol when TEXT is split
    bool reads_variable = false;    // TEXT is one operand whose value is the variable's
    bool reports_error = false;     // reading it reports an error
};

AloneReading read_alone(const std::string &text) {
    AloneReading reading;
    lib_parse::Parser scratch;
    scratch.var(text, 1.0f);
    const float first = scratch.calc(text);
    scratch.var(text, 2.0f);
    const float second = parser_eval(scratch.get()); // the same tree: its value follows the variable or not
    scratch.walk([&](int depth, int, const char *, int op, int, float) {
        if (depth == 0 && op != PARSER_OP_OPERAND) reading.split_at = parser_op_symbol(op);
    });
    reading.reads_variable = reading.split_at == nullptr && first == 1.0f && second == 2.0f;
    parser_check(scratch.get(), text.c_str(), [](void *ctx, int kind, size_t, size_t, const char *) {
        if (kind <= PARSER_NOTE_UNMATCHED_BRACKET) *static_cast<bool *>(ctx) = true;
    }, &reading.reports_error);
    return reading;
}

} // namespace

std::string unreachable_name_warning(const std::string &name, bool standard) {
    if (name.empty()) return "warning: a variable has an empty name, which no expression can name";
    if (standard) { // names are a letter or '_', then letters, digits and '_'
        const auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; };
        const bool word = letter(name[0]) && std::all_of(name.begin(), name.end(), [&](char c) {
                              return letter(c) || std::isdigit(static_cast<unsigned char>(c));
                          });
        return word ? "" : "warning: " + quoted(name) + " is no name of the standard grammar, so no expression can name it";
    }
    const AloneReading reading = read_alone(name);
    const std::string warning = "warning: " + quoted(name);
    if (reading.split_at != nullptr)
        return warning + " holds '" + reading.split_at + "', so expressions split it there";
    if (reading.reads_variable)
        return reading.reports_error ? warning + " is read with an error wherever an expression names it" : "";
    if (name.find_first_of("()") != std::string::npos)
        return warning + " holds a bracket, so no expression can name it";
    return warning + " reads as a number in expressions, so no expression can name it";
}

std::string Calculator::set_var(const std::string &name, float value) {
    parser_.var(name, value);
    // The library updates a variable in place and puts a new one in front of
    // the others; the list kept here is in definition order, for :vars.
    // Found through an index: a CSV header of 200,000 names defines them in
    // time linear in their number.
    const auto [at, added] = var_at_.emplace(name, vars_.size());
    if (!added) {
        vars_[at->second].second = value;
        return "";
    }
    vars_.emplace_back(name, value);
    return unreachable_name_warning(name, standard_);
}

std::string Calculator::define_function(const std::string &proto, const std::string &body) {
    if (standard_) {
        if (body.empty()) return "error: a function needs a BODY after its prototype";
        if (proto.size() + body.size() > kDefinitionLimitBytes)
            return "error: a function definition may be up to " + std::to_string(kDefinitionLimitBytes >> 10) +
                   " KiB long";
        if (parser_.func(proto, body) != 0)
            return "error: a function prototype looks like NAME(PARAMS) with distinct names, such as 'f(x)' or "
                   "'g(a, b)', not " + quoted(proto);
        const std::string name(trim(proto.substr(0, proto.find('('))));
        const std::vector<std::string> hosts = host_names();
        if (std::find(hosts.begin(), hosts.end(), name) != hosts.end())
            return "warning: calls " + quoted(name + "(...)") + " go to the host function " + quoted(name) +
                   ", which comes before user functions, so they never use this definition";
        return "";
    }
    const size_t open = proto.find('(');
    if (open == 0 || open == std::string::npos || proto.back() != ')')
        return "error: a function prototype looks like NAME(PARAMS), such as 'f(x)' or 'g(a,b)', not " +
               quoted(proto);
    if (proto.find_first_of(" \t") < open)
        return "error: a function's name holds no blanks: write NAME(PARAMS), such as 'f(x)', not " + quoted(proto);
    if (body.empty()) return "error: a function needs a BODY after its prototype";
    if (proto.size() + body.size() > kDefinitionLimitBytes)
        return "error: a function definition may be up to " + std::to_string(kDefinitionLimitBytes >> 10) +
               " KiB long";
    parser_.func(proto, body);
    const std::string name = proto.substr(0, open);
    // A call NAME(ARGS) of a host function's exact name is its call, whatever user functions say.
    const std::vector<std::string> hosts = host_names();
    if (std::find(hosts.begin(), hosts.end(), name) != hosts.end())
        return "warning: calls " + quoted(name + "(...)") + " go to the host function " + quoted(name) +
                   ", which comes before user functions, so they never use this definition";
    if (const char *split_at = read_alone(name).split_at)
        return "warning: function name " + quoted(name) + " holds '" + split_at + "', so its calls are split there";
    return "";
}

bool Calculator::forget(const std::string &name, bool function) {
    if (function) return parser_.unset_func(name) == 0;
    const auto at = var_at_.find(name);
    if (at == var_at_.end() || parser_.unset(name) != 0) return false;
    vars_.erase(vars_.begin() + static_cast<std::ptrdiff_t>(at->second));
    var_at_.clear();
    for (size_t k = 0; k < vars_.size(); ++k) var_at_.emplace(vars_[k].first, k);
    return true;
}

Calculator::~Calculator() { forget_on_interrupt(parser_.get()); }

void Calculator::take_up_handle() {
    parser_.limit(PARSER_LIMIT_TEXT_BYTES, kTextLimitBytes);
    stop_on_interrupt(parser_.get());
}

void Calculator::enable_math() {
    math_ = true;
    parser_.math();
}

void Calculator::set_standard(bool standard) {
    standard_ = standard;
    parser_.syntax(standard ? PARSER_SYNTAX_STANDARD : PARSER_SYNTAX_DEFINED);
}

std::vector<std::string> Calculator::host_names() const {
    std::vector<std::string> names;
    parser_functions(parser_.get(), [](void *ctx, const ParserFunction *f) {
        if (f->kind == PARSER_FUNCTION_HOST) static_cast<std::vector<std::string> *>(ctx)->push_back(f->name);
    }, &names);
    return names;
}

std::optional<std::string> Calculator::lookup(const std::string &operand) const {
    for (const lib_parse::Name &name : names(operand))
        if (name.kind == PARSER_NAME_VARIABLE) return name.name;
    return std::nullopt;
}

std::vector<std::string> Calculator::names_without_values(const std::string &text) const {
    std::vector<std::string> lines, seen;
    for (const lib_parse::Name &name : names(text)) {
        if (name.kind != PARSER_NAME_UNKNOWN || std::find(seen.begin(), seen.end(), name.name) != seen.end()) continue;
        seen.push_back(name.name);
        if (lines.size() < kShownMessages)
            lines.push_back("error: " + quoted(name.name) + " is no column and no variable: no row is computed\n" +
                            show_place(text, name.offset, name.length));
    }
    return lines;
}

Evaluation Calculator::evaluate(const std::string &text) {
    Evaluation result;
    result.value = parser_.calc(text);
    MessageLines lines(text, &result, host_names());
    // The errors belong to the tree, and stay while it is re-used.
    Parser *parser = parser_.get();
    const int errors = parser_errors(parser, nullptr);
    bool interrupted = false;
    for (int i = 0; i < errors; ++i) {
        int code = 0;
        size_t offset = 0, length = 0;
        parser_error_at(parser, i, &code, &offset, &length);
        interrupted = interrupted || code == PARSER_ERR_INTERRUPTED;
        lines.error(parser, i, code, offset, length);
    }
    // After Ctrl-C, which may also come too late to stop the build, no check:
    // the line is dropped.
    if (!interrupted && !interrupt_pending()) {
        const auto note = [](void *ctx, int kind, size_t offset, size_t length, const char *message) {
            // The build's own errors were told above.
            if (kind >= PARSER_NOTE_UNMATCHED_BRACKET)
                static_cast<MessageLines *>(ctx)->note(kind, offset, length, message);
        };
        parser_check(parser, text.c_str(), note, &lines);
    }
    lines.finish();
    return result;
}

} // namespace lparse
