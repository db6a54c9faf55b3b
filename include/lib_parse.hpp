// lib_parse.hpp - header-only C++ wrapper over the C interface of lib_parse.h.
//
// lib_parse::Parser owns one handle and releases it when it goes out of scope.
// It is move-only; a moved-from Parser holds no handle and its calls do nothing
// (calc and eval return NaN, var_ref null), as the C functions do with a NULL
// handle.
#ifndef LIB_PARSE_HPP
#define LIB_PARSE_HPP

#include <cstddef>
#include <limits>
#include <memory>
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

    Parser(Parser &&other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), natives_(std::move(other.natives_)) {}
    Parser &operator=(Parser &&other) noexcept {
        if (this != &other) {
            parser_destroy(handle_);
            handle_ = std::exchange(other.handle_, nullptr);
            natives_ = std::move(other.natives_);
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

    // Defines host function NAME as CALLABLE, any callable taking 0 to 8
    // floats and returning something convertible to float; the number of
    // parameters is the count a call must have (the smallest count it can be
    // called with). The Parser keeps its own copy of the callable until the
    // name is defined again or removed, or the Parser is destroyed. A call that
    // throws is caught before it reaches the library and its value is NaN.
    // FLAGS: 0 or PARSER_NATIVE_PURE. Returns parser_native_func's result.
    template <typename F>
    int native_func(const std::string &name, F &&callable, unsigned flags = 0) {
        using C = std::decay_t<F>;
        constexpr int n = arity<C>();
        static_assert(n >= 0, "a host function takes 0 to 8 floats and returns a float");
        auto held = std::make_unique<Held<C>>(std::forward<F>(callable));
        const int result = parser_native_func(handle_, name.c_str(), n, &call<C, n>, &held->callable, flags);
        if (result == 0) keep(name, std::move(held));
        return result;
    }

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
    // The fewest floats, 0 to 8, that C can be called with; -1 for none.
    template <typename C, int N = 0>
    static constexpr int arity() {
        if constexpr (N > 8)
            return -1;
        else if constexpr (takes<C>(std::make_index_sequence<N>{}))
            return N;
        else
            return arity<C, N + 1>();
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
    // The callables of host functions; destroyed after the handle, in ~Parser's members.
    std::vector<std::pair<std::string, std::unique_ptr<HeldBase>>> natives_;
};

} // namespace lib_parse

#endif // LIB_PARSE_HPP
