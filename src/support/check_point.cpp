// check_point.cpp - the count of work behind every check point, and the tests' interrupt at a chosen count.
#include "support/check_point.h"

#include <atomic>

namespace lp {

namespace {

std::atomic<uint64_t> counted{0};
std::atomic<uint64_t> interrupt_at{0};
std::atomic<uint64_t> interrupted_at{0};
// Off unless a test counts: an add to one word that every thread shares
// costs each short parse a few percent of its time.
std::atomic<bool> counting{false};

} // namespace

const CallState CheckPoint::never_stopped;

void CheckPoint::tally() {
    if (units_ == 0) return;
    if (!counting.load(std::memory_order_relaxed)) {
        units_ = 0;
        return;
    }
    const uint64_t total = counted.fetch_add(units_, std::memory_order_relaxed) + units_;
    units_ = 0;
    uint64_t at = interrupt_at.load(std::memory_order_relaxed);
    if (at == 0 || total < at || call_ == nullptr) return;
    if (!interrupt_at.compare_exchange_strong(at, 0, std::memory_order_relaxed)) return;
    interrupted_at.store(total, std::memory_order_relaxed);
    call_->interrupt();
}

void count_work(bool on) { counting.store(on, std::memory_order_relaxed); }

uint64_t work_counted() { return counted.load(std::memory_order_relaxed); }

void interrupt_at_work(uint64_t units) {
    interrupted_at.store(0, std::memory_order_relaxed);
    interrupt_at.store(units, std::memory_order_relaxed);
}

uint64_t work_at_interrupt() { return interrupted_at.load(std::memory_order_relaxed); }

} // namespace lp
