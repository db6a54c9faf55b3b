// machine_code_bulk.cpp - a program over many rows at once in vector machine code, for parser_calc_bulk.
// The System V calling convention (Linux, BSD): CMake builds it only there.
#include <algorithm>
#include <cstdint>
#include <vector>

#include <asmjit/x86.h>

#include "run/machine_code.h"
#include "run/machine_code_runtime.h"
#include "run/program.h"
#include "support/checked_memory.h"
#include "tree/host_functions.h"

namespace lp {

namespace {

using namespace asmjit;

// Deeper stacks stay with the block interpreter: each level takes a 32-byte
// slot on the caller's stack; so do two slots per conditional, its
// condition and its first branch's value, until it chooses.
constexpr size_t kMaxStack = 256;
// Making the code takes time that grows with the program, and no interrupt
// stops it: larger programs go in blocks of rows, which pass check points.
constexpr size_t kMaxSteps = 100000;
constexpr size_t kMaxConditionals = 64;
// A host call's arguments for one lane, gathered in order: 64 floats.
constexpr size_t kArgumentSlots = PARSER_NATIVE_MAX_ARGS * 4 / 32;
// The value stack lives in vector registers 0..11; deeper values, and all
// of them around a call (which may change every vector register), in slots.
// Register 12 holds a value in a slot while it is worked on, 13 a right
// operand being read; 14 and 15, and those the stack leaves free, hold
// values that are the same in every row when nothing is called.
constexpr size_t kRegisters = 12;
constexpr uint32_t kSlotScratch = 12, kOperandScratch = 13, kSpareScratch = 14;
// A comparison's value where it holds.
const float kOne = 1.0f;

constexpr size_t kSlotBytes = 32;
// Callee-saved registers of the loop, which calls leave alone.
const x86::Gp kColumns = x86::rbx, kRow = x86::r12, kEnd = x86::r13, kOut = x86::r14;

// A leaf on the value stack that is not read yet: an operation reads it
// where it is, as its right operand, or into its place as its left one.
struct Leaf {
    const ColumnFeed *feed; // null once the value is in its place
    int32_t held;           // the register that holds a uniform value, or -1
};

class VectorEmitter {
public:
    VectorEmitter(x86::Assembler &a, bool avx, size_t max_stack, size_t conditionals)
        : a_(a), avx_(avx), max_stack_(max_stack), conditionals_(conditionals),
          leaves_(max_stack + 1, Leaf{nullptr, -1}) {}

    size_t lanes() const { return avx_ ? 8 : 4; }

    // Puts the uniform values of FEEDS that fit into spare registers once,
    // before the loop: a program that calls nothing keeps them there.
    void hold_uniforms(const ColumnFeed *feeds, size_t count) {
        Vector<uint32_t> spare;
        for (size_t r = max_stack_; r < kRegisters; ++r) spare.push_back(static_cast<uint32_t>(r));
        spare.push_back(14);
        spare.push_back(15);
        for (size_t i = 0; i < count && !spare.empty(); ++i) {
            if (feeds[i].column >= 0 || held(feeds[i].source) >= 0) continue;
            held_.push_back(Held{feeds[i].source, spare.back()});
            broadcast(reg(spare.back()), feeds[i].source);
            spare.pop_back();
        }
    }

    // The row loop around the program's steps, which BODY emits after
    // HOIST: the callee-saved registers, a frame whose slots are 16-byte
    // aligned for SSE's memory operands and whose bottom is so for calls.
    template <class Hoist, class Body>
    void loop(Hoist hoist, Body body) {
        const int32_t frame =
            static_cast<int32_t>(kSlotBytes * (max_stack_ + 2 * conditionals_ + kArgumentSlots) + 8);
        for (const x86::Gp &r : {kColumns, kRow, kEnd, kOut}) a_.push(r);
        a_.sub(x86::rsp, frame);
        a_.mov(kColumns, x86::rdi);
        a_.mov(kRow, x86::rsi);
        a_.mov(kEnd, x86::rdx);
        a_.mov(kOut, x86::rcx);
        hoist();
        const Label top = a_.newLabel(), done = a_.newLabel();
        a_.bind(top);
        a_.lea(x86::rax, x86::ptr(kRow, static_cast<int32_t>(lanes())));
        a_.cmp(x86::rax, kEnd);
        a_.ja(done);
        body();
        place(0);
        store(x86::ptr(kOut, kRow, 2), reg(0)); // the value, at depth 0
        a_.add(kRow, static_cast<int32_t>(lanes()));
        a_.jmp(top);
        a_.bind(done);
        a_.mov(x86::rax, kRow);
        a_.add(x86::rsp, frame);
        for (const x86::Gp &r : {kOut, kEnd, kRow, kColumns}) a_.pop(r);
        if (avx_) a_.vzeroupper();
        a_.ret();
    }

