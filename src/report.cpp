// report.cpp - error reports: to the diagnostics handler, and to the log of the tree being built.
#include "report.h"

#include <cstdint>

#include "diagnostics.h"
#include "lib_parse.h"

namespace lp {

namespace {
// The log of the expansion running on this thread; expansions on different
// threads (different handles) never share one.
thread_local ErrorLog *current_log = nullptr;
} // namespace

void report_error(int line, int code) {
    if (current_log != nullptr) {
        if (current_log->count == 0) current_log->first_code = code;
        if (current_log->count < INT32_MAX) ++current_log->count;
    }
    exception("lib_parse", line, code);
}

ErrorScope::ErrorScope(ErrorLog *log) : previous_(current_log) { current_log = log; }
ErrorScope::~ErrorScope() { current_log = previous_; }

} // namespace lp

extern "C" const char *parser_error_text(int code) {
    switch (code) {
    case PARSER_ERR_CUT_ORDER: return "operator positions out of order while cutting a text";
    case PARSER_ERR_TRAILING_OPERATOR: return "an operator at the end of a text has no right operand";
    case PARSER_ERR_BAD_OPERATION: return "operation id outside the operation table";
    case PARSER_ERR_UNKNOWN_FUNCTION: return "bracketed call of a function that is not defined";
    case PARSER_ERR_SUBSTITUTION_LIMIT: return "user function substitution too deep, too many or too large";
    case PARSER_ERR_TEXT_TOO_LONG: return "text longer than the handle's limit: refused, and read as the empty text";
    default: return "unknown error";
    }
}
