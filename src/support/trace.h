// trace.h - emitting one diagnostic message in the three-piece pattern.
#ifndef LIB_PARSE_TRACE_H
#define LIB_PARSE_TRACE_H

#include "diagnostics.h"
#include "support/error_log.h"

namespace lp {
// A printf-style message at LEVEL, through the diagnostics component.
void trace_print(int level, const char *format, ...) DIAGNOSTICS_PRINTF(2, 3);
// True when messages of LEVEL are emitted now. The process's level first:
// while it is off, as it nearly always is, no thread-local is read (each
// read of one is a call in a shared library, at every step of a build).
inline bool tracing(int level) { return parser_dbg_is_enabled(level) != 0 && level <= scope_trace_level(); }
} // namespace lp

// Timestamp, location, message, all at LEVEL. Nothing is formatted, nor are
// the arguments evaluated, when LEVEL is not emitted or a check of a text
// (not a build) is running.
#define LP_DIAG(level, ...)                                                      \
    do {                                                                         \
        if (::lp::tracing(level)) {                                              \
            if (parser_dbg_istimestamp()) parser_dbg_time_print(level);                        \
            if (parser_dbg_islocalized()) parser_dbg_loc_print(level, "lib_parse", __LINE__); \
            ::lp::trace_print(level, __VA_ARGS__);                                             \
        }                                                                        \
    } while (0)

// Levels of the library's messages.
constexpr int kTraceSearch = 6; // symbol and bracket search
constexpr int kTraceSteps = 7;  // expansion steps
constexpr int kTraceFine = 8;   // every expansion call, every record made

#endif // LIB_PARSE_TRACE_H
