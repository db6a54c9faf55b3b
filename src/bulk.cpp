// bulk.cpp - evaluating one text over many rows of variable values, a block of rows per step.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "arithmetic.h"
#include "boundary.h"
#include "handle.h"
#include "memory.h"
#include "native.h"
#include "program.h"

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

// The operation over a block, element by element with the evaluator's own
// arithmetic, so every row has the bits a single evaluation gives.
void apply(int32_t op, float *__restrict out, Operand l, Operand r, size_t n) {
    switch (op) {
    case OP_ADD: apply_binary(out, l, r, n, [](float a, float b) { return a + b; }); return;
    case OP_SUB: apply_binary(out, l, r, n, [](float a, float b) { return a - b; }); return;
    case OP_MUL: apply_binary(out, l, r, n, [](float a, float b) { return a * b; }); return;
    case OP_DIV: apply_binary(out, l, r, n, [](float a, float b) { return a / b; }); return;
    case OP_POW: apply_binary(out, l, r, n, pow_of); return;
    case OP_MOD: apply_binary(out, l, r, n, remainder_of); return;
    default: break;
    }
    // A function: one loop per operation, so no row goes through the switch.
    const float *__restrict in = r.data;
    auto each = [&](auto f) {
        for (size_t i = 0; i < n; ++i) out[i] = f(in[i]);
    };
    switch (op) {
    case OP_COS: each([](float v) { return function_of(OP_COS, v); }); return;
    case OP_SIN: each([](float v) { return function_of(OP_SIN, v); }); return;
    case OP_ATAN: each([](float v) { return function_of(OP_ATAN, v); }); return;
    case OP_TAN: each([](float v) { return function_of(OP_TAN, v); }); return;
    case OP_EXP: each([](float v) { return function_of(OP_EXP, v); }); return;
    case OP_LOGN: each([](float v) { return function_of(OP_LOGN, v); }); return;
    case OP_LOG2: each([](float v) { return function_of(OP_LOG2, v); }); return;
    default: each([](float v) { return function_of(OP_LOG10, v); }); return;
    }
}

// Rows FIRST .. END-1 of the program's value, with the leaves bound to
// variables fed from their columns.
void run_blocks(const Program *p, const ColumnFeed *feeds, const float *const *columns, size_t first, size_t end,
                float *out) {
    const size_t levels = p->max_stack + 1;
    const size_t rows = std::max<size_t>(1, std::min(kBlockRows, kMaxBlockBytes / (levels * sizeof(float))));
    float *memory = static_cast<float *>(lp_malloc((levels + 1) * rows * sizeof(float)));
    auto **blocks = static_cast<float **>(lp_malloc((levels + 1) * sizeof(float *)));
    for (size_t k = 0; k <= levels; ++k) blocks[k] = memory + k * rows;
    float *scalars = static_cast<float *>(lp_malloc(levels * sizeof(float)));
    auto *stack = static_cast<Operand *>(lp_malloc(levels * sizeof(Operand)));
    float *&spare = blocks[levels];

    for (size_t row = first; row < end; row += rows) {
        const size_t n = std::min(rows, end - row);
        size_t top = 0;
        for (size_t s = 0; s < p->order_count; ++s) {
            const int32_t entry = p->order[s];
            if (entry < 0) {
                const ColumnFeed &feed = feeds[-entry - 1];
                stack[top++] = feed.column >= 0 ? Operand{columns[feed.column] + row, true} : Operand{feed.source, false};
                continue;
            }
            const OpStep &step = p->ops[entry];
            const bool binary = step.op <= OP_MOD;
            const Operand r = stack[--top];
            const Operand l = binary ? stack[--top] : Operand{nullptr, false};
            if (!r.vector && (!binary || !l.vector)) {
                // Both operands are the same in every row: so is the result.
                scalars[top] = binary ? binary_of(step.op, *l.data, *r.data) : function_of(step.op, *r.data);
                stack[top] = Operand{&scalars[top], false};
                ++top;
                continue;
            }
            Operand rv = r;
            if (!binary) rv.vector = true;
            apply(step.op, spare, l, rv, n);
            // The result takes this level's block; the old one, perhaps an
            // operand just read, becomes the spare.
            std::swap(spare, blocks[top]);
            stack[top] = Operand{blocks[top], true};
            ++top;
        }
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
}

} // namespace

} // namespace lp

using namespace lp;

extern "C" int parser_calc_bulk(Parser *parser, const char *text, const char *const *names,
                                const float *const *columns, size_t n_vars, size_t n_rows, float *out) try {
    if (parser == nullptr || text == nullptr) return 1;
    if (n_vars > 0 && (names == nullptr || (n_rows > 0 && columns == nullptr))) return 1;
    for (size_t j = 0; j < n_vars; ++j)
        if (names[j] == nullptr || (n_rows > 0 && columns[j] == nullptr)) return 1;
    if (n_rows > 0 && out == nullptr) return 1;

    auto one_row = [&](size_t i) {
        for (size_t j = 0; j < n_vars; ++j) parser_var(parser, names[j], columns[j][i]);
        out[i] = parser_calc(parser, text);
    };
    if (n_rows == 0) return 0;
    // The first row defines every variable and builds the tree; from then on
    // a row changes values only, so the rows in between depend on the columns
    // alone. The last row runs as a single evaluation, leaving the tree's
    // records as the row-by-row loop would.
    one_row(0);
    Program *p = parser->program;
    // A host function is called once per row, rows in order: such a tree
    // goes row by row.
    if (n_rows > 2 && p != nullptr && p->root == parser->tree && p->call_count == 0) {
        auto *feeds = static_cast<ColumnFeed *>(lp_malloc(std::max<size_t>(1, p->leaf_count) * sizeof(ColumnFeed)));
        for (size_t i = 0; i < p->leaf_count; ++i) feeds[i] = ColumnFeed{p->leaves[i].source, -1};
        // A later name of the same variable wins, as its parser_var comes later.
        for (size_t j = 0; j < n_vars; ++j) {
            const Variable *v = var_index_find(&parser->var_index, names[j]);
            for (size_t i = 0; i < p->leaf_count; ++i)
                if (v != nullptr && p->leaves[i].source == &v->value) feeds[i].column = static_cast<long>(j);
        }
        size_t first = 1;
        if (n_rows - 2 >= kNativeBulkRows && parser->limits.native_code()) {
            const BulkFn code = native_bulk_compile(p, feeds);
            if (code != nullptr) first = code(columns, first, n_rows - 1, out);
            native_bulk_release(code);
        }
        run_blocks(p, feeds, columns, first, n_rows - 1, out);
        std::free(feeds);
        one_row(n_rows - 1);
        return 0;
    }
    for (size_t i = 1; i < n_rows; ++i) one_row(i);
    return 0;
} catch (...) {
    lp::abort_on_exception();
}
