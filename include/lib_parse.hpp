// lib_parse.hpp - header-only C++ wrapper over the C interface of lib_parse.h.
//
// lib_parse::Parser owns one handle and releases it when it goes out of scope.
// It is move-only; a moved-from Parser holds no handle and its calls do nothing
// (calc and eval return NaN, var_ref null), as the C functions do with a NULL
// handle.
#ifndef LIB_PARSE_HPP
#define LIB_PARSE_HPP

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <algorithm>
#include <type_traits>
#include <utility>
#include <vector>

#include "lib_parse.h"

namespace lib_parse {

// An error of the current tree: its code, the bytes of the text it
// concerns, and the line for an end user (parser_error_message).
struct Error {
    int code;
    std::size_t offset, length;
    std::string message;
};

// What Parser::bulk gives for a text over columns: parser_calc_bulk's status
// (0: the call was made), a value per row, and the text's errors, which the
// status does not tell (empty for a sound text).
struct BulkResult {
    int status;
    std::vector<float> values;
    std::vector<Error> errors;
};

// A note of Parser::check: an error code or a PARSER_NOTE_* kind, its place,
// the text at that place and the message.
struct Note {
    int kind;
    std::size_t offset, length;
    std::string text;
    std::string message;
};

// A name of Parser::names: a PARSER_NAME_* kind, its place, and the variable
// or function it names.
struct Name {
    int kind;
    std::size_t offset, length;
    std::string name;
};

// A function of Parser::functions, as ParserFunction describes it.
struct Function {
    int kind; // PARSER_FUNCTION_USER or PARSER_FUNCTION_HOST
    std::string name, proto, body;
    bool replaced;
    int n_args;
    unsigned flags;
    int syntax; // a user function's grammar (PARSER_SYNTAX_*); -1 for a host function
};

class Parser {
public:
    Parser() : handle_(parser_new()) {}
    ~Parser() { parser_destroy(handle_); }

