/* diagnostics.h - levelled debug printer and error report used by lib_parse.
 *
 * The library emits each diagnostic as up to three pieces, all at one level:
 * a timestamp (when dbg_istimestamp() is non-zero), a source location (when
 * dbg_islocalized() is non-zero) and the formatted message. Pieces whose level
 * is above the level set with dbg_set_level() are dropped at once.
 *
 * Every setter is safe to call from any thread at any time. The settings are
 * process-wide.
 */
#ifndef LIB_PARSE_DIAGNOSTICS_H
#define LIB_PARSE_DIAGNOSTICS_H

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
extern "C" {
#endif

/* Non-zero when each diagnostic should start with a timestamp piece. */
DIAGNOSTICS_API int dbg_istimestamp(void);
/* Emits the current time as one piece at LEVEL. */
DIAGNOSTICS_API void dbg_time_print(int level);
/* Non-zero when each diagnostic should carry its source location. */
DIAGNOSTICS_API int dbg_islocalized(void);
/* Emits "FILE:LINE: " as one piece at LEVEL. */
DIAGNOSTICS_API void dbg_loc_print(int level, const char *file, int line);
/* Formats a printf-style message and emits it as one piece at LEVEL. Returns
 * before formatting anything when LEVEL is not emitted. */
DIAGNOSTICS_API void dbg_data_print(int level, const char *format, ...) DIAGNOSTICS_PRINTF(2, 3);

/* Reports error CODE raised at FILE:LINE to the installed handler, then
 * returns: the caller goes on. */
DIAGNOSTICS_API void exception(const char *file, int line, int code);

/* When LEVEL > 0, pieces of level <= LEVEL are emitted; 0 or less (the
 * default) emits nothing. The library's messages use levels 6 to 8. */
DIAGNOSTICS_API void dbg_set_level(int level);
/* The current level set with dbg_set_level(). */
DIAGNOSTICS_API int dbg_get_level(void);
/* Non-zero when a piece of LEVEL would be emitted; lets callers skip work
 * that only feeds diagnostics. */
DIAGNOSTICS_API int dbg_is_enabled(int level);
/* What dbg_istimestamp() and dbg_islocalized() return; both default to 0. */
DIAGNOSTICS_API void dbg_set_timestamp(int on);
DIAGNOSTICS_API void dbg_set_localized(int on);

/* Receives every emitted piece as one call. TEXT is valid during the call only. */
typedef void (*dbg_sink_fn)(void *ctx, int level, const char *text);
/* Installs SINK with its CTX; NULL restores the default sink, standard error. */
DIAGNOSTICS_API void dbg_set_sink(dbg_sink_fn sink, void *ctx);

/* Receives every exception() report. */
typedef void (*exception_fn)(void *ctx, const char *file, int line, int code);
/* Installs FN with its CTX; NULL restores the default handler, which emits
 * "FILE:LINE: error CODE" as a level-1 piece (so nothing at level 0).
 * Sinks and handlers are called under a lock: once a setter returns, the old
 * callback is no longer running. A callback must not wait for another thread
 * that is itself emitting diagnostics. */
DIAGNOSTICS_API void exception_set_handler(exception_fn fn, void *ctx);

#ifdef __cplusplus
}
#endif

#endif /* LIB_PARSE_DIAGNOSTICS_H */
