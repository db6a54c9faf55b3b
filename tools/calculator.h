// calculator.h - one parser handle with the calculator's bookkeeping: definitions, error and warning lines.
#ifndef LPARSE_CALCULATOR_H
#define LPARSE_CALCULATOR_H

#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "expression_tree.h"
#include "lib_parse.hpp"

namespace lparse {

// The longest expression lparse gives the library, and the longest function
// definition. Texts given on the command line or typed are the user's own, so
// they may be longer than the 256 KiB a host of the library accepts by
// default; but each is built and then checked, and the slowest shapes found
// at these lengths take up to a second and 410 MiB (measured in --help). A
// definition is held to the 128 KiB by which substitution may lengthen a
// tree: calls of a longer body are nearly always refused, each at a cost that
// grows with the body.
constexpr long long kTextLimitBytes = 1 << 20;
constexpr size_t kDefinitionLimitBytes = 128 << 10;

// What one evaluation said besides its value. Messages carry no "lparse: "
// prefix; each is a line, then the text with a caret line under the place.
// Each list holds the first few messages and then one line counting the rest.
struct Evaluation {
    float value = 0.0f;
    std::vector<std::string> errors;   // "error 2: MESSAGE\n  x+\n  ^~"
    std::vector<std::string> warnings; // "warning: no variable matches 'tly'; it counts as 0\n  ..."
};

// The library says what is wrong and where (parser_error_at, parser_check);
// the calculator shows it. Any number of calculators may live at once.
class Calculator {
public:
    // Ctrl-C, once caught, stops the work of the calculator made last.
    Calculator() { take_up_handle(); }
    ~Calculator();
    Calculator(const Calculator &) = delete;
    Calculator &operator=(const Calculator &) = delete;

    // Defines or updates a variable. Returns a warning line when no expression
    // can name it (it reads as a number, or holds an operation symbol).
    std::string set_var(const std::string &name, float value);

    // Defines a user function from "NAME(PARAMS)" and a body. Returns an error
    // line for a malformed prototype (blanks in NAME too), an empty body or a
    // definition over kDefinitionLimitBytes (nothing is defined then), else a
    // warning line (its calls are split, or a host function of its name
    // takes them) or an empty text.
    std::string define_function(const std::string &proto, const std::string &body);

    // Removes variable NAME, or with FUNCTION every definition of user
    // function NAME; false when there is none.
    bool forget(const std::string &name, bool function);

    // The value of TEXT with the errors of its tree (also when the tree is
    // re-used) and warnings about the traps the library finds in it. When
    // Ctrl-C stops it, the value is NaN with the one error 9.
    Evaluation evaluate(const std::string &text);

    // Builds the tree of TEXT and evaluates it once, as evaluate does; loops
    // that follow may then call parser_calc on handle() with the same text.
    Evaluation prepare(const std::string &text) { return evaluate(text); }

    // Defines the library's standard host functions (parser_math). Off by
    // default, so that texts mean only what the language itself says.
    void enable_math();

    // Reads later texts and definitions in the standard grammar, or again
    // in the defined one (parser_syntax).
    void set_standard(bool standard);
    bool standard() const { return standard_; }

    // The variable an operand text reads, by the prefix rule, or nothing: a
    // number, or a name no variable begins with.
    std::optional<std::string> lookup(const std::string &operand) const;

    // The names and calls TEXT reads, each with the variable or function it
    // finds (parser_names).
    std::vector<lib_parse::Name> names(const std::string &text) const { return parser_.names(text); }
    // An error line for each distinct name TEXT reads that no variable has:
    // where the values come from columns or a sweep, such a name would make
    // every row wrong, so nothing is computed ("" each when none).
    std::vector<std::string> names_without_values(const std::string &text) const;

    // Variables in the order they were defined.
    const std::vector<std::pair<std::string, float>> &variables() const { return vars_; }

    // The user functions, newest first, every definition (a replaced one
    // marked), then the host functions (parser_functions).
    std::vector<lib_parse::Function> functions() const { return parser_.functions(); }

    // The names of the host functions, in the order they were defined.
    std::vector<std::string> host_names() const;

    Parser *handle() const { return parser_.get(); }

    // A copy of the tree of the text last evaluated.
    ExpressionTree tree() const { return ExpressionTree::of(parser_.get()); }

private:
    // Sets lparse's limits on a new handle and lets Ctrl-C stop it.
    void take_up_handle();

    lib_parse::Parser parser_;
    bool math_ = false;
    bool standard_ = false;
    std::vector<std::pair<std::string, float>> vars_;
    std::unordered_map<std::string, size_t> var_at_; // each name's index in vars_
};

// The warning for a variable name that expressions of the grammar (STANDARD
// or the defined one) cannot reach, or "".
std::string unreachable_name_warning(const std::string &name, bool standard);

} // namespace lparse

#endif // LPARSE_CALCULATOR_H
