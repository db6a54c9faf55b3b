// calculator.cpp - definitions, evaluation and the error and warning lines the calculator prints.
#include "calculator.h"

#include <algorithm>

#include "handle.h"
#include "lib_parse/diagnostics.h"
#include "operand.h"

namespace lparse {

namespace {

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// A report of CODE can have left this leaf unsplit.
bool explains(int code, LeafKind kind) {
    if (kind == LeafKind::TRAILING_OPERATOR) return code == PARSER_ERR_TRAILING_OPERATOR;
    if (kind == LeafKind::UNRESOLVED_CALL)
        return code == PARSER_ERR_UNKNOWN_FUNCTION || code == PARSER_ERR_SUBSTITUTION_LIMIT;
    return false;
}

std::string error_line(int code, std::string_view text, bool with_text) {
    std::string line = "error " + std::to_string(code) + ": " + parser_error_text(code);
    if (with_text) line += ": " + quoted(text);
    return line;
}

// The first operation symbol found in TEXT, or nullptr.
const char *symbol_in(std::string_view text) {
    for (int op = 0; op < PARSER_OP_COUNT; ++op) {
        const char *symbol = parser_op_symbol(op);
        if (symbol != nullptr && text.find(symbol) != std::string_view::npos) return symbol;
    }
    return nullptr;
}

} // namespace

std::string unreachable_name_warning(const std::string &name) {
    if (!lp::is_name(name.c_str()))
        return "warning: " + quoted(name) + " reads as a number in expressions, so no expression can name it";
    if (name.find_first_of("()") != std::string_view::npos)
        return "warning: " + quoted(name) + " holds a bracket, so no expression can name it";
    if (const char *symbol = symbol_in(name))
        return "warning: " + quoted(name) + " holds '" + symbol + "', so expressions split it there";
    return "";
}

Calculator::Calculator() { exception_set_handler(on_exception, this); }

Calculator::~Calculator() { exception_set_handler(nullptr, nullptr); }

void Calculator::on_exception(void *ctx, const char *, int, int code) {
    static_cast<Calculator *>(ctx)->codes_.push_back(code);
}

std::string Calculator::set_var(const std::string &name, float value) {
    parser_.var(name, value);
    // The library updates a variable in place and puts a new one in front of
    // the others; the mirror keeps definition order and is searched backwards.
    const auto found = std::find_if(vars_.begin(), vars_.end(), [&](const auto &v) { return v.first == name; });
    if (found != vars_.end()) {
        found->second = value;
        return "";
    }
    vars_.emplace_back(name, value);
    return unreachable_name_warning(name);
}

std::string Calculator::define_function(const std::string &proto, const std::string &body) {
    const size_t open = proto.find('(');
    if (open == 0 || open == std::string::npos || proto.back() != ')')
        return "error: a function prototype looks like NAME(PARAMS), such as 'f(x)' or 'g(a,b)', not " +
               quoted(proto);
    parser_.func(proto, body);
    funcs_.emplace_back(proto, body);
    const std::string_view name(proto.data(), open);
    if (const char *symbol = symbol_in(name))
        return "warning: function name " + quoted(name) + " holds '" + symbol + "', so its calls are split there";
    return "";
}

const char *Calculator::lookup(const std::string &operand) const {
    return lp::variable_read_by(parser_.get(), operand.c_str());
}

std::vector<std::string> Calculator::match_errors(const ExpressionTree &tree) const {
    // Reports come in the order the tree was built, which is pre-order, so
    // the unsplit leaves meet their reports in turn.
    std::vector<std::string> lines;
    size_t next = 0;
    for (const ExprNode &node : tree.nodes) {
        if (node.op != PARSER_OP_OPERAND || next == codes_.size()) continue;
        if (explains(codes_[next], leaf_kind(node.text))) {
            lines.push_back(error_line(codes_[next], node.text, true));
            ++next;
        }
    }
    for (; next < codes_.size(); ++next) lines.push_back(error_line(codes_[next], "", false));
    return lines;
}

Evaluation Calculator::evaluate(const std::string &text) {
    codes_.clear();
    Evaluation result;
    result.value = parser_.calc(text);
    const ExpressionTree tree = ExpressionTree::of(parser_.get());
    if (!codes_.empty())
        tree_errors_ = match_errors(tree);
    else if (parser_.errors().empty())
        tree_errors_.clear();
    // else the tree was re-used and its errors stand as they were printed
    result.errors = tree_errors_;

    std::vector<std::string_view> seen;
    for (const ExprNode &node : tree.nodes) {
        if (node.op != PARSER_OP_OPERAND) continue;
        const LeafKind kind = leaf_kind(node.text);
        if (kind == LeafKind::UNBALANCED) {
            result.errors.push_back("error: unbalanced brackets: " + quoted(node.text) + " is read as one operand");
            continue;
        }
        if (kind != LeafKind::NAME) continue;
        if (std::find(seen.begin(), seen.end(), node.text) != seen.end()) continue;
        seen.push_back(node.text);
        const char *variable = lookup(node.text);
        if (variable == nullptr)
            result.warnings.push_back("warning: no variable matches " + quoted(node.text) + "; it counts as 0");
        else if (node.text != variable)
            result.warnings.push_back("warning: " + quoted(node.text) + " reads variable " + quoted(variable) +
                                      ", the newest whose name begins with it");
    }
    return result;
}

} // namespace lparse
