// native_bulk.cpp - a program over many rows at once in vector machine code, for parser_calc_bulk.
// The System V calling convention (Linux, BSD): CMake builds it only there.
#include <algorithm>
#include <cstdint>

#include <asmjit/x86.h>

#include "jit.h"
#include "native.h"

namespace lp {

namespace {

using namespace asmjit;

// Deeper stacks stay with the block interpreter: each level takes a 32-byte
// slot on the caller's stack.
constexpr size_t kMaxStack = 256;
// The value stack lives in vector registers 0..11; deeper values, and all
// of them around a call (which may change every vector register), in slots.
// Register 12 holds a value in a slot while it is worked on.
constexpr size_t kRegisters = 12;
constexpr size_t kSlotBytes = 32;
// Callee-saved registers of the loop, which calls leave alone.
const x86::Gp kColumns = x86::rbx, kRow = x86::r12, kEnd = x86::r13, kOut = x86::r14;

class VectorEmitter {
public:
    VectorEmitter(x86::Assembler &a, bool avx) : a_(a), avx_(avx) {}

    size_t lanes() const { return avx_ ? 8 : 4; }

    // The row loop around the program's steps, which BODY emits: the callee-
    // saved registers, a frame whose slots are 16-byte aligned for SSE's
    // memory operands and whose bottom is so for calls.
    template <class Body>
    void loop(size_t max_stack, Body body) {
        const int32_t frame = static_cast<int32_t>(kSlotBytes * max_stack + 8);
        for (const x86::Gp &r : {kColumns, kRow, kEnd, kOut}) a_.push(r);
        a_.sub(x86::rsp, frame);
        a_.mov(kColumns, x86::rdi);
        a_.mov(kRow, x86::rsi);
        a_.mov(kEnd, x86::rdx);
        a_.mov(kOut, x86::rcx);
        const Label top = a_.newLabel(), done = a_.newLabel();
        a_.bind(top);
        a_.lea(x86::rax, x86::ptr(kRow, static_cast<int32_t>(lanes())));
        a_.cmp(x86::rax, kEnd);
        a_.ja(done);
        body();
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

    // The rows' values of column C.
    void column(size_t depth, long c) {
        a_.mov(x86::rax, x86::qword_ptr(kColumns, static_cast<int32_t>(8 * c)));
        load(work(depth), x86::ptr(x86::rax, kRow, 2));
        put_back(depth);
    }

    // The float at SOURCE in every lane, read at every row block (a
    // variable no column feeds keeps its value through the call).
    void uniform(size_t depth, const float *source) {
        a_.mov(x86::rax, reinterpret_cast<uint64_t>(source));
        const x86::Vec v = work(depth);
        if (avx_) {
            a_.vbroadcastss(v, x86::dword_ptr(x86::rax));
        } else {
            a_.movss(v.as<x86::Xmm>(), x86::dword_ptr(x86::rax));
            a_.shufps(v.as<x86::Xmm>(), v.as<x86::Xmm>(), 0);
        }
        put_back(depth);
    }

    // "+ - * /" on the values at DEPTH and DEPTH + 1, lane by lane; the
    // result at DEPTH.
    void basic(int32_t op, size_t depth) {
        fetch(depth);
        const x86::Vec l = work(depth);
        const size_t r = depth + 1;
        const InstId id = avx_ ? (op == OP_ADD   ? x86::Inst::kIdVaddps
                                  : op == OP_SUB ? x86::Inst::kIdVsubps
                                  : op == OP_MUL ? x86::Inst::kIdVmulps
                                                 : x86::Inst::kIdVdivps)
                               : (op == OP_ADD   ? x86::Inst::kIdAddps
                                  : op == OP_SUB ? x86::Inst::kIdSubps
                                  : op == OP_MUL ? x86::Inst::kIdMulps
                                                 : x86::Inst::kIdDivps);
        if (avx_) {
            if (in_register(r))
                a_.emit(id, l, l, reg(r));
            else
                a_.emit(id, l, l, slot(r));
        } else {
            if (in_register(r))
                a_.emit(id, l, reg(r));
            else
                a_.emit(id, l, slot(r));
        }
        put_back(depth);
    }

    // FUNCTION, float (*)(float[, float]) of ARGS operands from DEPTH on,
    // called lane by lane with every value in its slot; the result at DEPTH.
    void call(const void *function, int args, size_t depth) {
        const size_t top = depth + static_cast<size_t>(args);
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

private:
    bool in_register(size_t depth) const { return depth < kRegisters; }
    x86::Vec reg(size_t depth) const {
        const uint32_t id = static_cast<uint32_t>(depth);
        return avx_ ? x86::Vec(x86::ymm(id)) : x86::Vec(x86::xmm(id));
    }
    x86::Mem slot(size_t depth, int32_t offset = 0) const {
        return x86::ptr(x86::rsp, static_cast<int32_t>(kSlotBytes * depth) + offset);
    }
    // The register that holds the value at DEPTH while it is worked on.
    x86::Vec work(size_t depth) const { return in_register(depth) ? reg(depth) : reg(kRegisters); }
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
};

} // namespace

bool native_bulk_avx2 = CpuInfo::host().hasFeature(CpuFeatures::X86::kAVX2);

BulkFn native_bulk_compile(const Program *p, const ColumnFeed *feeds) {
    if (p->call_count > 0 || p->max_stack > kMaxStack || p->order_count == 0 || jit_refused()) return nullptr;
    CodeHolder code;
    JitFailure failure;
    if (code.init(jit_runtime().environment()) != kErrorOk) return nullptr;
    code.setErrorHandler(&failure);
    x86::Assembler a(&code);
    VectorEmitter e(a, native_bulk_avx2);
    size_t depth = 0;
    e.loop(p->max_stack, [&] {
        for (size_t s = 0; s < p->order_count; ++s) {
            const int32_t entry = p->order[s];
            if (entry < 0) {
                const ColumnFeed &feed = feeds[-entry - 1];
                if (feed.column >= 0)
                    e.column(depth, feed.column);
                else
                    e.uniform(depth, feed.source);
                ++depth;
                continue;
            }
            const int32_t op = p->ops[entry].op;
            if (op == OP_ADD || op == OP_SUB || op == OP_MUL || op == OP_DIV) {
                depth -= 2;
                e.basic(op, depth);
            } else {
                const int args = is_binary(op) ? 2 : 1;
                depth -= static_cast<size_t>(args);
                e.call(jit_callee(op), args, depth);
            }
            ++depth;
        }
    });
    if (a.finalize() != kErrorOk || failure.failed || depth != 1) return nullptr;
    void *fn = nullptr;
    if (!jit_add(&fn, &code)) return nullptr;
    return reinterpret_cast<BulkFn>(fn);
}

void native_bulk_release(BulkFn code) {
    if (code != nullptr) jit_runtime().release(code);
}

} // namespace lp
