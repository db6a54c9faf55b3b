// native.cpp - translating a program into x86-64 machine code with AsmJit.
// The System V calling convention (Linux, BSD): CMake builds it only there.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include <asmjit/x86.h>

#include "arithmetic.h"
#include "host.h"
#include "jit.h"
#include "native.h"

namespace lp {

namespace {

// The operations that are not one instruction: called as the interpreter
// calls them, so the bits are the same.
float call_pow(float l, float r) { return pow_of(l, r); }
float call_remainder(float l, float r) { return remainder_of(l, r); }
template <int32_t Op>
float call_function(float r) {
    return function_of(Op, r);
}

std::atomic<bool> refused{false};

} // namespace

const void *jit_callee(int32_t op) {
    using Unary = float (*)(float);
    Unary unary;
    switch (op) {
    case OP_POW: return reinterpret_cast<const void *>(call_pow);
    case OP_MOD: return reinterpret_cast<const void *>(call_remainder);
    case OP_COS: unary = call_function<OP_COS>; break;
    case OP_SIN: unary = call_function<OP_SIN>; break;
    case OP_ATAN: unary = call_function<OP_ATAN>; break;
    case OP_TAN: unary = call_function<OP_TAN>; break;
    case OP_EXP: unary = call_function<OP_EXP>; break;
    case OP_LOGN: unary = call_function<OP_LOGN>; break;
    case OP_LOG2: unary = call_function<OP_LOG2>; break;
    default: unary = call_function<OP_LOG10>; break;
    }
    return reinterpret_cast<const void *>(unary);
}

asmjit::JitRuntime &jit_runtime() {
    static asmjit::JitRuntime *const rt = new asmjit::JitRuntime();
    return *rt;
}

bool jit_refused() { return refused.load(std::memory_order_relaxed); }

void *jit_finish(asmjit::x86::Assembler &a, const JitFailure &failure, asmjit::CodeHolder *holder) {
    if (a.finalize() != asmjit::kErrorOk || failure.failed) return nullptr;
    void *code = nullptr;
    if (jit_runtime().add(&code, holder) == asmjit::kErrorOk) return code;
    refused.store(true, std::memory_order_relaxed);
    return nullptr;
}

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

    // "+ - * /" on the values at DEPTH and DEPTH + 1, the result at DEPTH.
    void basic(int32_t op, size_t depth) {
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
    void arith(int32_t op, const x86::Xmm &l, const Right &r) {
        switch (op) {
        case OP_ADD: a_.addss(l, r); break;
        case OP_SUB: a_.subss(l, r); break;
        case OP_MUL: a_.mulss(l, r); break;
        default: a_.divss(l, r); break;
        }
    }

    x86::Assembler &a_;
    size_t frame_;
    bool calls_;
    x86::Gp base_;
};

} // namespace

bool native_code_built() { return true; }

NativeFn native_compile(const Program *p) {
    if (p->op_count == 0 || p->order_count > kMaxSteps || p->max_stack > kMaxStack) return nullptr;
    if (jit_refused()) return nullptr;
    bool calls = false;
    for (size_t i = 0; i < p->op_count; ++i) calls |= p->ops[i].op == OP_POW || p->ops[i].op > OP_DIV;
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
    size_t depth = 0;
    for (size_t s = 0; s < p->order_count; ++s) {
        const int32_t entry = p->order[s];
        if (entry < 0) {
            const LeafStep &leaf = p->leaves[-entry - 1];
            if (leaf.is_name)
                e.name(depth, leaf.source, static_cast<size_t>(-entry - 1));
            else
                e.constant(depth, leaf.constant);
            ++depth;
            continue;
        }
        const OpStep &step = p->ops[entry];
        if (step.op == OP_CALL) {
            const CallStep &c = p->calls[step.call];
            depth -= c.count;
            e.host_call(c.call, depth, c.count, p->leaf_count + static_cast<size_t>(step.call));
        } else if (step.op == OP_ADD || step.op == OP_SUB || step.op == OP_MUL || step.op == OP_DIV) {
            depth -= 2;
            e.basic(step.op, depth);
        } else if (step.op == OP_POW || step.op == OP_MOD) {
            depth -= 2;
            e.call(jit_callee(step.op), 2, depth);
        } else {
            depth -= 1;
            e.call(jit_callee(step.op), 1, depth);
        }
        ++depth;
    }
    e.epilogue();
    if (depth != 1) return nullptr;
    return reinterpret_cast<NativeFn>(jit_finish(a, failure, &code));
}

void native_release(NativeFn code) { jit_release(reinterpret_cast<void *>(code)); }

} // namespace lp
