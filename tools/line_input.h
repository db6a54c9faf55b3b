// line_input.h - where session lines come from: a line editor on a terminal, plain reading otherwise.
#ifndef LPARSE_LINE_INPUT_H
#define LPARSE_LINE_INPUT_H

#include <memory>
#include <string>

namespace lparse {

class LineInput {
public:
    virtual ~LineInput() = default;
    // The next line without its line ending; false at the end of input.
    virtual bool read(std::string *line) = 0;
};

// Reads standard input. With PROMPT non-empty, standard input is a terminal:
// lines are edited and kept in a history when the line editor is built in,
// and the prompt is shown before each line.
std::unique_ptr<LineInput> open_standard_input(const std::string &prompt);

// True when the line editor was built in.
bool have_line_editor();

} // namespace lparse

#endif // LPARSE_LINE_INPUT_H