    // A leaf at DEPTH, read when an operation needs it.
    void leaf(size_t depth, const ColumnFeed *feed) {
        leaves_[depth] = Leaf{feed, feed->column < 0 ? held(feed->source) : -1};
    }

    // "+ - * /" on the values at DEPTH and DEPTH + 1, lane by lane; the
    // result at DEPTH.
    void basic(Compute op, size_t depth) {
        place(depth);
        fetch(depth);
        const x86::Vec l = work(depth);
        const size_t r = depth + 1;
        const InstId id = avx_ ? (op == Compute::ADD   ? x86::Inst::kIdVaddps
                                  : op == Compute::SUB ? x86::Inst::kIdVsubps
                                  : op == Compute::MUL ? x86::Inst::kIdVmulps
                                                       : x86::Inst::kIdVdivps)
                               : (op == Compute::ADD   ? x86::Inst::kIdAddps
                                  : op == Compute::SUB ? x86::Inst::kIdSubps
                                  : op == Compute::MUL ? x86::Inst::kIdMulps
                                                       : x86::Inst::kIdDivps);
        const Operand_ right = right_operand(r);
        if (avx_)
            a_.emit(id, l, l, right);
        else
            a_.emit(id, l, right);
        put_back(depth);
    }

    // A comparison (the AVX predicate PREDICATE, one that is false for a NaN
    // but for !=) of the values at DEPTH and DEPTH + 1, lane by lane: 1 where
    // it holds, else +0, as the comparison routines give. AVX only.
    void compare(uint32_t predicate, size_t depth) {
        place(depth);
        fetch(depth);
        const x86::Vec l = work(depth), one = reg(kSpareScratch);
        a_.emit(x86::Inst::kIdVcmpps, l, l, right_operand(depth + 1), predicate);
        broadcast(one, &kOne); // after the comparison: a column's address is in rax
        a_.vandps(l, l, one);
        put_back(depth);
    }

    // x ^ 2 (OP_SQUARE) at DEPTH, its exponent at DEPTH + 1 left unread: the
    // product of each lane with itself, which is square_of's value, a NaN's
    // included (bench/square_sweep checks every float).
    void square(size_t depth) {
        place(depth);
        fetch(depth);
        const x86::Vec l = work(depth);
        leaves_[depth + 1].feed = nullptr;
        if (avx_)
            a_.emit(x86::Inst::kIdVmulps, l, l, l);
        else
            a_.emit(x86::Inst::kIdMulps, l, l);
        put_back(depth);
    }

    // The square root of the value at DEPTH in every lane: the correctly
    // rounded root, which the double root rounded to float is too.
    void sqrt(size_t depth) {
        place(depth);
        fetch(depth);
        const x86::Vec v = work(depth);
        if (avx_)
            a_.vsqrtps(v, v);
        else
            a_.sqrtps(v.as<x86::Xmm>(), v.as<x86::Xmm>());
        put_back(depth);
    }

