// session.h - the line language: expressions, assignments, definitions and ':' commands, one line at a time.
#ifndef LPARSE_SESSION_H
#define LPARSE_SESSION_H

#include "calculator.h"
#include "line_input.h"

namespace lparse {

struct SessionStyle {
    bool interactive = false; // a person at a terminal: echo assignments, no line numbers
    bool quiet = false;       // no warnings
};

// Runs lines from INPUT until its end or ':quit'. Returns the exit status:
// 1 when any line reported an error, else 0.
int run_session(Calculator *calculator, LineInput *input, const SessionStyle &style);

// The text of ':help'.
const char *session_help_text();

} // namespace lparse

#endif // LPARSE_SESSION_H
