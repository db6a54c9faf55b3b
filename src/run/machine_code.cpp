// machine_code.cpp - translating a program into x86-64 machine code with AsmJit.
// The System V calling convention (Linux, BSD): CMake builds it only there.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include <asmjit/x86.h>

#include "run/lane_math.h"
#include "run/machine_code.h"
#include "run/machine_code_runtime.h"
#include "support/checked_memory.h"
#include "tree/host_functions.h"

namespace lp {

namespace {

std::atomic<bool> refused{false};
// Compiles still to skip after failed allocations, and those failures in a row.
std::atomic<int64_t> skips_left{0};
std::atomic<int> failures_in_row{0};
// An error the next add to the runtime reports instead of its own (tests).
std::atomic<uint32_t> injected_error{asmjit::kErrorOk};

} // namespace

asmjit::JitRuntime &jit_runtime() {
    static asmjit::JitRuntime *const rt = new asmjit::JitRuntime();
    return *rt;
}

bool jit_refused() {
    if (refused.load(std::memory_order_relaxed)) return true;
    // After a failed allocation, a few compiles are skipped, more after each
    // failure in a row, so a host short of memory does not retry at every one.
    int64_t skip = skips_left.load(std::memory_order_relaxed);
    while (skip > 0)
        if (skips_left.compare_exchange_weak(skip, skip - 1, std::memory_order_relaxed)) return true;
    return false;
}

void *jit_finish(asmjit::x86::Assembler &a, const JitFailure &failure, asmjit::CodeHolder *holder) {
    if (a.finalize() != asmjit::kErrorOk || failure.failed) return nullptr;
    void *code = nullptr;
    asmjit::Error error = jit_runtime().add(&code, holder);
    if (const asmjit::Error injected = injected_error.exchange(asmjit::kErrorOk); injected != asmjit::kErrorOk) {
        jit_runtime().release(code);
        code = nullptr;
        error = injected;
    }
    if (error == asmjit::kErrorOk) {
        failures_in_row.store(0, std::memory_order_relaxed);
        return code;
    }
    // Out of memory, of handles or of address space may pass; anything else
    // is the system refusing executable memory, a host's policy that holds
    // while the process runs.
    if (error != asmjit::kErrorOutOfMemory && error != asmjit::kErrorTooManyHandles && error != asmjit::kErrorTooLarge) {
        refused.store(true, std::memory_order_relaxed);
        return nullptr;
    }
    const int failures = std::min(failures_in_row.fetch_add(1, std::memory_order_relaxed) + 1, 16);
    skips_left.store(int64_t{1} << failures, std::memory_order_relaxed);
    return nullptr;
}

void jit_fail_next_add(uint32_t error) { injected_error.store(error); }

void jit_release(void *code) {
    if (code != nullptr) jit_runtime().release(code);
}

namespace {

using namespace asmjit;

// Larger programs stay with the interpreter: the code would take about 30
// bytes per step, and the spill area lives on the caller's stack.
constexpr size_t kMaxSteps = 100000;
constexpr size_t kMaxStack = 1024;

// The value stack lives in xmm0..xmm13; deeper values, and those that must
// outlive a call (which may change every xmm register), in 4-byte slots on the
// stack. xmm14 is the scratch register for a value in a slot.
constexpr size_t kRegisters = 14;

class Emitter {
public:
    // A program that calls nothing keeps the base of `kept` in a scratch
    // register; one that calls keeps it in rbx, which calls preserve.
    Emitter(x86::Assembler &a, size_t frame, bool calls)
        : a_(a), frame_(frame), calls_(calls), base_(calls ? x86::rbx : x86::r11) {}

    bool in_register(size_t depth) const { return depth < kRegisters; }
    x86::Xmm reg(size_t depth) const { return x86::xmm(static_cast<uint32_t>(depth)); }
    x86::Mem slot(size_t depth) const { return x86::dword_ptr(x86::rsp, static_cast<int32_t>(4 * depth)); }

