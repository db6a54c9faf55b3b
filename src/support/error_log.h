// error_log.h - reporting an error with its place to the host's handler and to the handle being built.
#ifndef LIB_PARSE_REPORT_H
#define LIB_PARSE_REPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/checked_memory.h"

namespace lp {

// A stretch of the text given to parser_calc or parser_expand.
struct Span {
    size_t offset = 0;
    size_t length = 0;
};

// Errors reported while the current tree was built, one entry per code and
// place: a runaway call that fails at the same place again and again makes
// one entry.
class ErrorLog {
public:
    struct Entry {
        int code;
        Span span;
    };

    void add(int code, Span span);
    void clear();
    const Vector<Entry> &entries() const { return entries_; }

private:
    void grow();

    Vector<Entry> entries_;
    // Open addressing by code and place: 1 + the entry's index, 0 for an
    // empty slot; a power of two long, at most three quarters full. Kept
    // from one build to the next, as the entries are, unless large.
    Vector<uint32_t> slots_;
};

// Reports CODE at SPAN through exception() and records it in the log of the
// expansion running on this thread, if any.
void report_error(int line, int code, Span span);

// Makes LOG the destination of report_error on this thread until the scope
// ends. A silent scope (a check of a text) records only: no handler is
// called and no trace is emitted.
class ErrorScope {
public:
    explicit ErrorScope(ErrorLog *log, bool silent = false);
    ~ErrorScope();
    ErrorScope(const ErrorScope &) = delete;
    ErrorScope &operator=(const ErrorScope &) = delete;

private:
    ErrorLog *previous_;
    bool previous_silent_;
    int previous_trace_level_;
};

// True while a silent scope runs on this thread.
bool silenced();
// The trace level of the scope running on this thread, read when it began (0
// in a silent scope: nothing is traced).
int scope_trace_level();

// For a branch that no input can take: builds with assertions stop there,
// saying where it is, release builds take it and do what it defines.
inline bool impossible(bool condition, const char *file = __builtin_FILE(), int line = __builtin_LINE()) {
#ifndef NDEBUG
    if (condition) {
        std::fprintf(stderr, "%s:%d: a branch no input reaches was taken\n", file, line);
        std::abort();
    }
#else
    (void)file;
    (void)line;
#endif
    return condition;
}

} // namespace lp

#define LP_REPORT(code, span) ::lp::report_error(__LINE__, code, span)

#endif // LIB_PARSE_REPORT_H