    // FUNCTION, float (*)(float[, float]) of ARGS operands from DEPTH on,
    // called lane by lane with every value in its slot; the result at DEPTH.
    void call(const void *function, int args, size_t depth) {
        const size_t top = depth + static_cast<size_t>(args);
        for (size_t d = 0; d < top; ++d) place(d);
        for (size_t d = 0; d < std::min(top, kRegisters); ++d) store(slot(d), reg(d));
        if (avx_) a_.vzeroupper(); // the callee's SSE code runs at full speed
        for (size_t lane = 0; lane < lanes(); ++lane) {
            const int32_t at = static_cast<int32_t>(4 * lane);
            a_.movss(x86::xmm0, slot(depth, at));
            if (args == 2) a_.movss(x86::xmm1, slot(depth + 1, at));
            a_.mov(x86::rax, reinterpret_cast<uint64_t>(function));
            a_.call(x86::rax);
            a_.movss(slot(depth, at), x86::xmm0);
        }
        for (size_t d = 0; d <= std::min(depth, kRegisters - 1); ++d) load(reg(d), slot(d));
    }

    // The value at FROM copied to DEPTH: a parameter's argument, or a
    // function's value over its arguments.
    void copy(size_t from, size_t depth) {
        if (from == depth) return;
        place(from);
        leaves_[depth].feed = nullptr;
        x86::Vec v = reg(kOperandScratch);
        if (in_register(from))
            v = reg(from);
        else
            load(v, slot(from));
        if (!in_register(depth)) {
            store(slot(depth), v);
        } else if (avx_) {
            a_.vmovaps(reg(depth), v);
        } else {
            a_.movaps(reg(depth).as<x86::Xmm>(), v.as<x86::Xmm>());
        }
    }

    // A conditional's condition (BRANCH) or first branch's value (JUMP), at
    // DEPTH, set aside until the JOIN: PART 0 or 1 of conditional INDEX.
    void set_aside(size_t depth, size_t index, size_t part) {
        place(depth);
        fetch(depth);
        store(slot(aside(index, part)), work(depth));
    }

    // A conditional's JOIN, both branches computed: at DEPTH, lane by lane,
    // the second branch's value where the condition is 0, else the first's.
    void choose(size_t depth, size_t index) {
        place(depth);
        fetch(depth);
        const x86::Vec w = work(depth), mask = reg(kOperandScratch);
        const x86::Mem condition = slot(aside(index, 0)), first = slot(aside(index, 1));
        if (avx_) {
            a_.vxorps(mask, mask, mask);
            a_.vcmpps(mask, mask, condition, 0); // 0 == condition: false for a NaN
            a_.vandps(w, w, mask);
            a_.vandnps(mask, mask, first);
            a_.vorps(w, w, mask);
        } else {
            const x86::Xmm wx = w.as<x86::Xmm>(), mx = mask.as<x86::Xmm>();
            a_.xorps(mx, mx);
            a_.cmpps(mx, condition, 0);
            a_.andps(wx, mx);
            a_.andnps(mx, first);
            a_.orps(wx, mx);
        }
        put_back(depth);
    }

    // A pure host function's call on the COUNT values from DEPTH on, lane by
    // lane: each lane's arguments gathered in order, then FN(CTX, args,
    // COUNT); the result at DEPTH.
    void host_call(parser_native_fn fn, void *ctx, size_t depth, size_t count) {
        const size_t top = depth + count;
        for (size_t d = 0; d < top; ++d) place(d);
        for (size_t d = 0; d < std::min(top, kRegisters); ++d) store(slot(d), reg(d));
        if (avx_) a_.vzeroupper();
        const size_t arguments = max_stack_ + 2 * conditionals_;
        for (size_t lane = 0; lane < lanes(); ++lane) {
            const int32_t at = static_cast<int32_t>(4 * lane);
            for (size_t k = 0; k < count; ++k) {
                a_.movss(x86::xmm0, slot(depth + k, at));
                a_.movss(slot(arguments, static_cast<int32_t>(4 * k)), x86::xmm0);
            }
            a_.mov(x86::rdi, reinterpret_cast<uint64_t>(ctx));
            a_.lea(x86::rsi, slot(arguments));
            a_.mov(x86::edx, static_cast<uint32_t>(count));
            a_.mov(x86::rax, reinterpret_cast<uint64_t>(fn));
            a_.call(x86::rax);
            a_.movss(slot(depth, at), x86::xmm0);
        }
        for (size_t d = 0; d <= std::min(depth, kRegisters - 1); ++d) load(reg(d), slot(d));
    }

private:
    struct Held {
        const float *source;
        uint32_t reg;
    };

