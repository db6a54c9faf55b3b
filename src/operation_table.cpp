// operation_table.cpp - the fourteen operations in priority order, and the node record constructors.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "operation_table.h"

#include "arena.h"
#include "lib_parse.h"
#include "memory.h"
#include "subtree.h"
#include "trace.h"

namespace lp {

OperationEntry operation[OP_COUNT];

namespace {

// One pointer per row, naming the row's expander; rows that share an expander
// still get a pointer of their own so a row can be re-pointed alone.
Expander expand_sum_func = expand_std_2op_func;
Expander expand_sub_func = expand_std_2op_func;
Expander expand_exp_func = expand_alt_2op_func; // power, "^"
Expander expand_mult_func = expand_std_2op_func;
Expander expand_div_func = expand_std_2op_func;
Expander expand_mod_func = expand_alt_2op_func;
Expander expand_cos_func = expand_1op_func;
Expander expand_sin_func = expand_1op_func;
Expander expand_atan_func = expand_1op_func;
Expander expand_tan_func = expand_1op_func;
Expander expand_nep_func = expand_1op_func; // natural exponential, "exp"
Expander expand_logn_func = expand_1op_func;
Expander expand_log2_func = expand_1op_func;
Expander expand_log10_func = expand_1op_func;

std::once_flag table_filled;

void bind_op(int32_t id, const char *name, Expander expand) {
    operation[id].id = id;
    operation[id].name = name;
    operation[id].length = std::strlen(name);
    operation[id].expand = expand;
}

void init_func_bind() {
    bind_op(OP_ADD, "+", expand_sum_func);
    bind_op(OP_SUB, "-", expand_sub_func);
    bind_op(OP_POW, "^", expand_exp_func);
    bind_op(OP_MUL, "*", expand_mult_func);
    bind_op(OP_DIV, "/", expand_div_func);
    bind_op(OP_MOD, "%", expand_mod_func);
    bind_op(OP_COS, "cos", expand_cos_func);
    bind_op(OP_SIN, "sin", expand_sin_func);
    // "tan" is bound before "atan"; each lands at its own id, and "atan" (8)
    // is searched first because "tan" occurs inside it.
    bind_op(OP_TAN, "tan", expand_tan_func);
    bind_op(OP_ATAN, "atan", expand_atan_func);
    bind_op(OP_EXP, "exp", expand_nep_func);
    bind_op(OP_LOGN, "logn", expand_logn_func);
    bind_op(OP_LOG2, "log2", expand_log2_func);
    bind_op(OP_LOG10, "log10", expand_log10_func);
}

} // namespace

// Every parser creation calls this; the table is filled once per process so
// that a handle being created never writes rows another thread is reading.
void parser_init() { std::call_once(table_filled, init_func_bind); }

namespace {

NodeData *new_record(Arena *arena, NodeData record) {
    void *block = arena != nullptr ? arena->allocate(sizeof(NodeData)) : lp_malloc(sizeof(NodeData));
    return new (block) NodeData(record);
}

} // namespace

NodeData *fill_operator_node(int32_t id, Arena *arena) {
    // The symbol is shared, not copied: no one writes a record's text.
    NodeData *data = new_record(arena, NodeData{const_cast<char *>(operation[id].name), id, CALCULATE, 0.0f});
    LP_DIAG(kTraceFine, "operator data : %s\n", data->expr);
    return data;
}

NodeData *fill_operand_node(const char *text, size_t length, Arena *arena) {
    NodeData *data = new_record(arena, NodeData{nullptr, OP_OPERAND, EXPAND, 0.0f});
    LP_DIAG(kTraceFine, "operand data : %.*s\n", static_cast<int>(length), text);
    return data;
}

void parser_bt_node_free(void *node_data) {
    auto *d = static_cast<NodeData *>(node_data);
    if (d == nullptr) return;
    if (d->op == OP_OPERAND) std::free(d->expr);
    std::free(d);
}

} // namespace lp

extern "C" const char *parser_op_symbol(int op) {
    if (op < 0 || op >= lp::OP_COUNT) return nullptr;
    lp::parser_init();
    return lp::operation[op].name;
}
