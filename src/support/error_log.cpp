// error_log.cpp - error reports: to the diagnostics handler, and to the log of the tree being built.
#include "support/error_log.h"

#include <algorithm>
#include <cstdarg>
#include <climits>
#include <cstdint>

#include "diagnostics.h"
#include "lib_parse.h"
#include "support/trace.h"

namespace lp {

namespace {
// What the scope running on this thread set. One thread-local, so that a
// scope finds all of it with one lookup of the thread's block, which in a
// shared library is a call.
struct ScopeState {
    // The log of the expansion running on this thread; expansions on
    // different threads (different handles) never share one.
    ErrorLog *log = nullptr;
    bool silent = false;
    int trace_level = INT_MAX; // outside a scope the printer itself filters
};
thread_local ScopeState current;
} // namespace

int scope_trace_level() { return current.trace_level; }

namespace {

uint64_t key_of(int code, Span span) {
    uint64_t h = static_cast<uint32_t>(code);
    h = h * 0x9E3779B97F4A7C15ull ^ span.offset;
    h = h * 0x9E3779B97F4A7C15ull ^ span.length;
    return (h * 0x9E3779B97F4A7C15ull) >> 32; // the well-mixed high bits
}
} // namespace

void ErrorLog::add(int code, Span span) {
    if (4 * (entries_.size() + 1) > 3 * slots_.size()) grow();
    const size_t mask = slots_.size() - 1;
    for (size_t k = key_of(code, span) & mask;; k = (k + 1) & mask) {
        if (slots_[k] == 0) {
            entries_.push_back(Entry{code, span});
            slots_[k] = static_cast<uint32_t>(entries_.size());
            return;
        }
        const Entry &e = entries_[slots_[k] - 1];
        if (e.code == code && e.span.offset == span.offset && e.span.length == span.length) return;
    }
}

void ErrorLog::grow() {
    slots_.assign(slots_.empty() ? 16 : 2 * slots_.size(), 0);
    const size_t mask = slots_.size() - 1;
    for (size_t i = 0; i < entries_.size(); ++i) {
        size_t k = key_of(entries_[i].code, entries_[i].span) & mask;
        while (slots_[k] != 0) k = (k + 1) & mask;
        slots_[k] = static_cast<uint32_t>(i + 1);
    }
}

void ErrorLog::clear() {
    if (entries_.empty()) return;
    entries_.clear();
    if (slots_.size() > 1024) {
        Vector<uint32_t>().swap(slots_);
        Vector<Entry>().swap(entries_);
    } else {
        std::fill(slots_.begin(), slots_.end(), 0);
    }
}

void report_error(int line, int code, Span span) {
    const ScopeState &state = current;
    if (state.log != nullptr) state.log->add(code, span);
    if (!state.silent) parser_exception("lib_parse", line, code);
}

bool silenced() { return current.silent; }

void trace_print(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    parser_dbg_vdata_print(level, format, args);
    va_end(args);
}

ErrorScope::ErrorScope(ErrorLog *log, bool silent) {
    ScopeState &state = current;
    previous_ = state.log;
    previous_silent_ = state.silent;
    previous_trace_level_ = state.trace_level;
    // A build reads the trace level once: a level set meanwhile applies to
    // the next build.
    state.trace_level = silent ? 0 : parser_dbg_get_level();
    state.log = log;
    state.silent = silent;
}

ErrorScope::~ErrorScope() {
    ScopeState &state = current;
    state.log = previous_;
    state.silent = previous_silent_;
    state.trace_level = previous_trace_level_;
}

} // namespace lp

extern "C" const char *parser_error_text(int code) noexcept {
    switch (code) {
    case PARSER_ERR_CUT_ORDER: return "operator positions out of order while cutting a text";
    case PARSER_ERR_TRAILING_OPERATOR: return "an operator at the end of a text has no right operand";
    case PARSER_ERR_BAD_OPERATION: return "operation id outside the operation table";
    case PARSER_ERR_UNKNOWN_FUNCTION: return "bracketed call of a function that is not defined";
    case PARSER_ERR_SUBSTITUTION_LIMIT: return "user function substitution too deep, too many or too large";
    case PARSER_ERR_TEXT_TOO_LONG: return "text longer than the handle's limit: refused, and read as the empty text";
    case PARSER_ERR_ARGUMENT_COUNT: return "host function called with a wrong number of arguments: the call is 0";
    case PARSER_ERR_BUSY: return "call refused: the handle is inside a call of its own (a callback called back into it)";
    case PARSER_ERR_INTERRUPTED: return "interrupted: the text is not kept, and its value is NaN";
    case PARSER_ERR_EMPTY_ARGUMENT: return "empty argument in a host function's call: the call is 0";
    case PARSER_ERR_UNEXPECTED_TOKEN: return "a token that cannot stand here";
    case PARSER_ERR_MISSING_TOKEN: return "an operand or ':' is missing here";
    case PARSER_ERR_UNBALANCED_BRACKET: return "a bracket without a partner";
    case PARSER_ERR_UNKNOWN_NAME: return "a name that is no variable, or a call of no function";
    case PARSER_ERR_CALL_ARGUMENTS: return "a call with a wrong number of arguments";
    case PARSER_ERR_TRAILING_TEXT: return "text after a whole expression";
    case PARSER_ERR_RECURSION: return "a user function that calls itself, directly or through others";
    case PARSER_ERR_OTHER_SYNTAX: return "a call of a user function defined under the other grammar";
    default: return "unknown error";
    }
}
