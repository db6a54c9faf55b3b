// handle.h - the parser handle and the records it owns.
#ifndef LIB_PARSE_HANDLE_H
#define LIB_PARSE_HANDLE_H

#include <cstddef>
#include <cstdint>

#include "containers/containers.h"
#include "lib_parse.h"
#include "support/call_guard.h"
#include "support/error_log.h"
#include "support/name_trie.h"
#include "support/parse_limits.h"
#include "support/variables.h"

// The handle's records are plain structs at global scope, as lib_parse.h
// declares `struct Parser`; everything else lives in namespace lp.

struct ExprCache {
    char *last;    // copy of the text last given to parser_calc, or null
    uint8_t dirty; // 1: rebuild the tree at the next parser_calc
    size_t length; // strlen(last): bounds the comparison with a repeated text
    size_t capacity; // bytes allocated at last
};

struct UserFunction {
    char *proto; // name and parameter list, "g(a,b)"
    char *body;
    size_t body_length; // strlen(body): a call refused by the limits never measures it
    int syntax;         // the grammar it was defined under, which reads its prototype and body
    int32_t n_params;   // the standard grammar's: its parameters, which a call's arguments must match
    size_t name_from, name_length; // its name in proto
};

namespace lp {
class Arena;
struct ExpandScratch;
struct NodeOrder;
class HostTable;
struct Program;
}

struct Parser {
    // The current tree's machine code while nothing it depends on has
    // changed (text, definitions, variables added, limits, a call running),
    // else null: all parser_eval has to test. First, so it is one load.
    mutable float (*fast)() noexcept;
    // The same for a tree that calls host functions: run with the handle
    // marked busy, so that a host function cannot call back into it.
    mutable float (*guarded)() noexcept;
    // The current tree's program, ready as `fast` is, when the interpreter
    // is what runs it for good (machine code off, or not to be had for it):
    // parser_eval runs its tape with nothing else to test.
    mutable lp::Program *interpreted;
    // The same for a tree that calls host functions, run with the handle busy.
    mutable lp::Program *interpreted_guarded;
    // The current tree's program, ready as `fast` is, while the interpreter
    // runs it until it is compiled (a tree without host calls): its runs
    // are counted on the way.
    mutable lp::Program *warming;
    // True while a call that can reach a host callback runs on the handle:
    // calls from the callback into the handle are refused meanwhile.
    mutable bool busy;
    ExprCache *cache;     // the text of the current tree
    lp::VarIndex var_index; // what parser_var looks names up in
    List *vars;     // of Variable*, newest first
    List *funcs;    // of UserFunction copies, newest first
    List *removed_funcs; // of UserFunction copies removed: the name trie's labels may lie in their texts
    lp::HostTable *hosts; // host functions by name (host_table.h)
    TreeNode *tree; // root; every node's data is a NodeData
    lp::Arena *arena; // the tree's nodes, records and texts
    lp::ExpandScratch *scratch; // memory the next expansion reuses
    lp::NodeOrder *node_order;  // the standard grammar's nodes in the order made, for the program
    lp::ErrorLog errors;
    lp::Program *program; // the tree flattened for evaluation, or null (program.h)
    uint64_t generation;  // counts variables added; a program binds names again when it moves
    lp::Limits limits;
    lp::CallState call; // the call parser_interrupt may stop
    parser_error_fn on_error; // told each error entry of a tree just built, or null
    void *on_error_ctx;
    parser_unknown_fn on_unknown; // asked for names no variable has while the tree is built, or null
    void *on_unknown_ctx;
    int syntax; // PARSER_SYNTAX_*: the grammar texts are read in
    // The standard grammar's tree names a variable that did not exist: a new
    // variable rebuilds it, as the name may now read one.
    bool rebuild_on_new_variable;
    bool math; // parser_math was called: the standard grammar reads the names users type for its constants

    // Last: the fields the calls of a host's loop read stay together at the top.
    lp::NameTrie func_index; // funcs by name: the newest whose name begins a call
};

namespace lp {

// Clears them: something the tree depends on changed, or a call is running.
inline void forget_fast(const Parser *parser) {
    parser->fast = nullptr;
    parser->guarded = nullptr;
    parser->interpreted = nullptr;
    parser->interpreted_guarded = nullptr;
    parser->warming = nullptr;
}

} // namespace lp

#endif // LIB_PARSE_HANDLE_H
