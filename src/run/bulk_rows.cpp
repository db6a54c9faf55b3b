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
// A row's estimated cost per step: an arithmetic step in vector code, and a
// routine or host function, called one row at a time.
constexpr double kArithmeticStepNs = 0.1, kCallStepNs = 10.0; // cos(y) over 131,072 rows: 1.5 ms

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
// first, a loop the compiler makes vector code of on any processor; only
// when some row's result is a NaN is the block computed again with the
// evaluators' NaN rule (EXACT), which is the bare result wherever that is
// no NaN.
template <class Bare, class Exact>
void apply_arithmetic(float *__restrict out, Operand l, Operand r, size_t n, Bare bare, Exact exact) {
    int nan = 0;
    if (l.vector && r.vector) {
        const float *__restrict a = l.data, *__restrict b = r.data;
        for (size_t i = 0; i < n; ++i) {
            const float v = bare(a[i], b[i]);
            out[i] = v;
            nan |= v != v;
        }
    } else if (l.vector) {
        const float *__restrict a = l.data;
        const float b = *r.data;
        for (size_t i = 0; i < n; ++i) {
            const float v = bare(a[i], b);
            out[i] = v;
            nan |= v != v;
        }
    } else {
        const float a = *l.data;
        const float *__restrict b = r.data;
        for (size_t i = 0; i < n; ++i) {
            const float v = bare(a, b[i]);
            out[i] = v;
            nan |= v != v;
        }
    }
    if (nan != 0) apply_binary(out, l, r, n, exact);
}

// The operation over a block, element by element with the evaluators' own
// arithmetic, so every row has the bits a single evaluation gives.
void apply(const OpKind &kind, float *__restrict out, Operand l, Operand r, size_t n) {
    switch (kind.compute) {
    case Compute::ADD: apply_arithmetic(out, l, r, n, [](float a, float b) { return a + b; }, float_add); return;
    case Compute::SUB: apply_arithmetic(out, l, r, n, [](float a, float b) { return a - b; }, float_sub); return;
    case Compute::MUL: apply_arithmetic(out, l, r, n, [](float a, float b) { return a * b; }, float_mul); return;
    case Compute::DIV: apply_arithmetic(out, l, r, n, [](float a, float b) { return a / b; }, float_div); return;
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
        case Compute::BRANCH: set_aside(depth, 2 * static_cast<size_t>(step.branch)); return;
        case Compute::JUMP: set_aside(depth, 2 * static_cast<size_t>(step.branch) + 1); return;
        case Compute::JOIN: choose(depth, 2 * static_cast<size_t>(step.branch)); return;
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
            apply_arithmetic(blocks[levels], l, l, n, [](float a, float b) { return a * b; }, float_mul);
        else if (const LaneKernel lanes = kind.arity == 1 ? lane_kernel(step.op) : nullptr)
            lanes(l.data, blocks[levels], n, kind.unary);
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
        float *out = blocks[levels];
        for (size_t j = 0; j < n; ++j) {
            const float c = condition.vector ? condition.data[j] : *condition.data;
            out[j] = holds(c) ? (first.vector ? first.data[j] : *first.data) : (second.vector ? second.data[j] : *second.data);
        }
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

// Rows FIRST .. END-1 of the program's value, with the leaves bound to
// variables fed from their columns. Stops at a check point of CHECK, in the
// middle of a block; returns the first row not done.
size_t run_blocks(const Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                  float *out, CheckPoint &check) {
    const size_t levels = p->max_stack + 1, asides = 2 * p->branch_count;
    const size_t rows = std::max<size_t>(1, std::min(kBlockRows, kMaxBlockBytes / ((levels + 1 + asides) * sizeof(float))));
    float *memory = static_cast<float *>(lp_malloc((levels + 1 + asides) * rows * sizeof(float)));
    auto **blocks = static_cast<float **>(lp_malloc((levels + 1 + asides) * sizeof(float *)));
    for (size_t k = 0; k <= levels + asides; ++k) blocks[k] = memory + k * rows;
    float *scalars = static_cast<float *>(lp_malloc((levels + asides) * sizeof(float)));
    auto *stack = static_cast<Operand *>(lp_malloc((levels + asides) * sizeof(Operand)));

    size_t row = first;
    for (; row < end && !check.pass(kNodeUnits); row += rows) {
        const size_t n = std::min(rows, end - row);
        BlockRun run{*p,   feeds, columns,          row, n, stack, blocks, scalars, levels, stack + levels,
                     blocks + levels + 1, scalars + levels, check};
        for_each_step(*p, run);
        if (run.stopped) break;
        const Operand result = stack[0];
        if (result.vector)
            std::memcpy(out + row, result.data, n * sizeof(float));
        else
            std::fill(out + row, out + row + n, *result.data);
    }
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
// calls a lane kernel, which a block calls once for 256 rows and vector
// code once for each vector of 8 (its lanes stored and loaded around it).
// Not with a conditional: vector code gives a kernel only the lanes its
// branch takes, a block every row.
bool blocks_are_faster(const Program &p) {
    if (p.branch_count != 0) return false;
    for (size_t k = 0; k < p.op_count; ++k)
        if (kind_of(p.ops[k].op).arity == 1 && lane_kernel(p.ops[k].op) != nullptr) return true;
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

size_t threads_for_rows(const Program &p, size_t threads, size_t rows) {
    if (threads == 0) threads = std::max<size_t>(1, usable_cores());
    double row_ns = 0.0;
    for (size_t k = 0; k < p.op_count; ++k) {
        const Compute c = kind_of(p.ops[k].op).compute;
        row_ns += c == Compute::ROUTINE || c == Compute::HOST ? kCallStepNs : kArithmeticStepNs;
    }
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

