// call_guard.h - one call at a time on a handle: callbacks cannot re-enter it, and another thread can stop it.
#ifndef LIB_PARSE_CALL_GUARD_H
#define LIB_PARSE_CALL_GUARD_H

#include <atomic>
#include <cstdint>

namespace lp {

// Whether a call that parser_interrupt may stop is running on a handle, and
// whether it was asked to stop. One word, so that an interrupt acts only on
// the very call it saw running, never on a later one: bit 0 running, bit 1
// interrupted, the bits above the call's serial number. Lock-free, so
// parser_interrupt may be called from a signal handler.
class CallState {
public:
    void begin() {
        const uint64_t serial = (word_.load(std::memory_order_relaxed) >> 2) + 1;
        word_.store(serial << 2 | kRunning, std::memory_order_release);
    }
    void end() { word_.store(word_.load(std::memory_order_relaxed) >> 2 << 2, std::memory_order_release); }
    // From any thread: a running call is marked; otherwise nothing happens.
    void interrupt() {
        uint64_t seen = word_.load(std::memory_order_acquire);
        if ((seen & kRunning) == 0) return;
        // Fails only when that call has ended meanwhile, or is marked already.
        word_.compare_exchange_strong(seen, seen | kInterrupted, std::memory_order_acq_rel);
    }
    bool interrupted() const { return (word_.load(std::memory_order_relaxed) & kInterrupted) != 0; }

private:
    static constexpr uint64_t kRunning = 1, kInterrupted = 2;
    std::atomic<uint64_t> word_{0};
};

} // namespace lp

#endif // LIB_PARSE_CALL_GUARD_H
