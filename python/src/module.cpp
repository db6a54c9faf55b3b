// module.cpp - lib_parse._core: a parser handle for Python, on the public C API alone.
//
// The Python package (lib_parse/*.py) builds the friendly surface on these
// primitives: errors as exceptions, columns from any array-like, named
// tuples. What lives here is what must: the handle's lifetime, host
// functions that call Python, the rows computed without the GIL, and Ctrl-C.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lib_parse.h"

namespace py = pybind11;

namespace {

// The thread Python delivers signals to: only there may a call take SIGINT.
unsigned long main_thread_ident = 0;

// The handle whose call Ctrl-C stops. Set only on the main thread, around a
// call, so one at a time; parser_interrupt may be called from the handler.
std::atomic<Parser *> sigint_target{nullptr};
std::atomic<bool> sigint_seen{false};

extern "C" void on_sigint(int) {
    sigint_seen.store(true);
    if (Parser *target = sigint_target.load()) parser_interrupt(target);
}

// Ctrl-C during a long call: on the main thread, a C handler that stops the
// call replaces Python's for the call's length (Python's own handler runs
// only between bytecodes, never inside the call). A SIGINT that came is
// raised as KeyboardInterrupt once the call has returned.
class SigintScope {
public:
    explicit SigintScope(Parser *handle) {
        if (PyThread_get_thread_ident() != main_thread_ident) return;
        struct sigaction ours {};
        ours.sa_handler = on_sigint;
        sigemptyset(&ours.sa_mask);
        sigint_seen.store(false);
        sigint_target.store(handle);
        if (sigaction(SIGINT, &ours, &previous_) != 0) {
            sigint_target.store(nullptr);
            return;
        }
        installed_ = true;
        if (previous_.sa_handler == SIG_IGN) end(); // the process ignores Ctrl-C: so does the call
    }
    ~SigintScope() { end(); }
    SigintScope(const SigintScope &) = delete;
    SigintScope &operator=(const SigintScope &) = delete;

    // Puts Python's handler back; true when Ctrl-C came during the call.
    bool end() {
        if (!installed_) return false;
        sigaction(SIGINT, &previous_, nullptr);
        sigint_target.store(nullptr);
        installed_ = false;
        return sigint_seen.load();
    }

private:
    struct sigaction previous_ {};
    bool installed_ = false;
};

// A text as the library reads it: UTF-8 without an embedded NUL.
const char *text_of(const py::str &text, Py_ssize_t *size = nullptr) {
    Py_ssize_t n = 0;
    const char *bytes = PyUnicode_AsUTF8AndSize(text.ptr(), &n);
    if (bytes == nullptr) throw py::error_already_set();
    if (std::strlen(bytes) != static_cast<size_t>(n)) throw py::value_error("the text holds a NUL character");
    if (size != nullptr) *size = n;
    return bytes;
}

class Handle;

// The package's FormulaError from a text and its errors (lib_parse/_errors.py).
py::object error_factory;
// The default of ERRORS, compared by identity first.
py::object raise_word;

// A Python callable as a host function. It runs on the calling thread with
// the GIL; the first exception it raises stops the call and is raised again
// when the call returns, and from then on the function gives NaN.
struct HostCallable {
    py::object fn;
    int n_args;
    unsigned flags;
    Handle *owner;
};

class Handle {
public:
    Handle(int syntax, bool math) : handle_(parser_new()) {
        if (handle_ == nullptr) throw std::bad_alloc();
        parser_syntax(handle_, syntax);
        if (math) parser_math(handle_);
        math_ = math;
    }
    ~Handle() { release(); }

    void close() {
        if (in_use_) throw py::value_error("the parser is in use: it cannot be closed during a call");
        release();
    }
    bool closed() const { return handle_ == nullptr; }
    bool math() const { return math_; }

    int syntax(int value) { return static_cast<int>(parser_syntax(open(), value)); }
    long long limit(int which, long long value) {
        if (which < 0 || which >= PARSER_LIMIT_COUNT) throw py::value_error("no such limit");
        Use use(this, false);
        return parser_limit(handle_, which, value);
    }

    void set_var(const py::str &name, float value) {
        Use use(this, false);
        if (parser_var(handle_, text_of(name), value) != 0) throw py::value_error("the variable cannot be set");
    }
    py::object get_var(const py::str &name) {
        float value = 0.0f;
        if (parser_var_get(open(), text_of(name), &value) != 0) return py::none();
        return py::float_(value);
    }
    bool unset(const py::str &name) {
        Use use(this, false);
        return parser_unset(handle_, text_of(name)) == 0;
    }
    std::vector<std::pair<std::string, float>> vars() {
        Use use(this, false);
        std::vector<std::pair<std::string, float>> out;
        parser_vars(
            handle_,
            [](void *ctx, const char *name, float value) {
                static_cast<std::vector<std::pair<std::string, float>> *>(ctx)->emplace_back(name, value);
            },
            &out);
        return out;
    }

