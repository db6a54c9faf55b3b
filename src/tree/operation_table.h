// operation_table.h - the fourteen operations in priority order, and the records of tree nodes.
#ifndef LIB_PARSE_OPERATION_TABLE_H
#define LIB_PARSE_OPERATION_TABLE_H

#include <cstddef>
#include <cstdint>

#include "containers/containers.h"

namespace lp {

enum NodeState : int32_t { EXPAND = 0, CALCULATE = 1, DONE = 2 };

constexpr int32_t OP_COUNT = 14;
constexpr int32_t OP_OPERAND = 14;
// A host function's call (its record is a CallData, host_functions.h), and the links
// of the chain that holds its arguments: each link's left is an argument's
// subtree, its right the next link. parser_walk shows no link.
constexpr int32_t OP_CALL = 15;
constexpr int32_t OP_ARG = 16;

enum OperationId : int32_t {
    OP_ADD = 0, OP_SUB, OP_POW, OP_MUL, OP_DIV, OP_MOD,
    OP_COS, OP_SIN, OP_ATAN, OP_TAN, OP_EXP, OP_LOGN, OP_LOG2, OP_LOG10,
};

// Sixteen bytes: a large text has one per node, so its size is much of
// the tree's.
struct NodeData {
    char *expr;    // operand text, or the operation table's symbol (never written)
    int16_t op;    // operation id 0..13, or OP_OPERAND, or a kind of operation_kinds.h
    int16_t state; // NodeState
    float value;   // last computed value
};
static_assert(sizeof(void *) != 8 || sizeof(NodeData) == 16, "a node's record stays sixteen bytes");

// The records of the standard grammar's nodes, read as a NodeData
// everywhere (each begins with one).
// A number, read when the text was parsed: its value.
struct NumberData {
    NodeData data;
    float number;
};
// A user function's call: its parameters' count; while the tree is
// flattened, the depth of the value stack its first argument lands at.
struct FunctionData {
    NodeData data;
    int32_t n_params;
    int32_t base;
};
// A parameter of FUNCTION: its INDEX among the function's parameters.
struct ParamData {
    NodeData data;
    FunctionData *function;
    int32_t index;
};

// How the defined grammar lays out the subtree of a chain of one operation:
// a balanced tree ("a+b+c+d"), a left-deep chain ("a^b^c" is ((a^b)^c)), or a
// function of the text after its name.
enum class Layout : int32_t { BALANCED, LEFT_DEEP, FUNCTION };

struct OperationEntry {
    int32_t id;
    const char *name; // the symbol searched for in texts
    size_t length;    // strlen(name)
    Layout layout;
};

// The fourteen rows in priority order, filled by parser_init.
extern OperationEntry operation[OP_COUNT];

void parser_init();

} // namespace lp

#endif // LIB_PARSE_OPERATION_TABLE_H
