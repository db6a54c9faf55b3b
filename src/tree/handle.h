// handle.h - the parser handle and the records it owns.
#ifndef LIB_PARSE_HANDLE_H
#define LIB_PARSE_HANDLE_H

#include <cstddef>
#include <cstdint>

#include "support/call_guard.h"
#include "containers/containers.h"
#include "lib_parse.h"
#include "support/name_trie.h"
#include "support/parse_limits.h"
#include "support/error_log.h"
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
struct HostTable;
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
    // True while a call that can reach a host callback runs on the handle:
    // calls from the callback into the handle are refused meanwhile.
    mutable bool busy;
    ExprCache *cache;     // the text of the current tree
    lp::VarIndex var_index; // what parser_var looks names up in
    List *vars;     // of Variable*, newest first
    List *funcs;    // of UserFunction copies, newest first
    lp::HostTable *hosts; // host functions by name (host_functions.h)
    TreeNode *tree; // root; every node's data is a NodeData
    lp::Arena *arena; // the tree's nodes, records and texts
    lp::ExpandScratch *scratch; // memory the next expansion reuses
    lp::ErrorLog errors;
    lp::Program *program; // the tree flattened for evaluation, or null (program.h)
    uint64_t generation;  // counts variables added; a program binds names again when it moves
    lp::Limits limits;
    lp::CallState call; // the call parser_interrupt may stop
    parser_error_fn on_error; // told each error entry of a tree just built, or null
    void *on_error_ctx;
    int syntax; // PARSER_SYNTAX_*: the grammar texts are read in
    // The standard grammar's tree names a variable that did not exist: a new
    // variable rebuilds it, as the name may now read one.
    bool rebuild_on_new_variable;
    // Last: the fields the calls of a host's loop read stay together at the top.
    lp::NameTrie func_index; // funcs by name: the newest whose name begins a call
};

namespace lp {

// Sets or clears Parser::fast and Parser::guarded after a change they may depend on.
void refresh_fast(const Parser *parser);
// Clears them: something the tree depends on changed, or a call is running.
inline void forget_fast(const Parser *parser) {
    parser->fast = nullptr;
    parser->guarded = nullptr;
}

// Marks a handle busy for the scope of a call that can reach a host's
// callback (an error handler, a trace sink, a host function, a visitor, a
// note callback). With INTERRUPTIBLE the call is one parser_interrupt may
// stop: it ends at its next check point. Scopes nest: the library's own
// calls inside a call keep the outer call's marks.
class BusyScope {
public:
    explicit BusyScope(const Parser *parser, bool interruptible = false)
        : parser_(parser), outer_(parser->busy), began_(interruptible && !outer_) {
        parser_->busy = true;
        forget_fast(parser_); // a callback calling parser_eval is refused too
        if (began_) const_cast<Parser *>(parser_)->call.begin();
    }
    ~BusyScope() {
        if (began_) const_cast<Parser *>(parser_)->call.end();
        parser_->busy = outer_;
        if (!outer_) refresh_fast(parser_);
    }
    BusyScope(const BusyScope &) = delete;
    BusyScope &operator=(const BusyScope &) = delete;

private:
    const Parser *parser_;
    bool outer_;  // the handle was busy already: a call inside a call
    bool began_;  // this scope began the interruptible call
};

// parser_calc without the check for re-entry, for the library's own calls
// inside a call: NaN when parser_interrupt stopped the build.
float calc_text(Parser *parser, const char *text);
// parser_var without the check for re-entry.
void set_variable(Parser *parser, const char *name, float value);

void parser_var_free(void *variable);
void parser_func_free(void *function);

// The name of the variable that the operand text OPERAND reads, or null: for
// tools that explain a tree.
const char *variable_read_by(const Parser *parser, const char *operand);

} // namespace lp

#endif // LIB_PARSE_HANDLE_H