    // The register that holds the value at DEPTH while it is worked on.
    x86::Xmm work(size_t depth) const { return in_register(depth) ? reg(depth) : x86::xmm14; }
    void fetch(size_t depth) {
        if (!in_register(depth)) a_.movss(x86::xmm14, slot(depth));
    }
    void put_back(size_t depth) {
        if (!in_register(depth)) a_.movss(slot(depth), x86::xmm14);
    }

    // Keeps VALUE as entry INDEX of the program's `kept` array.
    void keep(size_t index, const x86::Xmm &value) {
        a_.movss(x86::dword_ptr(base_, static_cast<int32_t>(4 * index)), value);
    }

    void name(size_t depth, const float *source, size_t index) {
        const x86::Xmm v = work(depth);
        a_.mov(x86::rax, reinterpret_cast<uint64_t>(source));
        a_.movss(v, x86::dword_ptr(x86::rax));
        keep(index, v);
        put_back(depth);
    }

    void constant(size_t depth, float value) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        const x86::Xmm v = work(depth);
        if (bits == 0) {
            a_.xorps(v, v);
        } else {
            a_.mov(x86::eax, bits);
            a_.movd(v, x86::eax);
        }
        put_back(depth);
    }

    // "+ - * /" on the values at DEPTH and DEPTH + 1, the result at DEPTH:
    // the left operand is the destination, so a NaN result is the first
    // NaN operand's, as the interpreter gives it.
    void basic(Compute op, size_t depth) {
        fetch(depth);
        const x86::Xmm l = work(depth);
        const size_t r = depth + 1;
        if (in_register(r)) {
            arith(op, l, reg(r));
        } else {
            arith(op, l, slot(r));
        }
        put_back(depth);
    }

    // A call with ARGS operands from DEPTH on; the result at DEPTH.
    void call(const void *function, int args, size_t depth) {
        const size_t live = depth < kRegisters ? depth : kRegisters;
        for (size_t d = 0; d < live; ++d) a_.movss(slot(d), reg(d));
        for (int i = 0; i < args; ++i) {
            const size_t d = depth + static_cast<size_t>(i);
            if (d == static_cast<size_t>(i)) continue;
            if (in_register(d))
                a_.movaps(x86::xmm(static_cast<uint32_t>(i)), reg(d));
            else
                a_.movss(x86::xmm(static_cast<uint32_t>(i)), slot(d));
        }
        a_.mov(x86::rax, reinterpret_cast<uint64_t>(function));
        a_.call(x86::rax);
        if (depth != 0) {
            if (in_register(depth))
                a_.movaps(reg(depth), x86::xmm0);
            else
                a_.movss(slot(depth), x86::xmm0);
        }
        for (size_t d = 0; d < live; ++d) a_.movss(reg(d), slot(d));
    }

    // The value at FROM copied to DEPTH: a parameter's argument, or a
    // function's value over its arguments.
    void copy(size_t from, size_t depth) {
        if (from == depth) return;
        const x86::Xmm v = work(depth);
        if (in_register(from))
            a_.movaps(v, reg(from));
        else
            a_.movss(v, slot(from));
        put_back(depth);
    }

    // A conditional's BRANCH on the condition at DEPTH: kept for the
    // records, then on at ELSE_LABEL when it is 0 (an unordered compare, a
    // NaN, holds).
    void branch(size_t depth, size_t index, const Label &else_label) {
        fetch(depth);
        const x86::Xmm v = work(depth);
        keep(index, v);
        const Label holds = a_.newLabel();
        a_.xorps(x86::xmm15, x86::xmm15);
        a_.ucomiss(v, x86::xmm15);
        a_.jp(holds);
        a_.je(else_label);
        a_.bind(holds);
    }
    // A conditional at DEPTH whose branches both run, with no jump (see
    // EmitSteps): the condition kept, and then a mask in xmm13; the first
    // branch's value set aside in xmm12; the value the mask chooses.
    void select_begin(size_t depth, size_t index) {
        keep(index, reg(depth));
        a_.movaps(x86::xmm13, reg(depth));
        a_.xorps(x86::xmm15, x86::xmm15);
        a_.cmpss(x86::xmm13, x86::xmm15, 4); // not equal, or unordered: a NaN holds
    }
    void select_first(size_t depth) { a_.movaps(x86::xmm12, reg(depth)); }
    void select_end(size_t depth) {
        a_.andps(x86::xmm12, x86::xmm13);
        a_.andnps(x86::xmm13, reg(depth));
        a_.orps(x86::xmm12, x86::xmm13);
        a_.movaps(reg(depth), x86::xmm12);
    }
    void jump(const Label &label) { a_.jmp(label); }
    Label label() { return a_.newLabel(); }
    void bind(const Label &label) { a_.bind(label); }

