// bulk_rows.cpp - evaluating one text over many rows of variable values, a block of rows per step.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include <sched.h>
#include <unistd.h>

#include "containers/memory.h"
#include "run/block_operation.h"
#include "run/bulk_rows.h"
#include "run/lane_math.h"
#include "run/machine_code.h"
#include "run/program.h"
#include "support/check_point.h"
#include "support/checked_memory.h"
#include "support/error_log.h"
#include "tree/host_functions.h"
#include "tree/operation_kinds.h"

namespace lp {

namespace {

// Rows per block: enough for the arithmetic loops to vectorise, few enough
// that the blocks of a whole value stack stay in cache.
constexpr size_t kBlockRows = 256;
// Rows from which parser_calc_bulk compiles its tree into vector machine
// code: compiling takes 1-2 us, and saves 0.25-1 ns a row over the blocks.
constexpr size_t kNativeBulkRows = 4096;
// Bound on the block memory of very deep trees, whose stacks are long.
constexpr size_t kMaxBlockBytes = size_t{16} << 20;
// The work a thread of parser_calc_bulk is given at least, in estimated
// nanoseconds: starting and joining one costs about 100 us on a 2-core
// x86-64 machine (x+y over 262,144 rows took 54 us on one thread and 138 us
// on two), so a thread must save several times that.
constexpr double kThreadWorkNs = 500e3;
// A row's estimated cost per step: an arithmetic step in vector code (a
// square, a comparison and sqrt are one instruction there too), a lane
// kernel (2 to 3.5 ns measured on a 2-core x86-64 machine), and a routine
// or host function called one row at a time (cos(y): 11 ns a row).
constexpr double kArithmeticStepNs = 0.1, kKernelStepNs = 3.0, kCallStepNs = 10.0;

// The cores this process may run on.
size_t usable_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<size_t>(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<size_t>(online) : 1;
}

// A value on the stack: ROWS values from DATA, or one value repeated.
struct Operand {
    const float *data;
    bool vector;
};

template <class F>
void apply_binary(float *__restrict out, Operand l, Operand r, size_t n, F f) {
    if (l.vector && r.vector) {
        const float *__restrict a = l.data, *__restrict b = r.data;
        for (size_t i = 0; i < n; ++i) out[i] = f(a[i], b[i]);
    } else if (l.vector) {
        const float *__restrict a = l.data;
        const float b = *r.data;
        for (size_t i = 0; i < n; ++i) out[i] = f(a[i], b);
    } else {
        const float a = *l.data;
        const float *__restrict b = r.data;
        for (size_t i = 0; i < n; ++i) out[i] = f(a, b[i]);
    }
}

// An arithmetic operation over a block: the bare instruction over every row
// first, vector code on any processor (block_arithmetic); only when some
// row's result is a NaN is the block computed again with the evaluators'
// NaN rule (EXACT), which is the bare result wherever that is no NaN.
template <class Exact>
void apply_arithmetic(BlockOperation op, float *__restrict out, Operand l, Operand r, size_t n, Exact exact) {
    if (block_arithmetic(op, out, l.data, l.vector, r.data, r.vector, n)) apply_binary(out, l, r, n, exact);
}

// The operation over a block, element by element with the evaluators' own
// arithmetic, so every row has the bits a single evaluation gives.
void apply(const OpKind &kind, float *__restrict out, Operand l, Operand r, size_t n) {
    switch (kind.compute) {
    case Compute::ADD: apply_arithmetic(BlockOperation::ADD, out, l, r, n, float_add); return;
    case Compute::SUB: apply_arithmetic(BlockOperation::SUB, out, l, r, n, float_sub); return;
    case Compute::MUL: apply_arithmetic(BlockOperation::MUL, out, l, r, n, float_mul); return;
    case Compute::DIV: apply_arithmetic(BlockOperation::DIV, out, l, r, n, float_div); return;
    case Compute::ROUTINE:
        if (kind.arity == 2) {
            apply_binary(out, l, r, n, kind.binary);
        } else {
            const float *__restrict in = l.data;
            for (size_t i = 0; i < n; ++i) out[i] = kind.unary(in[i]);
        }
        return;
    case Compute::HOST:
    case Compute::BRANCH:
    case Compute::JUMP:
    case Compute::JOIN:
    case Compute::LOCAL:
    case Compute::SCOPE:
    case Compute::NONE: break; // the steps' own code, in BlockRun
    }
    impossible(true);
}

// A comparison over a block: 1 or +0 in each row, as its routine gives,
// in a loop the compiler makes vector code of.
void compare(int32_t op, float *__restrict out, Operand l, Operand r, size_t n) {
    switch (op) {
    case OP_LT: apply_binary(out, l, r, n, [](float a, float b) { return a < b ? 1.0f : 0.0f; }); return;
    case OP_LE: apply_binary(out, l, r, n, [](float a, float b) { return a <= b ? 1.0f : 0.0f; }); return;
    case OP_GT: apply_binary(out, l, r, n, [](float a, float b) { return a > b ? 1.0f : 0.0f; }); return;
    case OP_GE: apply_binary(out, l, r, n, [](float a, float b) { return a >= b ? 1.0f : 0.0f; }); return;
    case OP_EQ: apply_binary(out, l, r, n, [](float a, float b) { return a == b ? 1.0f : 0.0f; }); return;
    default: apply_binary(out, l, r, n, [](float a, float b) { return a != b ? 1.0f : 0.0f; }); return;
    }
}

// Inside a conditional's branch, the rows the other branch takes, which a
// kernel is given as 1: those of conditional INDEX where its condition is 0
// (in the first branch), or where it is not (in the second).
struct Discarded {
    size_t index;
    bool where_zero;
};

// A conditional's rows: the second branch's value where the condition is
// 0, else the first's (holds()); each operand a block (C, F, S true) or one
// value, so the loop is one the compiler makes vector code of.
template <bool C, bool F, bool S>
void choose_rows(float *__restrict out, const float *condition, const float *first, const float *second, size_t n) {
    for (size_t j = 0; j < n; ++j) {
        const float c = condition[C ? j : 0], f = first[F ? j : 0], s = second[S ? j : 0];
        out[j] = c == 0.0f ? s : f;
    }
}
using ChooseRows = void (*)(float *, const float *, const float *, const float *, size_t);

// The steps over one block of rows: a leaf fed from a column is that
// column's block, any other is one value; an operation over values that are
// the same in every row is computed once.
struct BlockRun {
    const Program &p;
    const ColumnFeed *feeds;
    const float *const *columns;
    size_t row, n;
    Operand *stack;
    float **blocks; // a block per level of the stack, and a spare one
    float *scalars;
    size_t levels;
    Operand *aside; // per conditional: its condition and its first branch's value
    float **aside_blocks;
    float *aside_scalars;
    float *scratch; // a block for a kernel's second operand
    // The conditionals whose branches are being computed, innermost last,
    // with the rows each branch leaves aside.
    Discarded *open;
    size_t open_count;
    // A program of many steps makes a long block: each step is a check
    // point, and once stopped the block's steps do nothing.
    CheckPoint &check;
    bool stopped = false;

