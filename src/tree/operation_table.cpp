// operation_table.cpp - the fourteen operations in priority order.
#include <atomic>
#include <cstring>
#include <mutex>

#include "tree/operation_table.h"

#include "lib_parse.h"
#include "tree/operation_kinds.h"

namespace lp {

OperationEntry operation[OP_COUNT];

namespace {

std::once_flag table_filled;
// Set once the table is filled: every expansion asks, and a load is what
// the answer costs then, not a call through the once flag.
std::atomic<bool> table_ready{false};

void bind_op(int32_t id, const char *name, Layout layout) {
    operation[id].id = id;
    operation[id].name = name;
    operation[id].length = std::strlen(name);
    operation[id].layout = layout;
}

// Chains of "+" "-" "*" "/" are balanced trees, of "^" "%" left-deep ones;
// a function takes one operand.
void init_func_bind() {
    bind_op(OP_ADD, "+", Layout::BALANCED);
    bind_op(OP_SUB, "-", Layout::BALANCED);
    bind_op(OP_POW, "^", Layout::LEFT_DEEP);
    bind_op(OP_MUL, "*", Layout::BALANCED);
    bind_op(OP_DIV, "/", Layout::BALANCED);
    bind_op(OP_MOD, "%", Layout::LEFT_DEEP);
    bind_op(OP_COS, "cos", Layout::FUNCTION);
    bind_op(OP_SIN, "sin", Layout::FUNCTION);
    // "tan" is bound before "atan"; each lands at its own id, and "atan" (8)
    // is searched first because "tan" occurs inside it.
    bind_op(OP_TAN, "tan", Layout::FUNCTION);
    bind_op(OP_ATAN, "atan", Layout::FUNCTION);
    bind_op(OP_EXP, "exp", Layout::FUNCTION);
    bind_op(OP_LOGN, "logn", Layout::FUNCTION);
    bind_op(OP_LOG2, "log2", Layout::FUNCTION);
    bind_op(OP_LOG10, "log10", Layout::FUNCTION);
}

} // namespace

// Every parser creation calls this; the table is filled once per process so
// that a handle being created never writes rows another thread is reading.
void parser_init() {
    if (table_ready.load(std::memory_order_acquire)) return;
    std::call_once(table_filled, [] {
        init_func_bind();
        table_ready.store(true, std::memory_order_release);
    });
}

} // namespace lp

extern "C" const char *parser_op_symbol(int op) noexcept {
    if (op >= lp::OP_NEG && op < lp::OP_FUNCTION) return lp::kind_of(op).name;
    if (op < 0 || op >= lp::OP_COUNT) return nullptr;
    lp::parser_init();
    return lp::operation[op].name;
}