    size_t aside(size_t index, size_t part) const { return max_stack_ + 2 * index + part; }

    // The right operand, at R, of a two-operand instruction: a register, a
    // slot, or a leaf read where it is (a column's block uses rax).
    Operand_ right_operand(size_t r) {
        Operand_ right = in_register(r) ? Operand_(reg(r)) : Operand_(slot(r));
        const Leaf pending = leaves_[r];
        leaves_[r].feed = nullptr;
        if (pending.feed != nullptr && pending.held >= 0) {
            right = reg(static_cast<uint32_t>(pending.held));
        } else if (pending.feed != nullptr && (pending.feed->column < 0 || !avx_)) {
            read(reg(kOperandScratch), *pending.feed); // SSE reads aligned memory only
            right = reg(kOperandScratch);
        } else if (pending.feed != nullptr) {
            right = column_at(pending.feed->column);
        }
        return right;
    }

    int32_t held(const float *source) const {
        for (const Held &h : held_)
            if (h.source == source) return static_cast<int32_t>(h.reg);
        return -1;
    }
    bool in_register(size_t depth) const { return depth < kRegisters; }
    x86::Vec reg(size_t id) const {
        const uint32_t n = static_cast<uint32_t>(id);
        return avx_ ? x86::Vec(x86::ymm(n)) : x86::Vec(x86::xmm(n));
    }
    x86::Mem slot(size_t depth, int32_t offset = 0) const {
        return x86::ptr(x86::rsp, static_cast<int32_t>(kSlotBytes * depth) + offset);
    }
    // This row block's values of column C; uses rax.
    x86::Mem column_at(long c) {
        a_.mov(x86::rax, x86::qword_ptr(kColumns, static_cast<int32_t>(8 * c)));
        return x86::ptr(x86::rax, kRow, 2);
    }
    void broadcast(const x86::Vec &v, const float *source) {
        a_.mov(x86::rax, reinterpret_cast<uint64_t>(source));
        if (avx_) {
            a_.vbroadcastss(v, x86::dword_ptr(x86::rax));
        } else {
            a_.movss(v.as<x86::Xmm>(), x86::dword_ptr(x86::rax));
            a_.shufps(v.as<x86::Xmm>(), v.as<x86::Xmm>(), 0);
        }
    }
    // The value of a leaf into V.
    void read(const x86::Vec &v, const ColumnFeed &feed) {
        const int32_t h = feed.column < 0 ? held(feed.source) : -1;
        if (h >= 0) {
            if (avx_)
                a_.vmovaps(v, reg(static_cast<uint32_t>(h)));
            else
                a_.movaps(v.as<x86::Xmm>(), reg(static_cast<uint32_t>(h)).as<x86::Xmm>());
        } else if (feed.column >= 0) {
            load(v, column_at(feed.column));
        } else {
            broadcast(v, feed.source);
        }
    }
    // Reads a leaf not yet read into its place on the stack.
    void place(size_t depth) {
        if (leaves_[depth].feed == nullptr) return;
        read(work(depth), *leaves_[depth].feed);
        leaves_[depth].feed = nullptr;
        put_back(depth);
    }
    // The register that holds the value at DEPTH while it is worked on.
    x86::Vec work(size_t depth) const { return in_register(depth) ? reg(depth) : reg(kSlotScratch); }
    void fetch(size_t depth) {
        if (!in_register(depth)) load(work(depth), slot(depth));
    }
    void put_back(size_t depth) {
        if (!in_register(depth)) store(slot(depth), work(depth));
    }
    void load(const x86::Vec &v, const x86::Mem &m) {
        if (avx_)
            a_.vmovups(v, m);
        else
            a_.movups(v.as<x86::Xmm>(), m);
    }
    void store(const x86::Mem &m, const x86::Vec &v) {
        if (avx_)
            a_.vmovups(m, v);
        else
            a_.movups(m, v.as<x86::Xmm>());
    }