    int func(const py::str &proto, const py::str &body) {
        Use use(this, false);
        return parser_func(handle_, text_of(proto), text_of(body));
    }
    bool func_unset(const py::str &name) {
        Use use(this, false);
        return parser_func_unset(handle_, text_of(name)) == 0;
    }

    // FN None removes the host function NAME.
    int native(const py::str &name, py::object fn, int n_args, unsigned flags) {
        Use use(this, false);
        const std::string key = text_of(name);
        if (fn.is_none()) {
            const int result = parser_native_func(handle_, key.c_str(), 0, nullptr, nullptr, 0);
            if (result == 0) natives_.erase(key);
            return result;
        }
        auto held = std::make_unique<HostCallable>(HostCallable{std::move(fn), n_args, flags, this});
        const int result = parser_native_func(handle_, key.c_str(), n_args, &call_host, held.get(), flags);
        if (result == 0) natives_[key] = std::move(held); // the replaced one is no longer called
        return result;
    }
    // The Python host functions: name, callable, argument count, flags.
    std::vector<std::tuple<std::string, py::object, int, unsigned>> natives() const {
        std::vector<std::tuple<std::string, py::object, int, unsigned>> out;
        for (const auto &[name, held] : natives_) out.emplace_back(name, held->fn, held->n_args, held->flags);
        return out;
    }

    // parser_calc. With ERRORS "raise" a text with errors raises the
    // package's FormulaError; with "nan" its value is returned regardless.
    float calc(const py::str &text, const py::object &errors) {
        const bool raise = raises(errors);
        Py_ssize_t size = 0;
        // The text last built was checked for a NUL then: not again on each evaluation.
        const char *bytes = last_text_.is(text) ? PyUnicode_AsUTF8AndSize(text.ptr(), &size) : text_of(text, &size);
        float value;
        {
            Use use(this, true);
            // A text read for the first time may take a while to build; the
            // same text again is only evaluated, which no signal stops.
            if (size > 4096 || !last_text_.is(text)) {
                SigintScope sigint(handle_);
                {
                    py::gil_scoped_release unlocked; // Parser.interrupt may come from another thread
                    value = parser_calc(handle_, bytes);
                }
                last_text_ = text;
                finish(sigint);
            } else {
                value = parser_calc(handle_, bytes);
                finish();
            }
        }
        if (raise && parser_errors(handle_, nullptr) > 0) raise_formula_error(text);
        return value;
    }
    float eval(const py::object &errors) {
        const bool raise = raises(errors);
        float value;
        {
            Use use(this, true);
            value = parser_eval(handle_);
            finish();
        }
        if (raise && parser_errors(handle_, nullptr) > 0) raise_formula_error(last_text_);
        return value;
    }
    // Raises FormulaError for TEXT when the current tree has errors.
    void raise_errors(const py::object &text) {
        if (parser_errors(open(), nullptr) > 0) raise_formula_error(text);
    }
    void expand(const py::str &text) {
        const char *bytes = text_of(text);
        Use use(this, true);
        SigintScope sigint(handle_);
        {
            py::gil_scoped_release unlocked;
            parser_expand(handle_, bytes);
        }
        last_text_ = py::object();
        finish(sigint);
    }

    // Rows of TEXT over float32 COLUMNS of N rows each, named NAMES, into
    // OUT; parser_calc_bulk's status, non-zero when Parser.interrupt stopped it.
    int bulk(const py::str &text, const std::vector<std::string> &names,
              const std::vector<py::array_t<float, 0>> &columns, py::array_t<float, 0> out) {
        const char *bytes = text_of(text);
        if (names.size() != columns.size()) throw py::value_error("a name for each column");
        const size_t rows = static_cast<size_t>(out.size());
        std::vector<const char *> name_ptrs;
        std::vector<const float *> column_ptrs;
        for (size_t j = 0; j < columns.size(); ++j) {
            const py::array_t<float, 0> &column = columns[j];
            if (column.ndim() != 1 || column.strides(0) != static_cast<py::ssize_t>(sizeof(float)))
                throw py::value_error("a column is one contiguous float32 array");
            if (static_cast<size_t>(column.size()) != rows) throw py::value_error("the columns differ in length");
            name_ptrs.push_back(names[j].c_str());
            column_ptrs.push_back(column.data());
        }
        if (out.ndim() != 1 || (rows > 0 && out.strides(0) != static_cast<py::ssize_t>(sizeof(float))) ||
            !out.writeable())
            throw py::value_error("out is one contiguous, writeable float32 array");
        float *target = out.mutable_data();
        Use use(this, true);
        SigintScope sigint(handle_);
        int status;
        {
            // Python host functions take the GIL back for each call.
            py::gil_scoped_release unlocked;
            status = parser_calc_bulk(handle_, bytes, name_ptrs.data(), column_ptrs.data(), name_ptrs.size(), rows,
                                      target);
        }
        last_text_ = text;
        finish(sigint);
        return status;
    }

