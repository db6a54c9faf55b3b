// call_scope.h - what the C entry points share: the busy mark around a call, and the library's own calls inside one.
//
// Only api/ includes this: the front ends and evaluators read the handle
// (tree/handle.h) but never begin a call of their own.
#ifndef LIB_PARSE_CALL_SCOPE_H
#define LIB_PARSE_CALL_SCOPE_H

#include "tree/handle.h"
#include "tree/host_functions.h"

namespace lp {

// Sets or clears Parser::fast and Parser::guarded after a change they may depend on.
void refresh_fast(const Parser *parser);

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

// Defines or replaces host function NAME (a valid name), or with a null FN
// and no CONDITIONAL removes it; the next build sees the change.
void define_host(Parser *parser, const char *name, const HostFunction &function);

} // namespace lp

#endif // LIB_PARSE_CALL_SCOPE_H
