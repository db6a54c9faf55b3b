/* diagnostics.h - levelled debug printer and error report used by lib_parse.
 *
 * The library emits each diagnostic as up to three pieces, all at one level:
 * a timestamp (when dbg_istimestamp() is non-zero), a source location (when
 * dbg_islocalized() is non-zero) and the formatted message. Pieces whose level
 * is above the level set with dbg_set_level() are dropped at once.
 *
 * Every setter is safe to call from any thread at any time. The settings are
 * process-wide.
 *
 * Link names: the library defines only names that begin with "parser_"; the
 * short names below (dbg_set_level, exception, ...) are static inline
 * functions of this header, so a host's own function of the same name never
 * clashes with the library's, nor receives its calls. In C++, exception() is
 * lib_parse::exception(), so that "using namespace std" cannot make it
 * ambiguous with std::exception.
 */
#ifndef LIB_PARSE_DIAGNOSTICS_H
#define LIB_PARSE_DIAGNOSTICS_H

#include <stdarg.h>

#if defined(_WIN32)
#define DIAGNOSTICS_API
#else
#define DIAGNOSTICS_API __attribute__((visibility("default")))
#endif

#if defined(__GNUC__)
#define DIAGNOSTICS_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define DIAGNOSTICS_PRINTF(fmt, args)
#endif

#ifdef __cplusplus
#define DIAGNOSTICS_NOEXCEPT noexcept
extern "C" {
#else
#define DIAGNOSTICS_NOEXCEPT
#endif

/* Receives every emitted piece as one call. TEXT is valid during the call only. */
typedef void (*dbg_sink_fn)(void *ctx, int level, const char *text);

/* Receives every exception() report. */
typedef void (*exception_fn)(void *ctx, const char *file, int line, int code);

/* The library's definitions, which the short names below call. */
DIAGNOSTICS_API int parser_dbg_istimestamp(void) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_time_print(int level) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API int parser_dbg_islocalized(void) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_loc_print(int level, const char *file, int line) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_vdata_print(int level, const char *format, va_list args) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_exception(const char *file, int line, int code) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_set_level(int level) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API int parser_dbg_get_level(void) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API int parser_dbg_is_enabled(int level) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_set_timestamp(int on) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_set_localized(int on) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_dbg_set_sink(dbg_sink_fn sink, void *ctx) DIAGNOSTICS_NOEXCEPT;
DIAGNOSTICS_API void parser_exception_set_handler(exception_fn fn, void *ctx) DIAGNOSTICS_NOEXCEPT;

/* Non-zero when each diagnostic should start with a timestamp piece. */
static inline int dbg_istimestamp(void) { return parser_dbg_istimestamp(); }
/* Emits the current time as one piece at LEVEL. */
static inline void dbg_time_print(int level) { parser_dbg_time_print(level); }
/* Non-zero when each diagnostic should carry its source location. */
static inline int dbg_islocalized(void) { return parser_dbg_islocalized(); }
/* Emits "FILE:LINE: " as one piece at LEVEL. */
static inline void dbg_loc_print(int level, const char *file, int line) { parser_dbg_loc_print(level, file, line); }
/* Formats a printf-style message and emits it as one piece at LEVEL. Returns
 * before formatting anything when LEVEL is not emitted. */
static inline void dbg_data_print(int level, const char *format, ...) DIAGNOSTICS_PRINTF(2, 3);
static inline void dbg_data_print(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    parser_dbg_vdata_print(level, format, args);
    va_end(args);
}

/* When LEVEL > 0, pieces of level <= LEVEL are emitted; 0 or less (the
 * default) emits nothing. The library's messages use levels 6 to 8. */
static inline void dbg_set_level(int level) { parser_dbg_set_level(level); }
/* The current level set with dbg_set_level(). */
static inline int dbg_get_level(void) { return parser_dbg_get_level(); }
/* Non-zero when a piece of LEVEL would be emitted; lets callers skip work
 * that only feeds diagnostics. */
static inline int dbg_is_enabled(int level) { return parser_dbg_is_enabled(level); }
/* What dbg_istimestamp() and dbg_islocalized() return; both default to 0. */
static inline void dbg_set_timestamp(int on) { parser_dbg_set_timestamp(on); }
static inline void dbg_set_localized(int on) { parser_dbg_set_localized(on); }

/* Installs SINK with its CTX; NULL restores the default sink, standard error. */
static inline void dbg_set_sink(dbg_sink_fn sink, void *ctx) { parser_dbg_set_sink(sink, ctx); }

/* Installs FN with its CTX; NULL restores the default handler, which emits
 * "FILE:LINE: error CODE" as a level-1 piece (so nothing at level 0).
 * Sinks and handlers are called under a lock: once a setter returns, the old
 * callback is no longer running. A callback must not wait for another thread
 * that is itself emitting diagnostics. */
static inline void exception_set_handler(exception_fn fn, void *ctx) { parser_exception_set_handler(fn, ctx); }

#ifdef __cplusplus
}

namespace lib_parse {
/* Reports error CODE raised at FILE:LINE to the installed handler, then
 * returns: the caller goes on. */
inline void exception(const char *file, int line, int code) { parser_exception(file, line, code); }
} /* namespace lib_parse */
#else
/* Reports error CODE raised at FILE:LINE to the installed handler, then
 * returns: the caller goes on. */
static inline void exception(const char *file, int line, int code) { parser_exception(file, line, code); }
#endif

#endif /* LIB_PARSE_DIAGNOSTICS_H */
