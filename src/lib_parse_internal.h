// lib_parse_internal.h - records and internal routines of lib_parse, shared by its sources and tests.
#ifndef LIB_PARSE_INTERNAL_H
#define LIB_PARSE_INTERNAL_H

#include <cstdint>
#include <cstring>

#include "containers.h"
#include "lib_parse.h"

// The handle's records are plain C structs at global scope, as lib_parse.h
// declares `struct Parser`; everything else lives in namespace lp.

struct ExprCache {
    char *last;    // copy of the text last given to parser_calc, or null
    uint8_t dirty; // 1: rebuild the tree at the next parser_calc
    size_t length; // strlen(last): bounds the comparison with a repeated text
};

// Never moved or freed before parser_destroy: parser_var_ref hands out &value.
struct Variable {
    char *name;
    float value;
};

struct UserFunction {
    char *proto; // name and parameter list, "g(a,b)"
    char *body;
};

namespace lp {

// Errors reported while the current tree was built.
struct ErrorLog {
    int count = 0;
    int first_code = 0;
};

struct Program;

struct VarEntry;
// The variables by exact name (var_index.h).
struct VarIndex {
    VarEntry *entries;
    size_t count;
    size_t capacity;
};

} // namespace lp

struct Parser {
    List *vars;     // of Variable*, newest first
    List *funcs;    // of UserFunction copies, newest first
    TreeNode *tree; // root; every node's data is a NodeData
    ExprCache *cache;
    lp::ErrorLog errors;
    lp::Program *program; // the tree flattened for evaluation, or null (program.h)
    uint64_t generation;  // counts variables added; a program binds names again when it moves
    lp::VarIndex var_index;
};

namespace lp {

// ---- operation table and node records ----

enum NodeState : int32_t { EXPAND = 0, CALCULATE = 1, DONE = 2 };

constexpr int32_t OP_COUNT = 14;
constexpr int32_t OP_OPERAND = 14;

enum OperationId : int32_t {
    OP_ADD = 0, OP_SUB, OP_POW, OP_MUL, OP_DIV, OP_MOD,
    OP_COS, OP_SIN, OP_ATAN, OP_TAN, OP_EXP, OP_LOGN, OP_LOG2, OP_LOG10,
};

struct NodeData {
    char *expr;    // owned: operand text, or a copy of the operator's symbol
    int32_t op;    // operation id 0..13, or OP_OPERAND
    int32_t state; // NodeState
    float value;   // last computed value
};

struct OperationEntry;
// Builds the subtree of one split: given its own row, the fresh node array and
// the operand texts, returns the subtree's root (element 0 of the array).
using Expander = TreeNode *(*)(const OperationEntry *row, TreeNode **nodes, List *operands);

struct OperationEntry {
    int32_t id;
    const char *name; // the symbol searched for in texts
    Expander expand;
};

// The fourteen rows in priority order, filled by parser_init.
extern OperationEntry operation[OP_COUNT];

void parser_init();
void init_func_bind();
void bind_op(int32_t id, const char *name, Expander expand);

NodeData *fill_operator_node(int32_t id);
NodeData *fill_operand_node(char *text);

// ---- release routines of the handle's records ----

void parser_var_free(void *variable);
void parser_func_free(void *function);
void parser_bt_node_free(void *node_data);

// ---- bracket and operator location ----

int32_t lngth(const char *text);
List *find(const char *token, const char *text, List *list);
List *find_extern_brakets(TreeNode *node, uint8_t *error);
List *find_extern_highest_prio_op(List *brackets, const char *text, int32_t *op_id, uint8_t *error);

// ---- subtree generation ----

TreeNode *generate_subtree(TreeNode *node, List *positions, int32_t id);
// Runs row ID's expander over fresh nodes for POSITIONS occurrences and the
// operand list, releases the nodes it left unused and returns its root. The
// operand list and what it still holds stay the caller's.
TreeNode *run_expander(int32_t id, size_t positions, List *operands);
TreeNode *expand_std_2op_func(const OperationEntry *row, TreeNode **nodes, List *operands);
TreeNode *expand_alt_2op_func(const OperationEntry *row, TreeNode **nodes, List *operands);
TreeNode *expand_1op_func(const OperationEntry *row, TreeNode **nodes, List *operands);

// ---- user function substitution ----

enum class SubstituteStatus { OK, NO_FUNCTION, TOO_LARGE };

// The call text with the chosen function's body substituted, malloc'd, or null
// when no function is chosen or the work exceeds kMaxSubstitutedBytes.
char *parser_func_replace(const char *expr, List *funcs);
// The same with a budget: *BUDGET is how many bytes the passes over the body
// may write in all, and is reduced by what they wrote; STATUS says why null
// was returned.
char *substitute_call(const char *expr, List *funcs, size_t *budget, SubstituteStatus *status);

// ---- expansion ----

TreeNode *expand_tree(List *funcs, TreeNode *node);
// The same tree for a root holding a whole text, built without the per-node
// texts that only diagnostics show: for use when levels 6 to 8 are not
// emitted. Linear in the text where expand_tree is not (expand_quiet.cpp).
TreeNode *expand_text_quiet(List *funcs, TreeNode *root);

// ---- evaluation ----

void parser_clean(TreeNode *node);
float parser_bt_calc(TreeNode *node, List *vars);
void parser_assign_var(NodeData *data, List *vars);
// The operand text read as a number: blanks, optional sign, the longest
// decimal prefix, rounded to float; 0 when there is none. Locale-independent.
float read_number(const char *text);
// True when the operand text is a name (any byte above 'A').
bool is_name(const char *text);

// ---- texts ----

// True when two texts are equal. Names and short texts end within the first
// bytes, where a plain loop beats a library call; longer ones go on there.
inline bool same_text(const char *a, const char *b) {
    for (int i = 0; i < 32; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == 0) return true;
    }
    return std::strcmp(a + 32, b + 32) == 0;
}

// ---- error reporting ----

// Reports CODE through exception() and records it in the log of the
// expansion running on this thread, if any.
void report_error(int line, int code);
// Makes LOG the destination of report_error on this thread until the scope ends.
class ErrorScope {
public:
    explicit ErrorScope(ErrorLog *log);
    ~ErrorScope();
    ErrorScope(const ErrorScope &) = delete;
    ErrorScope &operator=(const ErrorScope &) = delete;

private:
    ErrorLog *previous_;
};

} // namespace lp

// Emits one diagnostic as the three-call pattern: timestamp, location, message.
#define LP_DIAG(level, ...)                                                  \
    do {                                                                     \
        if (dbg_istimestamp()) dbg_time_print(level);                        \
        if (dbg_islocalized()) dbg_loc_print(level, "lib_parse", __LINE__); \
        dbg_data_print(level, __VA_ARGS__);                                  \
    } while (0)

#define LP_REPORT(code) ::lp::report_error(__LINE__, code)

#endif // LIB_PARSE_INTERNAL_H
