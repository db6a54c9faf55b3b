// diagnostics.cpp - levelled debug printer and error report, safe across threads.
//
// The three settings are atomics read without a lock, so a piece whose level
// is not emitted costs one load. The sink and the exception handler, with their
// contexts, live behind one recursive mutex that is also held while either is
// called: once a setter returns, the previous callback is neither running nor
// called again, so its context may be destroyed. The mutex is recursive so a
// handler may itself print diagnostics.
#include "diagnostics.h"

#include "containers/memory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

std::atomic<int> g_level{0};
std::atomic<int> g_timestamp{0};
std::atomic<int> g_localized{0};

// Level at which the default exception handler reports: the first one that a
// non-zero setting emits.
constexpr int kErrorLevel = 1;

// Enough for every message the library prints except ones quoting long texts.
constexpr std::size_t kStackMessage = 256;

struct Callbacks {
    dbg_sink_fn sink = nullptr; // nullptr: standard error
    void *sink_ctx = nullptr;
    exception_fn handler = nullptr; // nullptr: the default report
    void *handler_ctx = nullptr;
};

// Never destroyed, so printing stays valid while other statics are torn down.
std::recursive_mutex &callbacks_lock()
{
    static auto *lock = new (lp_malloc(sizeof(std::recursive_mutex))) std::recursive_mutex;
    return *lock;
}

Callbacks g_callbacks; // guarded by callbacks_lock()

bool emitted(int level)
{
    const int setting = g_level.load(std::memory_order_relaxed);
    return setting > 0 && level <= setting;
}

void emit(int level, const char *text)
{
    std::lock_guard<std::recursive_mutex> hold(callbacks_lock());
    if (g_callbacks.sink)
        g_callbacks.sink(g_callbacks.sink_ctx, level, text);
    else
        std::fwrite(text, 1, std::strlen(text), stderr);
}

// Formats into an exact-size heap buffer when the message does not fit in
// BUFFER: nothing is ever cut.
void vemit_into(int level, char *buffer, std::size_t size, const char *format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(buffer, size, format, args);
    if (length < 0) {
        va_end(again);
        return;
    }
    if (static_cast<std::size_t>(length) < size) {
        va_end(again);
        emit(level, buffer);
        return;
    }
    const std::size_t large_size = static_cast<std::size_t>(length) + 1;
    char *large = static_cast<char *>(lp_malloc(large_size));
    std::vsnprintf(large, large_size, format, again);
    va_end(again);
    emit(level, large);
    std::free(large);
}

// Each thread formats into a buffer that grows to its longest message, so a
// long message (a trace quoting long texts) is formatted once, not measured
// first. A sink that prints diagnostics itself gets a buffer of its own.
struct MessageBuffer {
    char *data = nullptr;
    std::size_t size = 0;
    bool in_use = false;
    ~MessageBuffer() { std::free(data); }
};
thread_local MessageBuffer t_message;

void vemit(int level, const char *format, va_list args)
{
    // A message without conversions is its own text: nothing to format.
    if (std::strchr(format, '%') == nullptr) {
        emit(level, format);
        return;
    }
    MessageBuffer &b = t_message;
    if (b.in_use) {
        char small[kStackMessage];
        vemit_into(level, small, sizeof small, format, args);
        return;
    }
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(b.data, b.size, format, args);
    if (length >= 0 && static_cast<std::size_t>(length) >= b.size) {
        std::free(b.data);
        b.size = std::max(static_cast<std::size_t>(length) + 1, kStackMessage);
        b.data = static_cast<char *>(lp_malloc(b.size));
        std::vsnprintf(b.data, b.size, format, again);
    }
    va_end(again);
    if (length < 0) return;
    b.in_use = true;
    emit(level, b.data);
    b.in_use = false;
}

DIAGNOSTICS_PRINTF(2, 3)
void emitf(int level, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vemit(level, format, args);
    va_end(args);
}

const char *name_or_unknown(const char *file)
{
    return file ? file : "?";
}

} // namespace

extern "C" {

int parser_dbg_istimestamp(void) noexcept
{
    return g_timestamp.load(std::memory_order_relaxed);
}

// Local time to the millisecond: "[2026-12-06 07:10:00.123] ".
void parser_dbg_time_print(int level) noexcept
{
    if (!emitted(level))
        return;
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm parts{};
#if defined(_WIN32)
    localtime_s(&parts, &seconds);
#else
    localtime_r(&seconds, &parts);
#endif
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &parts);
    emitf(level, "[%s.%03d] ", date, static_cast<int>(millis));
}

int parser_dbg_islocalized(void) noexcept
{
    return g_localized.load(std::memory_order_relaxed);
}

void parser_dbg_loc_print(int level, const char *file, int line) noexcept
{
    if (!emitted(level))
        return;
    emitf(level, "%s:%d: ", name_or_unknown(file), line);
}

void parser_dbg_vdata_print(int level, const char *format, va_list args) noexcept
{
    if (!emitted(level) || !format)
        return;
    vemit(level, format, args);
}

void parser_exception(const char *file, int line, int code) noexcept
{
    std::lock_guard<std::recursive_mutex> hold(callbacks_lock());
    if (g_callbacks.handler) {
        g_callbacks.handler(g_callbacks.handler_ctx, file, line, code);
        return;
    }
    // Default: one line at the error level, so a zero setting stays silent.
    if (emitted(kErrorLevel))
        emitf(kErrorLevel, "%s:%d: error %d\n", name_or_unknown(file), line, code);
}

void parser_dbg_set_level(int level) noexcept
{
    g_level.store(level, std::memory_order_relaxed);
}

int parser_dbg_get_level(void) noexcept
{
    return g_level.load(std::memory_order_relaxed);
}

int parser_dbg_is_enabled(int level) noexcept
{
    return emitted(level) ? 1 : 0;
}

void parser_dbg_set_timestamp(int on) noexcept
{
    g_timestamp.store(on ? 1 : 0, std::memory_order_relaxed);
}

void parser_dbg_set_localized(int on) noexcept
{
    g_localized.store(on ? 1 : 0, std::memory_order_relaxed);
}

void parser_dbg_set_sink(dbg_sink_fn sink, void *ctx) noexcept
{
    std::lock_guard<std::recursive_mutex> hold(callbacks_lock());
    g_callbacks.sink = sink;
    g_callbacks.sink_ctx = sink ? ctx : nullptr;
}

void parser_exception_set_handler(exception_fn fn, void *ctx) noexcept
{
    std::lock_guard<std::recursive_mutex> hold(callbacks_lock());
    g_callbacks.handler = fn;
    g_callbacks.handler_ctx = fn ? ctx : nullptr;
}

} // extern "C"
