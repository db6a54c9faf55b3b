// session.h - the line language: expressions, assignments, definitions and ':' commands, one line at a time.
#ifndef LPARSE_SESSION_H
#define LPARSE_SESSION_H

#include <cstdio>
#include <string>

#include "calculator.h"
#include "line_input.h"

namespace lparse {

struct SessionStyle {
    bool interactive = false; // a person at a terminal: echo assignments, no line numbers
    bool quiet = false;       // no warnings
    bool history = true;      // at a terminal, keep the line history between sessions
    FILE *screen = stdout;    // at a terminal, where the banner and prompts go
};

// Runs lines from INPUT until its end, ':quit', 'quit' or 'exit'. Returns the
// exit status: in a script, 1 when any line reported an error, else 0; a
// session at a terminal, which the person ends, always 0.
int run_session(Calculator *calculator, LineInput *input, const SessionStyle &style);

// Reads standard input: a session when it is a terminal (banner, prompt,
// line editing, history, Ctrl-C cancels), else a script. STYLE gives
// quiet and history; the rest follows from the streams.
int run_standard_input(Calculator *calculator, SessionStyle style);

// Runs the lines of the file at PATH ("-" for standard input) as a script.
// Returns the exit status of run_session, or 1 when the file cannot be read.
int run_script_file(Calculator *calculator, const std::string &path, const SessionStyle &style);

// The lines a session understands, one a line, as :help and --help list them.
std::string session_lines_text();

// The text of ':help'.
std::string session_help_text();

} // namespace lparse

#endif // LPARSE_SESSION_H