    // A host function's call on the COUNT values from BASE on, read in
    // place: every value below the top goes to its slot, so the arguments
    // lie in order in memory. The result at BASE.
    void host_call(const CallData *call, size_t base, size_t count, size_t index) {
        const size_t top = base + count;
        for (size_t d = 0; d < std::min(top, kRegisters); ++d) a_.movss(slot(d), reg(d));
        a_.mov(x86::rdi, reinterpret_cast<uint64_t>(call->ctx));
        a_.lea(x86::rsi, slot(base));
        a_.mov(x86::edx, static_cast<uint32_t>(count));
        a_.mov(x86::rax, reinterpret_cast<uint64_t>(call->fn));
        a_.call(x86::rax);
        keep(index, x86::xmm0);
        if (in_register(base))
            a_.movaps(reg(base), x86::xmm0);
        else
            a_.movss(slot(base), x86::xmm0);
        for (size_t d = 0; d < std::min(base, kRegisters); ++d) a_.movss(reg(d), slot(d));
    }

    void prologue(const float *kept) {
        if (calls_) a_.push(x86::rbx);
        if (frame_ != 0) a_.sub(x86::rsp, static_cast<int32_t>(frame_));
        a_.mov(base_, reinterpret_cast<uint64_t>(kept));
    }
    void epilogue() {
        if (frame_ != 0) a_.add(x86::rsp, static_cast<int32_t>(frame_));
        if (calls_) a_.pop(x86::rbx);
        a_.ret();
    }

private:
    template <class Right>
    void arith(Compute op, const x86::Xmm &l, const Right &r) {
        if (op == Compute::ADD) a_.addss(l, r);
        if (op == Compute::SUB) a_.subss(l, r);
        if (op == Compute::MUL) a_.mulss(l, r);
        if (op == Compute::DIV) a_.divss(l, r);
    }

    x86::Assembler &a_;
    size_t frame_;
    bool calls_;
    x86::Gp base_;
};

// The program's steps as instructions, each kind as the interpreter computes it.
struct EmitSteps {
    Emitter &e;
    const Program &p;
    Vector<Label> labels; // at each step a BRANCH or JUMP goes on at
    Vector<bool> labelled;
    bool failed = false;

    EmitSteps(Emitter &emitter, const Program &program)
        : e(emitter), p(program), labels(program.order_count), labelled(program.order_count, false) {
        for (size_t k = 0; k < p.op_count; ++k)
            if (p.ops[k].target >= 0 && !labelled[static_cast<size_t>(p.ops[k].target)]) {
                labelled[static_cast<size_t>(p.ops[k].target)] = true;
                labels[static_cast<size_t>(p.ops[k].target)] = e.label();
            }
    }

    // A conditional whose branches are only names, numbers and arithmetic
    // runs both and chooses the value by a mask: a condition that changes
    // from run to run costs a mispredicted jump, more than the branch not
    // needed. Its steps from the BRANCH to the JOIN, while they run.
    size_t step = 0;
    size_t select_jump = SIZE_MAX, select_join = SIZE_MAX;