    void interrupt() {
        if (handle_ != nullptr) parser_interrupt(handle_);
    }

    // The current tree's errors: code, byte offset, byte length, message.
    std::vector<std::tuple<int, size_t, size_t, std::string>> errors() {
        std::vector<std::tuple<int, size_t, size_t, std::string>> out;
        const int n = parser_errors(open(), nullptr);
        for (int i = 0; i < n; ++i) {
            int code = 0;
            size_t offset = 0, length = 0;
            parser_error_at(handle_, i, &code, &offset, &length);
            const int size = parser_error_message(handle_, i, nullptr, 0);
            std::string message(size > 0 ? static_cast<size_t>(size) : 0, '\0');
            if (size > 0) parser_error_message(handle_, i, &message[0], message.size() + 1);
            out.emplace_back(code, offset, length, std::move(message));
        }
        return out;
    }

    // parser_check's notes: kind, byte offset, byte length, message.
    std::vector<std::tuple<int, size_t, size_t, std::string>> check(const py::str &text) {
        const char *bytes = text_of(text);
        std::vector<std::tuple<int, size_t, size_t, std::string>> out;
        Use use(this, true);
        SigintScope sigint(handle_);
        {
            // The notes are gathered without the GIL: no Python object is made here.
            py::gil_scoped_release unlocked;
            parser_check(
                handle_, bytes,
                [](void *ctx, int kind, size_t offset, size_t length, const char *message) {
                    static_cast<decltype(out) *>(ctx)->emplace_back(kind, offset, length, message);
                },
                &out);
        }
        finish(sigint);
        return out;
    }
    // parser_names: kind, byte offset, byte length, name.
    std::vector<std::tuple<int, size_t, size_t, std::string>> names(const py::str &text) {
        const char *bytes = text_of(text);
        std::vector<std::tuple<int, size_t, size_t, std::string>> out;
        Use use(this, true);
        SigintScope sigint(handle_);
        {
            py::gil_scoped_release unlocked;
            parser_names(
                handle_, bytes,
                [](void *ctx, int kind, size_t offset, size_t length, const char *name) {
                    static_cast<decltype(out) *>(ctx)->emplace_back(kind, offset, length, name);
                },
                &out);
        }
        finish(sigint);
        return out;
    }
    // parser_functions: kind, name, proto, body, replaced, n_args, flags, syntax.
    std::vector<py::tuple> functions() {
        std::vector<py::tuple> out;
        Use use(this, false);
        parser_functions(
            handle_,
            [](void *ctx, const ParserFunction *f) {
                auto text = [](const char *s) { return s != nullptr ? py::object(py::str(s)) : py::object(py::none()); };
                static_cast<std::vector<py::tuple> *>(ctx)->push_back(py::make_tuple(
                    f->kind, f->name, text(f->proto), text(f->body), f->replaced != 0, f->n_args, f->flags, f->syntax));
            },
            &out);
        return out;
    }
    // parser_walk: depth, side, text, op, state, value per node.
    std::vector<py::tuple> walk() {
        std::vector<py::tuple> out;
        Use use(this, false);
        parser_walk(
            handle_,
            [](void *ctx, int depth, int side, const char *expr, int op, int state, float value) {
                static_cast<std::vector<py::tuple> *>(ctx)->push_back(py::make_tuple(
                    depth, side, expr != nullptr ? py::object(py::str(expr)) : py::object(py::none()), op, state,
                    value));
            },
            &out);
        return out;
    }

private:
    // One call at a time on the handle, from any Python thread: another
    // thread, or a host function of the call itself, is refused with an
    // exception instead of being refused silently by the library. The GIL
    // orders the mark's reads and writes.
    class Use {
    public:
        Use(Handle *h, bool call) : h_(h) {
            h_->open();
            if (h_->in_use_)
                throw std::runtime_error("the parser is in use: a host function cannot call its own parser, "
                                         "and two threads cannot use one parser at once");
            h_->in_use_ = true;
            if (call) h_->pending_.reset();
        }
        ~Use() { h_->in_use_ = false; }
        Use(const Use &) = delete;
        Use &operator=(const Use &) = delete;

    private:
        Handle *h_;
    };