    x86::Assembler &a_;
    bool avx_;
    size_t max_stack_;
    size_t conditionals_;
    Vector<Leaf> leaves_; // per depth of the value stack
    Vector<Held> held_;
};

} // namespace

bool native_bulk_avx2 = CpuInfo::host().hasFeature(CpuFeatures::X86::kAVX2);

namespace {

// The program's steps over vectors of rows, each kind as the interpreter
// computes it lane by lane, both branches of a conditional evaluated and
// one chosen per lane. A leaf is read when an operation needs it, not where
// it stands in the steps, and host functions are called lane by lane: the
// same, since every one of them is pure.
// The AVX comparison predicate of < <= > >= == != (OP_LT ... OP_NE):
// LT_OQ LE_OQ GT_OQ GE_OQ EQ_OQ NEQ_UQ.
uint32_t predicate(int32_t op) {
    static constexpr uint32_t kPredicates[] = {0x11, 0x12, 0x1E, 0x1D, 0x00, 0x04};
    return kPredicates[op - OP_LT];
}

struct EmitSteps {
    VectorEmitter &e;
    const Program &p;
    const ColumnFeed *feeds;
    bool avx2; // comparisons are one instruction
    bool failed = false;

    void at(size_t) {}
    void leaf(size_t depth, size_t index) { e.leaf(depth, &feeds[index]); }
    void op(size_t depth, const OpStep &step) {
        const OpKind &kind = kind_of(step.op);
        const size_t index = static_cast<size_t>(step.branch);
        switch (kind.compute) {
        case Compute::ADD:
        case Compute::SUB:
        case Compute::MUL:
        case Compute::DIV: e.basic(kind.compute, depth); return;
        case Compute::ROUTINE:
            if (step.op == OP_SQUARE) {
                e.square(depth);
            } else if (avx2 && step.op >= OP_LT && step.op <= OP_NE) {
                e.compare(predicate(step.op), depth);
            } else {
                e.call(kind.routine(), kind.arity, depth);
            }
            return;
        case Compute::HOST: {
            const CallStep &c = p.calls[step.call];
            if (!c.call->pure) failed = true; // bulk calls those row by row, in row order
            const int32_t same = c.count == 2 ? form_operation(c.call->lanes) : -1;
            if (c.call->lanes == LaneForm::SQRT && c.count == 1)
                e.sqrt(depth);
            else if (avx2 && same >= 0) // the math set's own comparison
                e.compare(predicate(same), depth);
            else
                e.host_call(c.call->fn, c.call->ctx, depth, c.count);
            return;
        }
        case Compute::BRANCH:
            e.set_aside(depth, index, 0);
            return;
        case Compute::JUMP:
            e.set_aside(depth, index, 1);
            return;
        case Compute::JOIN:
            e.choose(depth, index);
            return;
        case Compute::LOCAL: e.copy(static_cast<size_t>(step.target), depth); return;
        case Compute::SCOPE: e.copy(depth + static_cast<size_t>(step.target), depth); return;
        case Compute::NONE: failed = true; return;
        }
    }
};

} // namespace

BulkFn native_bulk_compile(const Program *p, const ColumnFeed *feeds) {
    if (p->max_stack > kMaxStack || p->branch_count > kMaxConditionals || p->order_count == 0 ||
        p->order_count > kMaxSteps || jit_refused())
        return nullptr;
    CodeHolder code;
    JitFailure failure;
    if (code.init(jit_runtime().environment()) != kErrorOk) return nullptr;
    code.setErrorHandler(&failure);
    x86::Assembler a(&code);
    VectorEmitter e(a, native_bulk_avx2, p->max_stack, p->branch_count);
    const bool calls = program_calls_out(*p);
    EmitSteps steps{e, *p, feeds, native_bulk_avx2};
    e.loop(
        [&] {
            if (!calls) e.hold_uniforms(feeds, p->leaf_count);
        },
        [&] { for_each_step(*p, steps); });
    if (steps.failed) return nullptr;
    return reinterpret_cast<BulkFn>(jit_finish(a, failure, &code));
}

void native_bulk_release(BulkFn code) { jit_release(reinterpret_cast<void *>(code)); }

} // namespace lp
