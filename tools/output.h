// output.h - standard output, checked: a failed write is reported once, a reader that went away ends it quietly.
#ifndef LPARSE_OUTPUT_H
#define LPARSE_OUTPUT_H

namespace lparse {

// Makes a write to a closed pipe fail with EPIPE instead of killing the
// process, so that the run can end on its own terms.
void ignore_broken_pipe();

// False once a write to standard output has failed; output should stop then.
// The first failure is reported on standard error as "lparse: write error:
// ..." unless it is a closed pipe, which is not an error: whoever read the
// output has seen all they wanted. Call it right after writing, so that the
// error number is still the failed write's.
bool output_ok();

// Flushes standard output, then returns output_ok().
bool flush_output();

// At the end of the run: flushes and closes standard output. Returns STATUS,
// or 1 when a write failed for another reason than a closed pipe.
int close_output(int status);

} // namespace lparse

#endif // LPARSE_OUTPUT_H