    // The JUMP and the JOIN of the conditional whose BRANCH, at depth
    // DEPTH, is step S, when its branches run either way in registers xmm0
    // to xmm11; otherwise false.
    bool runs_either_way(size_t s, size_t depth, const OpStep &branch, size_t *jump, size_t *join) const {
        constexpr size_t kMostSteps = 16;
        const size_t second = static_cast<size_t>(branch.target);
        if (second <= s + 1 || second - s > kMostSteps || p.order[second - 1] < 0) return false;
        const OpStep &jump_step = p.ops[p.order[second - 1]];
        if (kind_of(jump_step.op).compute != Compute::JUMP) return false;
        const size_t end = static_cast<size_t>(jump_step.target);
        if (end <= second || end - s > kMostSteps) return false;
        size_t above = 0, most = 0;
        for (size_t k = s + 1; k < end; ++k) {
            if (k == second - 1) {
                above = 0; // the first branch's value, set aside
                continue;
            }
            if (p.order[k] < 0) {
                most = std::max(most, ++above);
                continue;
            }
            const Compute c = kind_of(p.ops[p.order[k]].op).compute;
            if (c != Compute::ADD && c != Compute::SUB && c != Compute::MUL && c != Compute::DIV) return false;
            above -= 1;
        }
        if (depth + most > kRegisters - 2) return false;
        *jump = second - 1;
        *join = end;
        return true;
    }

    void at(size_t s) {
        step = s;
        if (labelled[s]) e.bind(labels[s]);
    }
    void leaf(size_t depth, size_t index) {
        const LeafStep &leaf = p.leaves[index];
        if (leaf.is_name)
            e.name(depth, leaf.source, index);
        else
            e.constant(depth, leaf.constant);
    }
    void op(size_t depth, const OpStep &step) {
        const OpKind &kind = kind_of(step.op);
        switch (kind.compute) {
        case Compute::ADD:
        case Compute::SUB:
        case Compute::MUL:
        case Compute::DIV: e.basic(kind.compute, depth); return;
        case Compute::ROUTINE:
            e.call(kind.arity == 1 ? reinterpret_cast<const void *>(lane_routine(step.op)) : kind.routine(), kind.arity,
                   depth);
            return;
        case Compute::HOST: {
            const CallStep &c = p.calls[step.call];
            e.host_call(c.call, depth, c.count, kept_call(p, step.call));
            return;
        }
        // Both branches leave their value at the same depth, so in the same
        // register or slot: the JOIN has nothing to move.
        case Compute::BRANCH:
            if (select_join == SIZE_MAX && runs_either_way(this->step, depth, step, &select_jump, &select_join)) {
                e.select_begin(depth, kept_branch(p, step.branch));
                return;
            }
            e.branch(depth, kept_branch(p, step.branch), labels[static_cast<size_t>(step.target)]);
            return;
        case Compute::JUMP:
            if (this->step == select_jump) {
                e.select_first(depth);
                return;
            }
            e.jump(labels[static_cast<size_t>(step.target)]);
            return;
        case Compute::JOIN:
            if (this->step == select_join) {
                e.select_end(depth);
                select_jump = select_join = SIZE_MAX;
            }
            return;
        case Compute::LOCAL: e.copy(static_cast<size_t>(step.target), depth); return;
        case Compute::SCOPE: e.copy(depth + static_cast<size_t>(step.target), depth); return;
        case Compute::NONE: failed = true; return;
        }
    }
};

} // namespace

bool native_code_available() { return !refused.load(std::memory_order_relaxed); }

NativeFn native_compile(const Program *p) {
    if (p->op_count == 0 || p->order_count > kMaxSteps || p->max_stack > kMaxStack) return nullptr;
    if (jit_refused()) return nullptr;
    const bool calls = program_calls_out(*p);
    // At entry the stack is 8 bytes off a 16-byte boundary; after rbx is
    // pushed, which a program with calls does, it is on one, as calls need.
    size_t frame = 0;
    if (calls)
        frame = (4 * p->max_stack + 15) / 16 * 16;
    else if (p->max_stack > kRegisters)
        frame = 4 * p->max_stack;

    CodeHolder code;
    JitFailure failure;
    if (code.init(jit_runtime().environment()) != kErrorOk) return nullptr;
    code.setErrorHandler(&failure);
    x86::Assembler a(&code);
    Emitter e(a, frame, calls);
    e.prologue(p->kept);
    EmitSteps steps(e, *p);
    for_each_step(*p, steps);
    e.epilogue();
    if (steps.failed) return nullptr;
    return reinterpret_cast<NativeFn>(jit_finish(a, failure, &code));
}

void native_release(NativeFn code) { jit_release(reinterpret_cast<void *>(code)); }

} // namespace lp
