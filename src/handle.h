// handle.h - the parser handle and the records it owns.
#ifndef LIB_PARSE_HANDLE_H
#define LIB_PARSE_HANDLE_H

#include <cstddef>
#include <cstdint>

#include "containers.h"
#include "lib_parse.h"
#include "name_trie.h"
#include "parse_limits.h"
#include "report.h"
#include "variables.h"

// The handle's records are plain structs at global scope, as lib_parse.h
// declares `struct Parser`; everything else lives in namespace lp.

struct ExprCache {
    char *last;    // copy of the text last given to parser_calc, or null
    uint8_t dirty; // 1: rebuild the tree at the next parser_calc
    size_t length; // strlen(last): bounds the comparison with a repeated text
};

struct UserFunction {
    char *proto; // name and parameter list, "g(a,b)"
    char *body;
};

namespace lp {
class Arena;
struct ExpandScratch;
struct HostTable;
struct Program;
}

struct Parser {
    List *vars;     // of Variable*, newest first
    List *funcs;    // of UserFunction copies, newest first
    lp::HostTable *hosts; // host functions by name (host.h)
    TreeNode *tree; // root; every node's data is a NodeData
    lp::Arena *arena; // the tree's nodes, records and texts
    lp::ExpandScratch *scratch; // memory the next expansion reuses
    ExprCache *cache;
    lp::ErrorLog errors;
    lp::Program *program; // the tree flattened for evaluation, or null (program.h)
    uint64_t generation;  // counts variables added; a program binds names again when it moves
    lp::VarIndex var_index;
    lp::Limits limits;
    // Last: the fields the calls of a host's loop read stay together above.
    lp::NameTrie func_index; // funcs by name: the newest whose name begins a call
};

namespace lp {

void parser_var_free(void *variable);
void parser_func_free(void *function);

// The name of the variable that the operand text OPERAND reads, or null: for
// tools that explain a tree.
const char *variable_read_by(const Parser *parser, const char *operand);

} // namespace lp

#endif // LIB_PARSE_HANDLE_H