    void at(size_t) {}
    void leaf(size_t depth, size_t index) {
        const ColumnFeed &feed = feeds[index];
        stack[depth] = feed.column >= 0 ? Operand{columns[feed.column] + row, true} : Operand{feed.source, false};
    }
    void op(size_t depth, const OpStep &step) {
        if (stopped || (stopped = check.pass(kNodeUnits))) return;
        const OpKind &kind = kind_of(step.op);
        switch (kind.compute) {
        case Compute::ADD:
        case Compute::SUB:
        case Compute::MUL:
        case Compute::DIV:
        case Compute::ROUTINE: operation(depth, step, kind); return;
        case Compute::HOST: call(depth, p.calls[step.call]); return;
        case Compute::BRANCH:
            set_aside(depth, 2 * static_cast<size_t>(step.branch));
            open[open_count++] = Discarded{static_cast<size_t>(step.branch), true};
            return;
        case Compute::JUMP:
            set_aside(depth, 2 * static_cast<size_t>(step.branch) + 1);
            open[open_count - 1].where_zero = false;
            return;
        case Compute::JOIN:
            choose(depth, 2 * static_cast<size_t>(step.branch));
            open_count -= 1;
            return;
        case Compute::LOCAL: copy(static_cast<size_t>(step.target), depth); return;
        case Compute::SCOPE: copy(depth + static_cast<size_t>(step.target), depth); return;
        case Compute::NONE: impossible(true); return;
        }
    }

private:
    void operation(size_t depth, const OpStep &step, const OpKind &kind) {
        const Operand l = stack[depth], r = kind.arity == 2 ? stack[depth + 1] : l;
        if (!l.vector && !r.vector) {
            const float operands[2] = {*l.data, *r.data};
            scalar(depth, compute(step.op, operands));
            return;
        }
        if (step.op == OP_SQUARE) // x * x: square_of's value, a NaN's included
            apply_arithmetic(BlockOperation::MUL, blocks[levels], l, l, n, float_mul);
        else if (step.op >= OP_LT && step.op <= OP_NE)
            compare(step.op, blocks[levels], l, r, n);
        else if (const LaneKernel lanes = kind.arity == 1 ? lane_kernel(step.op) : nullptr)
            lanes(taken_rows(l.data, blocks[levels]), blocks[levels], n, kind.unary);
        else
            apply(kind, blocks[levels], l, r, n);
        take_spare(depth);
    }
    // A pure host function, row by row, its arguments gathered in order;
    // once when they are the same in every row.
    void call(size_t depth, const CallStep &c) {
        float args[PARSER_NATIVE_MAX_ARGS];
        bool vector = false;
        for (uint32_t k = 0; k < c.count; ++k) vector |= stack[depth + k].vector;
        if (vector && c.call->lanes == LaneForm::SQRT && c.count == 1) {
            const float *__restrict in = stack[depth].data;
            float *__restrict out = blocks[levels];
            for (size_t j = 0; j < n; ++j) out[j] = std::sqrt(in[j]); // sqrtf: the same bits, in vector code
            take_spare(depth);
            return;
        }
        const int32_t same = c.count == 2 ? form_operation(c.call->lanes) : -1;
        if (vector && same >= 0) { // the math set's own comparison
            compare(same, blocks[levels], stack[depth], stack[depth + 1], n);
            take_spare(depth);
            return;
        }
        if (vector && lanes(depth, c)) return;
        for (size_t j = 0; j < (vector ? n : 1); ++j) {
            for (uint32_t k = 0; k < c.count; ++k) {
                const Operand &a = stack[depth + k];
                args[k] = a.vector ? a.data[j] : *a.data;
            }
            blocks[levels][j] = c.call->fn(c.call->ctx, args, static_cast<int>(c.count));
        }
        if (vector)
            take_spare(depth);
        else
            scalar(depth, blocks[levels][0]);
    }
    // The call's lane kernel over the block, if its function has one here.
    // An operand the same in every row is spread over the spare block,
    // which the kernel, reading its operands first, may overwrite.
    bool lanes(size_t depth, const CallStep &c) {
        const FormKernels k = form_kernels(c.call->lanes);
        float *out = blocks[levels];
        if (c.count == 1 && k.one != nullptr) {
            k.one(taken_rows(stack[depth].data, out), out, n, k.unary);
        } else if (c.count == 2 && k.two != nullptr) {
            const Operand a = stack[depth], b = stack[depth + 1];
            k.two(a.vector ? taken_rows(a.data, out) : spread(*a.data, out),
                  b.vector ? taken_rows(b.data, scratch) : spread(*b.data, scratch), out, n, k.binary);
        } else {
            return false;
        }
        take_spare(depth);
        return true;
    }
    // IN, or inside a conditional's branch whose condition differs from row
    // to row, a copy in BLOCK with 1 in the rows the branch does not take:
    // their values are never read, and 1 is inside every kernel's range, so
    // they cost no call of the scalar routine (log of the negative half of x
    // in x > 0 ? log(x) : 0).
    const float *taken_rows(const float *in, float *block) const {
        if (open_count == 0) return in;
        const Discarded &d = open[open_count - 1];
        const Operand condition = aside[2 * d.index];
        if (!condition.vector) return in;
        const float *__restrict c = condition.data, *__restrict x = in;
        float *__restrict to = block;
        // Each row's value read whatever the condition, so the loops are
        // selections the compiler makes vector code of.
        if (d.where_zero)
            for (size_t j = 0; j < n; ++j) {
                const float v = x[j];
                to[j] = c[j] == 0.0f ? 1.0f : v;
            }
        else
            for (size_t j = 0; j < n; ++j) {
                const float v = x[j];
                to[j] = c[j] == 0.0f ? v : 1.0f;
            }
        return block;
    }
    const float *spread(float value, float *block) const {
        std::fill(block, block + n, value);
        return block;
    }
    void set_aside(size_t depth, size_t k) {
        const Operand &o = stack[depth];
        if (o.vector) {
            std::memcpy(aside_blocks[k], o.data, n * sizeof(float));
            aside[k] = Operand{aside_blocks[k], true};
        } else {
            aside_scalars[k] = *o.data;
            aside[k] = Operand{&aside_scalars[k], false};
        }
    }
    // The second branch's value where the condition is 0, else the first's.
    void choose(size_t depth, size_t k) {
        const Operand condition = aside[k], first = aside[k + 1], second = stack[depth];
        if (!condition.vector && !first.vector && !second.vector) {
            scalar(depth, holds(*condition.data) ? *first.data : *second.data);
            return;
        }
        static constexpr ChooseRows kChoose[8] = {choose_rows<0, 0, 0>, choose_rows<0, 0, 1>, choose_rows<0, 1, 0>,
                                                  choose_rows<0, 1, 1>, choose_rows<1, 0, 0>, choose_rows<1, 0, 1>,
                                                  choose_rows<1, 1, 0>, choose_rows<1, 1, 1>};
        kChoose[4 * condition.vector + 2 * first.vector + second.vector](blocks[levels], condition.data, first.data,
                                                                         second.data, n);
        take_spare(depth);
    }
    // The value at FROM, copied to DEPTH: into the level's own block, so no
    // level ever reads a block another level may reuse.
    void copy(size_t from, size_t depth) {
        const Operand o = stack[from];
        if (!o.vector) {
            scalar(depth, *o.data);
            return;
        }
        std::memcpy(blocks[levels], o.data, n * sizeof(float));
        take_spare(depth);
    }
    void scalar(size_t depth, float value) {
        scalars[depth] = value;
        stack[depth] = Operand{&scalars[depth], false};
    }
    // The result, just written to the spare block, takes this level's block;
    // the old one, perhaps an operand just read, becomes the spare.
    void take_spare(size_t depth) {
        std::swap(blocks[levels], blocks[depth]);
        stack[depth] = Operand{blocks[depth], true};
    }
};

// N rows from FROM to TO. Out of line: inlined, the copy of a size known to
// be at most a block's became a string instruction that cost more than the
// library's copy (a fifth of the time outside the kernel in 2*(x+1)-cos(y)).
[[gnu::noinline]] void copy_rows(float *to, const float *from, size_t n) {
    std::memcpy(to, from, n * sizeof(float));
}

// Rows FIRST .. END-1 of the program's value, with the leaves bound to
// variables fed from their columns. Stops at a check point of CHECK, in the
// middle of a block; returns the first row not done.
size_t run_blocks(const Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                  float *out, CheckPoint &check) {
    // Blocks: the stack's levels, the spare, the conditionals' and the scratch.
    const size_t levels = p->max_stack + 1, asides = 2 * p->branch_count, count = levels + 2 + asides;
    const size_t rows = std::max<size_t>(1, std::min(kBlockRows, kMaxBlockBytes / (count * sizeof(float))));
    float *memory = static_cast<float *>(lp_malloc(count * rows * sizeof(float)));
    auto **blocks = static_cast<float **>(lp_malloc(count * sizeof(float *)));
    for (size_t k = 0; k < count; ++k) blocks[k] = memory + k * rows;
    float *scalars = static_cast<float *>(lp_malloc((levels + asides) * sizeof(float)));
    auto *stack = static_cast<Operand *>(lp_malloc((levels + asides) * sizeof(Operand)));
    auto *open = static_cast<Discarded *>(lp_malloc((p->branch_count + 1) * sizeof(Discarded)));

    size_t row = first;
    for (; row < end && !check.pass(kNodeUnits); row += rows) {
        const size_t n = std::min(rows, end - row);
        BlockRun run{*p,     feeds,  columns, row,   n, stack, blocks, scalars, levels, stack + levels, blocks + levels + 1,
                     scalars + levels, blocks[count - 1], open, 0, check};
        for_each_step(*p, run);
        if (run.stopped) break;
        const Operand result = stack[0];
        if (result.vector)
            copy_rows(out + row, result.data, n);
        else
            std::fill(out + row, out + row + n, *result.data);
    }
    std::free(open);
    std::free(stack);
    std::free(scalars);
    std::free(blocks);
    std::free(memory);
    return std::min(row, end);
}

// Rows FIRST .. END-1 of a program of STEPS steps in vector machine code, in
// slices of about the same work whatever the program's size, a check point
// between two; returns the first row not done.
size_t run_native(BulkFn code, size_t steps, const float *const *columns, size_t first, size_t end, float *out,
                  CheckPoint &check) {
    constexpr size_t kSliceWork = size_t{1} << 22; // rows times steps: a few milliseconds
    const size_t kSliceRows = std::max<size_t>(64, kSliceWork / std::max<size_t>(1, steps) / 64 * 64);
    size_t row = first;
    while (row < end && !check.pass(kCheckStride)) {
        const size_t stop = end - row > kSliceRows ? row + kSliceRows : end;
        const size_t reached = code(columns, row, stop, out);
        if (reached < stop) return reached; // fewer rows than a vector are left
        row = stop;
    }
    return row;
}

} // namespace

bool calls_impure(const Program &p) {
    for (size_t k = 0; k < p.call_count; ++k)
        if (!p.calls[k].call->pure) return true;
    return false;
}

bool calls_only_thread_safe(const Program &p) {
    for (size_t k = 0; k < p.call_count; ++k)
        if (!p.calls[k].call->thread_safe) return false;
    return true;
}

// True when blocks compute the program's rows faster than vector code: it
// calls a lane kernel, which a block calls once for 256 rows, where vector
// code would call the scalar routine lane by lane.
bool blocks_are_faster(const Program &p) {
    for (size_t k = 0; k < p.op_count; ++k)
        if (kind_of(p.ops[k].op).arity == 1 && lane_kernel(p.ops[k].op) != nullptr) return true;
    for (size_t k = 0; k < p.call_count; ++k) {
        const FormKernels lanes = form_kernels(p.calls[k].call->lanes);
        if (lanes.one != nullptr || lanes.two != nullptr) return true;
    }
    return false;
}

size_t run_rows(Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                float *out, CheckPoint &check, bool native_code) {
    size_t row = first;
    // Stopped already, the feeds may be half filled: no code is made for them.
    if (end - first >= kNativeBulkRows && native_code && !check.stopped() && !blocks_are_faster(*p)) {
        const BulkFn code = program_bulk_kernel(p, feeds);
        if (code != nullptr) row = run_native(code, p->order_count, columns, row, end, out, check);
        if (check.stopped()) return row;
    }
    return run_blocks(p, feeds, columns, row, end, out, check);
}

// STEP's estimated cost per row.
double step_ns(const Program &p, const OpStep &step) {
    const OpKind &kind = kind_of(step.op);
    if (kind.compute == Compute::ROUTINE) {
        if (step.op == OP_SQUARE || (step.op >= OP_LT && step.op <= OP_NE)) return kArithmeticStepNs;
        return kind.arity == 1 && lane_kernel(step.op) != nullptr ? kKernelStepNs : kCallStepNs;
    }
    if (kind.compute != Compute::HOST) return kArithmeticStepNs;
    const LaneForm form = p.calls[step.call].call->lanes;
    if (form == LaneForm::SQRT) return kArithmeticStepNs;
    const FormKernels k = form_kernels(form);
    return k.one != nullptr || k.two != nullptr ? kKernelStepNs : kCallStepNs;
}

size_t threads_for_rows(const Program &p, size_t threads, size_t rows) {
    if (threads == 0) threads = std::max<size_t>(1, usable_cores());
    double row_ns = 0.0;
    for (size_t k = 0; k < p.op_count; ++k) row_ns += step_ns(p, p.ops[k]);
    const double useful = static_cast<double>(rows) * row_ns / kThreadWorkNs;
    return useful < 2.0 ? 1 : std::min(threads, useful >= 256.0 ? size_t{256} : static_cast<size_t>(useful));
}

size_t run_rows_spread(Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                       float *out, CallState *call, bool native_code, size_t threads) {
    // The vector code is made here, once: the threads only run it.
    const BulkFn code = end - first >= kNativeBulkRows && native_code && !blocks_are_faster(*p)
                            ? program_bulk_kernel(p, feeds)
                            : nullptr;
    const size_t count = std::max<size_t>(1, threads);
    // Parts of whole vectors; the last takes what is left.
    const size_t share = (end - first) / count / 64 * 64;
    std::vector<size_t, Checked<size_t>> reached(count, 0);
    const auto part_of = [&](size_t k) {
        const size_t from = first + k * share;
        return std::pair<size_t, size_t>{from, k + 1 == count ? end : from + share};
    };
    const auto run_part = [&](size_t k) {
        CheckPoint check(call); // each thread its own count; the flag is the call's
        const auto [from, to] = part_of(k);
        size_t row = from;
        if (code != nullptr) row = run_native(code, p->order_count, columns, row, to, out, check);
        if (!check.stopped()) row = run_blocks(p, feeds, columns, row, to, out, check);
        reached[k] = row;
    };
    std::vector<std::thread, Checked<std::thread>> workers;
    workers.reserve(count - 1);
    size_t started = 1;
    for (; started < count; ++started) {
        try {
            workers.emplace_back(run_part, started);
        } catch (const std::system_error &) {
            break; // no thread to be had: the calling thread does the rest
        }
    }
    run_part(0);
    for (size_t k = started; k < count; ++k) run_part(k);
    for (std::thread &worker : workers) worker.join();
    // The rows before the first part left unfinished are done.
    for (size_t k = 0; k < count; ++k)
        if (reached[k] < part_of(k).second) return reached[k];
    return end;
}

} // namespace lp

