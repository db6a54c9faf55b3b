// calculator.h - one parser handle with the calculator's bookkeeping: definitions, error and warning lines.
#ifndef LPARSE_CALCULATOR_H
#define LPARSE_CALCULATOR_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "expression_tree.h"
#include "lib_parse.hpp"

namespace lparse {

// What one evaluation said besides its value. Lines carry no "lparse: " prefix.
struct Evaluation {
    float value = 0.0f;
    std::vector<std::string> errors;   // "error 2: MEANING: 'x+'"
    std::vector<std::string> warnings; // "warning: no variable matches 'tly'; it counts as 0"
};

class Calculator {
public:
    // Installs the process-wide error handler; only one Calculator may live at a time.
    Calculator();
    ~Calculator();
    Calculator(const Calculator &) = delete;
    Calculator &operator=(const Calculator &) = delete;

    // Defines or updates a variable. Returns a warning line when no expression
    // can name it (it reads as a number, or holds an operation symbol).
    std::string set_var(const std::string &name, float value);

    // Defines a user function from "NAME(PARAMS)" and a body. Returns an error
    // line for a malformed prototype (nothing is defined then), else a
    // warning line or an empty text.
    std::string define_function(const std::string &proto, const std::string &body);

    // The value of TEXT with the error lines of its tree (also when the tree
    // is re-used) and warnings about names that match no variable.
    Evaluation evaluate(const std::string &text);

    // Builds the tree of TEXT and evaluates it once, as evaluate does; loops
    // that follow may then call parser_calc on handle() with the same text.
    Evaluation prepare(const std::string &text) { return evaluate(text); }

    // The name of the variable an operand text reads, or nullptr.
    const char *lookup(const std::string &operand) const;

    // Variables and functions in the order they were defined.
    const std::vector<std::pair<std::string, float>> &variables() const { return vars_; }
    const std::vector<std::pair<std::string, std::string>> &functions() const { return funcs_; }

    Parser *handle() const { return parser_.get(); }

    // A copy of the tree of the text last evaluated.
    ExpressionTree tree() const { return ExpressionTree::of(parser_.get()); }

private:
    static void on_exception(void *ctx, const char *file, int line, int code);
    std::vector<std::string> match_errors(const ExpressionTree &tree) const;

    lib_parse::Parser parser_;
    std::vector<std::pair<std::string, float>> vars_;
    std::vector<std::pair<std::string, std::string>> funcs_;
    std::vector<int> codes_;              // reported during the running evaluation
    std::vector<std::string> tree_errors_; // error lines of the current tree
};

// The warning for a variable name that expressions cannot reach, or "".
std::string unreachable_name_warning(const std::string &name);

} // namespace lparse

#endif // LPARSE_CALCULATOR_H
