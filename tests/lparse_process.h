// lparse_process.h - runs the lparse binary as a child process, plainly or on a pseudo-terminal.
#ifndef LPARSE_PROCESS_H
#define LPARSE_PROCESS_H

#include <string>
#include <vector>

namespace lparse_test {

struct Outcome {
    std::string out;
    std::string err;
    int status = -1; // exit status, or -1 when the process did not exit normally
};

// Runs lparse with ARGS, standard input read from INPUT.
Outcome run_lparse(const std::vector<std::string> &args, const std::string &input = "");

// A session on a pseudo-terminal: lparse sees a terminal on all three streams.
class Terminal {
public:
    // False (with the reason in *why) when no pseudo-terminal can be had.
    bool start(std::string *why);
    ~Terminal();

    void type(const std::string &keys);
    // Reads until everything seen so far contains TEXT COUNT times; false after
    // TIMEOUT_MS without that.
    bool wait_for(const std::string &text, int count, int timeout_ms);
    // Waits for the process to end; its exit status, or -1.
    int finish(int timeout_ms);
    const std::string &screen() const { return seen_; }

private:
    int master_ = -1;
    int pid_ = -1;
    std::string seen_;
};

} // namespace lparse_test

#endif // LPARSE_PROCESS_H
