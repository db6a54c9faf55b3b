// line_input.h - where session lines come from: a line editor on a terminal, plain reading otherwise.
#ifndef LPARSE_LINE_INPUT_H
#define LPARSE_LINE_INPUT_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib_parse.h"

namespace lparse {

enum class ReadStatus {
    LINE,      // a line was read
    CANCELLED, // Ctrl-C dropped the line being typed
    END,       // end of input (Ctrl-D on an empty line at a terminal)
};

class LineInput {
public:
    virtual ~LineInput() = default;
    // The next line, without its line ending, into *LINE.
    virtual ReadStatus read(std::string *line) = 0;
};

// FILE read one line at a time, with no prompt: a script. FILE stays the caller's.
std::unique_ptr<LineInput> open_script_input(FILE *file);

// What a session at a terminal is read with.
struct TerminalSetup {
    std::string prompt;
    FILE *prompt_stream = stdout; // also where the line editor draws
    std::string history_file;     // kept between sessions by the line editor; "" for none
    std::function<std::vector<std::string>()> names; // what Tab completes
};

// Standard input, a terminal: lines are edited, completed and kept in a
// history when the line editor is built in. Ctrl-C cancels the line being
// typed; call catch_interrupts() first.
std::unique_ptr<LineInput> open_terminal_input(const TerminalSetup &setup);

// True when the line editor was built in.
bool have_line_editor();

// Where the history of sessions is kept: $XDG_STATE_HOME/lparse/history when
// XDG_STATE_HOME is set, else ~/.lparse_history; "" without either.
std::string default_history_file();

// From now on Ctrl-C (SIGINT) does not end the process: it is noted, to be
// taken by take_interrupt(), it cancels a line being read, and it stops the
// library call running on the handle given to stop_on_interrupt.
void catch_interrupts();

// The handle Ctrl-C stops (parser_interrupt), or nullptr for none. The
// signal handler reads it at any moment, so a handle must be replaced here
// before it is destroyed.
void stop_on_interrupt(Parser *parser);

// Replaces PARSER by nullptr when it is the handle Ctrl-C stops.
void forget_on_interrupt(Parser *parser);

// True when Ctrl-C was pressed since the last call; clears the note.
bool take_interrupt();

// True when Ctrl-C was pressed since the last take_interrupt(); keeps the note.
bool interrupt_pending();

} // namespace lparse

#endif // LPARSE_LINE_INPUT_H
