// lib_parse.hpp - header-only C++ wrapper over the C interface of lib_parse.h.
//
// lib_parse::Parser owns one handle and releases it when it goes out of scope.
// It is move-only; a moved-from Parser holds no handle and its calls do nothing
// (calc and eval return NaN, var_ref null), as the C functions do with a NULL
// handle.
#ifndef LIB_PARSE_HPP
#define LIB_PARSE_HPP

#include <cstddef>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "lib_parse.h"

namespace lib_parse {

// An error of the current tree: its code and the bytes of the text it concerns.
struct Error {
    int code;
    std::size_t offset, length;
};

// A note of Parser::check: an error code or a PARSER_NOTE_* kind, its place and message.
struct Note {
    int kind;
    std::size_t offset, length;
    std::string message;
};

class Parser {
public:
    Parser() : handle_(parser_new()) {}
    ~Parser() { parser_destroy(handle_); }

    Parser(Parser &&other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Parser &operator=(Parser &&other) noexcept {
        if (this != &other) {
            parser_destroy(handle_);
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    Parser(const Parser &) = delete;
    Parser &operator=(const Parser &) = delete;

    // Defines or updates a variable.
    void var(const char *name, float value) { parser_var(handle_, name, value); }
    void var(const std::string &name, float value) { var(name.c_str(), value); }

    // The address of a variable's value (defined as 0 when new), valid while
    // this Parser holds its handle; storing there is the same as var(). Null
    // for a moved-from Parser or a null name.
    float *var_ref(const char *name) { return parser_var_ref(handle_, name); }
    float *var_ref(const std::string &name) { return var_ref(name.c_str()); }

    // Defines a user function, such as func("g(a,b)", "a-b").
    void func(const char *proto, const char *body) { parser_func(handle_, proto, body); }
    void func(const std::string &proto, const std::string &body) { func(proto.c_str(), body.c_str()); }

    // The value of a text; the tree is re-used while the text stays the same.
    float calc(const char *text) { return parser_calc(handle_, text); }
    float calc(const std::string &text) { return calc(text.c_str()); }

    // The value of the current tree (the last text given to calc or expand)
    // with the variables' current values, without reading the text again.
    float eval() { return parser_eval(handle_); }

    // Rebuilds the tree for a text without evaluating it.
    void expand(const char *text) { parser_expand(handle_, text); }
    void expand(const std::string &text) { expand(text.c_str()); }

    // Sets limit WHICH (a PARSER_LIMIT_* value) and returns its previous
    // value; a negative VALUE only reads it.
    long long limit(int which, long long value = -1) { return parser_limit(handle_, which, value); }

    // The errors recorded while the current tree was built, in the order met.
    std::vector<Error> errors() const {
        std::vector<Error> out(static_cast<std::size_t>(parser_errors(handle_, nullptr)));
        for (std::size_t i = 0; i < out.size(); ++i)
            parser_error_at(handle_, static_cast<int>(i), &out[i].code, &out[i].offset, &out[i].length);
        return out;
    }

    // Every note on a text, in text order, leaving the handle as it was.
    std::vector<Note> check(const char *text) const {
        std::vector<Note> out;
        parser_check(
            handle_, text,
            [](void *ctx, int kind, std::size_t offset, std::size_t length, const char *message) {
                static_cast<std::vector<Note> *>(ctx)->push_back(Note{kind, offset, length, message});
            },
            &out);
        return out;
    }
    std::vector<Note> check(const std::string &text) const { return check(text.c_str()); }

    // Visits the current tree in pre-order; VISIT is called as
    // visit(depth, side, expr, op, state, value) with expr possibly null.
    template <typename Visit>
    void walk(Visit &&visit) const {
        // Visit is a reference type for a named callable; point at the callable itself.
        using Callable = std::remove_reference_t<Visit>;
        parser_walk(
            handle_,
            [](void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
                (*static_cast<Callable *>(ctx))(depth, side, expr, op, state, value);
            },
            const_cast<void *>(static_cast<const void *>(&visit)));
    }

    // The C handle, for calls this wrapper does not cover.
    ::Parser *get() const { return handle_; }

private:
    ::Parser *handle_;
};

} // namespace lib_parse

#endif // LIB_PARSE_HPP