    static bool raises(const py::object &errors) {
        if (errors.is(raise_word) || errors.is_none()) return true;
        if (py::isinstance<py::str>(errors)) {
            const std::string word = errors.cast<std::string>();
            if (word == "raise") return true;
            if (word == "nan") return false;
        }
        throw py::value_error("errors is \"raise\" or \"nan\"");
    }
    void raise_formula_error(const py::object &text) {
        py::object error = error_factory(text, errors());
        PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.ptr())), error.ptr());
        throw py::error_already_set();
    }

    Parser *open() const {
        if (handle_ == nullptr) throw py::value_error("the parser is closed");
        return handle_;
    }

    void release() {
        if (handle_ == nullptr) return;
        parser_destroy(handle_);
        handle_ = nullptr;
        natives_.clear();
        last_text_ = py::object();
    }

    // After a call: a host function's exception, then Ctrl-C, is raised.
    void finish() {
        if (pending_) {
            last_text_ = py::object(); // the tree was built with a failing call: build it again next time
            std::unique_ptr<py::error_already_set> error = std::move(pending_);
            error->restore();
            throw py::error_already_set();
        }
    }
    void finish(SigintScope &sigint) {
        const bool stopped = sigint.end();
        if (stopped) last_text_ = py::object();
        finish();
        if (stopped) {
            PyErr_SetNone(PyExc_KeyboardInterrupt);
            throw py::error_already_set();
        }
    }

    static float call_host(void *ctx, const float *args, int n_args) {
        auto *held = static_cast<HostCallable *>(ctx);
        py::gil_scoped_acquire locked;
        Handle *owner = held->owner;
        if (owner->pending_) return NAN; // the call is stopping
        try {
            py::tuple values(n_args);
            for (int i = 0; i < n_args; ++i) values[i] = py::float_(args[i]);
            return held->fn(*values).cast<float>();
        } catch (py::error_already_set &e) {
            owner->pending_ = std::make_unique<py::error_already_set>(std::move(e));
        } catch (const py::cast_error &) {
            PyErr_SetString(PyExc_TypeError, "a host function must return a real number");
            owner->pending_ = std::make_unique<py::error_already_set>();
        } catch (const std::exception &e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
            owner->pending_ = std::make_unique<py::error_already_set>();
        }
        parser_interrupt(owner->handle_); // a bulk call stops at its next row
        return NAN;
    }

    Parser *handle_;
    bool math_ = false;
    bool in_use_ = false;
    std::unique_ptr<py::error_already_set> pending_; // what a host function raised during the call
    py::object last_text_; // the text last built, compared by identity
    std::map<std::string, std::unique_ptr<HostCallable>> natives_;
};

} // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The lib_parse library's handle; use the lib_parse package, which builds on it.";
    main_thread_ident = py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();

    raise_word = py::str("raise");
    m.def("_set_error_factory", [](py::object factory) { error_factory = std::move(factory); });
    // The module's objects go before the interpreter does.
    m.add_object("_cleanup", py::capsule([]() {
        error_factory = py::object();
        raise_word = py::object();
    }));

    m.attr("version") = parser_version();
    m.attr("NATIVE_PURE") = PARSER_NATIVE_PURE;
    m.attr("NATIVE_THREAD_SAFE") = PARSER_NATIVE_THREAD_SAFE;
    m.attr("MAX_ARGS") = PARSER_NATIVE_MAX_ARGS;
    m.def("error_text", [](int code) { return std::string(parser_error_text(code)); });

    py::class_<Handle>(m, "Handle")
        .def(py::init<int, bool>(), py::arg("syntax"), py::arg("math"))
        .def("close", &Handle::close)
        .def_property_readonly("closed", &Handle::closed)
        .def_property_readonly("math", &Handle::math)
        .def("_syntax", &Handle::syntax)
        .def("_limit", &Handle::limit)
        .def("_set", &Handle::set_var)
        .def("_get", &Handle::get_var)
        .def("_unset", &Handle::unset)
        .def("_vars", &Handle::vars)
        .def("_func", &Handle::func)
        .def("_func_unset", &Handle::func_unset)
        .def("_native", &Handle::native)
        .def("_natives", &Handle::natives)
        .def("calc", &Handle::calc, py::arg("text"), py::arg("errors") = raise_word,
             "The value of TEXT with the parser's variables. A text with errors raises FormulaError; "
             "errors=\"nan\" returns the library's value regardless (NaN in the standard grammar).")
        .def("eval", &Handle::eval, py::arg("errors") = raise_word,
             "The value of the text last given to calc, with the variables' current values.")
        .def("_raise_errors", &Handle::raise_errors)
        .def("_expand", &Handle::expand)
        .def("_bulk", &Handle::bulk)
        .def("_errors", &Handle::errors)
        .def("_check", &Handle::check)
        .def("_names", &Handle::names)
        .def("_functions", &Handle::functions)
        .def("_walk", &Handle::walk)
        .def("interrupt", &Handle::interrupt,
             "Stops the call running on this parser at its next check point; safe from any thread.");
}
