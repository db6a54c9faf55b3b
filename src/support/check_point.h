// check_point.h - where a long call looks whether parser_interrupt asked it to stop, and the work it counts.
//
// Every loop whose length grows with the text or the tree counts its work
// here: a byte of text read is one unit, a node made or visited four. The
// loops that do little per byte pass a check point once per stride of
// bytes; those that do a node's work pass one per node. A pass reads the
// call's interrupt flag, an ordinary load, so a call stops within one
// stride of work wherever it is: parser_interrupt is answered in well under
// a millisecond of work, whatever the text's size or shape.
#ifndef LIB_PARSE_CHECK_POINT_H
#define LIB_PARSE_CHECK_POINT_H

#include <cstddef>
#include <cstdint>

#include "support/call_guard.h"

namespace lp {

constexpr size_t kNodeUnits = 4;
// The most units a loop does between two check points: 64 KiB of text, or
// 16,384 nodes. Byte loops pass one per this many bytes.
constexpr size_t kCheckStride = 65536;

class CheckPoint {
public:
    // CALL null: a call nothing can stop, whose work is counted all the same.
    explicit CheckPoint(CallState *call) : watched_(call != nullptr ? call : &never_stopped), call_(call) {}
    ~CheckPoint() { tally(); }
    CheckPoint(const CheckPoint &) = delete;
    CheckPoint &operator=(const CheckPoint &) = delete;

    // Counts UNITS of work done; true when the call was asked to stop.
    bool pass(size_t units) {
        const bool stop = stopped();
        units_ += units;
        if (units_ >= kCheckStride) tally();
        return stop;
    }
    bool stopped() const { return watched_->interrupted(); }

private:
    // Adds the units counted so far to the process's count (work_counted), when it is kept.
    void tally();

    // A call that never begins, so never stops: watched in place of a null
    // CALL, so that a pass reads a flag without first testing for one.
    static const CallState never_stopped;

    const CallState *watched_;
    CallState *call_;
    size_t units_ = 0;
};

// For tests, which bound the work a call does after an interrupt without
// timing it. Whether check points count their units (off at first), and the
// units every check point has counted in this process while they did.
void count_work(bool on);
uint64_t work_counted();
// Makes the check point that brings the count to UNITS or beyond interrupt
// its call, just after it read the flag: the latest moment an interrupt can
// come, so the call goes on until its next check point. 0 disarms.
void interrupt_at_work(uint64_t units);
// The count when that interrupt was made, or 0 while none was.
uint64_t work_at_interrupt();

} // namespace lp

#endif // LIB_PARSE_CHECK_POINT_H