    Parser(Parser &&other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), natives_(std::move(other.natives_)),
          on_error_(std::move(other.on_error_)), on_unknown_(std::move(other.on_unknown_)) {}
    Parser &operator=(Parser &&other) noexcept {
        if (this != &other) {
            parser_destroy(handle_);
            handle_ = std::exchange(other.handle_, nullptr);
            natives_ = std::move(other.natives_);
            on_error_ = std::move(other.on_error_);
            on_unknown_ = std::move(other.on_unknown_);
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

    // Removes a variable (parser_unset): 0, or 1 when there was none.
    int unset(const std::string &name) { return parser_unset(handle_, name.c_str()); }
    // Removes every definition of a user function (parser_func_unset).
    int unset_func(const std::string &name) { return parser_func_unset(handle_, name.c_str()); }

    // A variable's value, or nothing when no variable has exactly that name;
    // defines nothing (parser_var_get).
    std::optional<float> var_get(const std::string &name) const {
        float value = 0.0f;
        if (parser_var_get(handle_, name.c_str(), &value) != 0) return std::nullopt;
        return value;
    }

    // The variables, name and value, in the order they were defined (parser_vars).
    std::vector<std::pair<std::string, float>> vars() const {
        std::vector<std::pair<std::string, float>> out;
        parser_vars(
            handle_,
            [](void *ctx, const char *name, float value) {
                static_cast<std::vector<std::pair<std::string, float>> *>(ctx)->emplace_back(name, value);
            },
            &out);
        return out;
    }

    // The library's version, "MAJOR.MINOR.PATCH" (parser_version).
    static std::string version() { return parser_version(); }

    // Defines a user function, such as func("g(a,b)", "a-b"), in the grammar
    // the Parser reads; returns parser_func's result.
    int func(const char *proto, const char *body) { return parser_func(handle_, proto, body); }
    int func(const std::string &proto, const std::string &body) { return func(proto.c_str(), body.c_str()); }

    // Defines host function NAME as CALLABLE, returning something
    // convertible to float: either a callable of (const float *args, int n)
    // for any count of arguments, or one taking a fixed count of 0 to 8
    // floats, the count a call must have. A callable that fits neither, or
    // more than one count (a generic variadic lambda, default arguments), is
    // a compile error. The Parser keeps its own copy of the callable until
    // the name is defined again or removed, or the Parser is destroyed. A
    // call that throws is caught before it reaches the library and its value
    // is NaN. FLAGS: 0 or PARSER_NATIVE_PURE, with PARSER_NATIVE_THREAD_SAFE or not. Returns parser_native_func's result.
    template <typename F>
    int native_func(const std::string &name, F &&callable, unsigned flags = 0) {
        using C = std::decay_t<F>;
        constexpr bool variadic = std::is_invocable_r_v<float, C &, const float *, int>;
        constexpr int n = arity<C>();
        static_assert(variadic != (n >= 0),
                      "a host function takes (const float *, int) or exactly one count of 0 to 8 floats");
        // After a failed assertion nothing more is instantiated, so the
        // compiler stops at the message instead of expanding call<C, n>.
        if constexpr (variadic != (n >= 0)) {
            auto held = std::make_unique<Held<C>>(std::forward<F>(callable));
            int result;
            if constexpr (variadic)
                result = parser_native_func(handle_, name.c_str(), -1, &call_variadic<C>, &held->callable, flags);
            else
                result = parser_native_func(handle_, name.c_str(), n, &call<C, n>, &held->callable, flags);
            if (result == 0) keep(name, std::move(held));
            return result;
        } else {
            return -1;
        }
    }

    // Defines the standard set of host functions and the conditional if(c, a, b).
    int math() { return parser_math(handle_); }

    // Removes host function NAME, and the callable the Parser held for it.
    int remove_native_func(const std::string &name) {
        const int result = parser_native_func(handle_, name.c_str(), 0, nullptr, nullptr, 0);
        if (result == 0) keep(name, nullptr);
        return result;
    }

    // The value of a text; the tree is re-used while the text stays the same.
    float calc(const char *text) { return parser_calc(handle_, text); }
    float calc(const std::string &text) { return calc(text.c_str()); }

    // The value of the current tree (the last text given to calc or expand)
    // with the variables' current values, without reading the text again.
    float eval() { return parser_eval(handle_); }

    // Rebuilds the tree for a text without evaluating it.
    void expand(const char *text) { parser_expand(handle_, text); }
    void expand(const std::string &text) { expand(text.c_str()); }

    // TEXT for many rows: OUT[i] is the value with NAMES[j] set to
    // COLUMNS[j][i]. The vector form takes its row count from the columns,
    // which must all be as long, and sizes OUT. Returns parser_calc_bulk's
    // result (non-zero for columns of different lengths).
    int bulk(const char *text, const char *const *names, const float *const *columns, std::size_t n_vars,
             std::size_t n_rows, float *out) {
        return parser_calc_bulk(handle_, text, names, columns, n_vars, n_rows, out);
    }
    int bulk(const std::string &text, const std::vector<std::string> &names,
             const std::vector<std::vector<float>> &columns, std::vector<float> &out) {
        if (names.size() != columns.size()) return 1;
        const std::size_t rows = columns.empty() ? 0 : columns[0].size();
        std::vector<const char *> name_ptrs;
        std::vector<const float *> column_ptrs;
        for (std::size_t j = 0; j < names.size(); ++j) {
            if (columns[j].size() != rows) return 1;
            name_ptrs.push_back(names[j].c_str());
            column_ptrs.push_back(columns[j].data());
        }
        out.resize(rows);
        return bulk(text.c_str(), name_ptrs.data(), column_ptrs.data(), names.size(), rows, out.data());
    }
    // The same, the values and the text's errors returned together: the one
    // bulk call that cannot let a bad text pass for a good one.
    BulkResult bulk(const std::string &text, const std::vector<std::string> &names,
                    const std::vector<std::vector<float>> &columns) {
        BulkResult result{0, {}, {}};
        result.status = bulk(text, names, columns, result.values);
        if (result.status == 0) result.errors = errors();
        return result;
    }

    // Stops the call running on this Parser at its next check point; may be
    // called from another thread or a signal handler (parser_interrupt).
    void interrupt() const { parser_interrupt(handle_); }

    // CALLABLE(code, offset, length) hears each error entry of a tree just
    // built (parser_on_error); the Parser keeps it. An empty function removes it.
    void on_error(std::function<void(int, std::size_t, std::size_t)> callable) {
        if (!callable) {
            parser_on_error(handle_, nullptr, nullptr);
            on_error_.reset();
            return;
        }
        auto held = std::make_unique<std::function<void(int, std::size_t, std::size_t)>>(std::move(callable));
        parser_on_error(
            handle_,
            [](void *ctx, int code, std::size_t offset, std::size_t length) {
                (*static_cast<std::function<void(int, std::size_t, std::size_t)> *>(ctx))(code, offset, length);
            },
            held.get());
        on_error_ = std::move(held);
    }

    // Sets the supplier of names no variable has (parser_on_unknown): any
    // callable taking the name and returning a std::optional<float>, kept by
    // the Parser; a value defines the variable. An empty std::function
    // removes it. A callable that throws supplies nothing.
    void on_unknown(std::function<std::optional<float>(const std::string &)> callable) {
        if (!callable) {
            parser_on_unknown(handle_, nullptr, nullptr);
            on_unknown_.reset();
            return;
        }
        auto held = std::make_unique<std::function<std::optional<float>(const std::string &)>>(std::move(callable));
        parser_on_unknown(
            handle_,
            [](void *ctx, const char *name, float *value) -> int {
                try {
                    const std::optional<float> supplied =
                        (*static_cast<std::function<std::optional<float>(const std::string &)> *>(ctx))(name);
                    if (!supplied) return 0;
                    *value = *supplied;
                    return 1;
                } catch (...) {
                    return 0;
                }
            },
            held.get());
        on_unknown_ = std::move(held);
    }

    // Sets limit WHICH (a PARSER_LIMIT_* value) and returns its previous
    // value; a negative VALUE only reads it.
    long long limit(int which, long long value = -1) { return parser_limit(handle_, which, value); }

    // Sets the grammar texts are read in (PARSER_SYNTAX_*) and returns the
    // previous one; with no argument only reads it (parser_syntax).
    int syntax(int value = -1) { return parser_syntax(handle_, value); }

    // The errors recorded while the current tree was built, in the order met.
    std::vector<Error> errors() const {
        std::vector<Error> out(static_cast<std::size_t>(parser_errors(handle_, nullptr)));
        for (std::size_t i = 0; i < out.size(); ++i) {
            const int index = static_cast<int>(i);
            parser_error_at(handle_, index, &out[i].code, &out[i].offset, &out[i].length);
            out[i].message.resize(static_cast<std::size_t>(std::max(0, parser_error_message(handle_, index, nullptr, 0))));
            parser_error_message(handle_, index, &out[i].message[0], out[i].message.size() + 1);
        }
        return out;
    }

    // Every note on a text, in text order, with the text each concerns,
    // leaving the handle as it was.
    std::vector<Note> check(const std::string &text) const {
        struct Context {
            const std::string &text;
            std::vector<Note> out;
        } context{text, {}};
        parser_check(
            handle_, text.c_str(),
            [](void *ctx, int kind, std::size_t offset, std::size_t length, const char *message) {
                auto *c = static_cast<Context *>(ctx);
                c->out.push_back(Note{kind, offset, length, c->text.substr(std::min(offset, c->text.size()), length), message});
            },
            &context);
        return std::move(context.out);
    }

    // The names and calls a text reads, in text order (parser_names).
    std::vector<Name> names(const std::string &text) const {
        std::vector<Name> out;
        parser_names(
            handle_, text.c_str(),
            [](void *ctx, int kind, std::size_t offset, std::size_t length, const char *name) {
                static_cast<std::vector<Name> *>(ctx)->push_back(Name{kind, offset, length, name});
            },
            &out);
        return out;
    }

    // The user functions, newest first, then the host functions (parser_functions).
    std::vector<Function> functions() const {
        std::vector<Function> out;
        parser_functions(
            handle_,
            [](void *ctx, const ParserFunction *f) {
                static_cast<std::vector<Function> *>(ctx)->push_back(
                    Function{f->kind, f->name, f->proto != nullptr ? f->proto : "", f->body != nullptr ? f->body : "",
                             f->replaced != 0, f->n_args, f->flags, f->syntax});
            },
            &out);
        return out;
    }

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
    struct HeldBase {
        virtual ~HeldBase() = default;
    };
    template <typename C>
    struct Held : HeldBase {
        template <typename F>
        explicit Held(F &&f) : callable(std::forward<F>(f)) {}
        C callable;
    };

    template <typename C, std::size_t... I>
    static float invoke(C &c, const float *args, std::index_sequence<I...>) {
        return static_cast<float>(c(args[I]...));
    }
    template <typename C, std::size_t... I>
    static constexpr bool takes(std::index_sequence<I...>) {
        return std::is_invocable_r_v<float, C &, decltype(static_cast<float>(I))...>;
    }
    // The one count of floats, 0 to 8, that C can be called with; -1 for
    // none, or for more than one.
    template <typename C, int N = 0, int Found = -1>
    static constexpr int arity() {
        if constexpr (N > 8)
            return Found;
        else if constexpr (takes<C>(std::make_index_sequence<N>{}))
            return Found >= 0 ? -1 : arity<C, N + 1, N>();
        else
            return arity<C, N + 1, Found>();
    }
    // The C callback: no exception may unwind through the library.
    template <typename C, int N>
    static float call(void *ctx, const float *args, int) noexcept {
        try {
            return invoke(*static_cast<C *>(ctx), args, std::make_index_sequence<static_cast<std::size_t>(N)>{});
        } catch (...) {
            return std::numeric_limits<float>::quiet_NaN();
        }
    }
    template <typename C>
    static float call_variadic(void *ctx, const float *args, int n) noexcept {
        try {
            return static_cast<float>((*static_cast<C *>(ctx))(args, n));
        } catch (...) {
            return std::numeric_limits<float>::quiet_NaN();
        }
    }
    // Replaces the callable kept for NAME (null: drops it). The tree that may
    // still hold the old one is rebuilt before it is evaluated again.
    void keep(const std::string &name, std::unique_ptr<HeldBase> held) {
        for (auto &entry : natives_)
            if (entry.first == name) {
                entry.second = std::move(held);
                return;
            }
        if (held != nullptr) natives_.emplace_back(name, std::move(held));
    }

    ::Parser *handle_;
    // The callables of host functions and the error callback; destroyed
    // after the handle, in ~Parser's members.
    std::vector<std::pair<std::string, std::unique_ptr<HeldBase>>> natives_;
    std::unique_ptr<std::function<void(int, std::size_t, std::size_t)>> on_error_;
    std::unique_ptr<std::function<std::optional<float>(const std::string &)>> on_unknown_;
};

} // namespace lib_parse

#endif // LIB_PARSE_HPP
