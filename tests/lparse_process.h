// lparse_process.h - driving lparse as a process for the calculator's tests.
#ifndef LPARSE_PROCESS_H
#define LPARSE_PROCESS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "lib_parse.h"

extern char **environ;

namespace lparse_test {

using Args = std::vector<std::string>;

struct Outcome {
    std::string out, err;
    int status = -1; // exit status, or -1 when the process did not exit normally
};

inline std::vector<char *> argv_of(std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// Puts the command that starts lparse before ARGS: its path, after the
// emulator's command when the tests run on another processor's emulator
// (LPARSE_LAUNCHER, words joined by '|'; binfmt_misc is not relied on).
inline void with_command(Args *args) {
    args->insert(args->begin(), LPARSE_PATH);
    const std::string launcher = LPARSE_LAUNCHER;
    for (size_t end = launcher.size(); end != 0 && end != std::string::npos;) {
        const size_t bar = launcher.rfind('|', end - 1);
        const size_t begin = bar == std::string::npos ? 0 : bar + 1;
        args->insert(args->begin(), launcher.substr(begin, end - begin));
        end = bar;
    }
}

inline std::string read_back(FILE *file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// Runs lparse with ARGS and INPUT on standard input; the three streams are
// unnamed temporary files, so nothing can block on a full pipe. Given
// OUTPUT_PATH, standard output goes to that file instead (and out stays empty).
// With INTERRUPT, lparse gets SIGINT once its standard output holds
// something: a moment the test chooses by what lparse has done, not by time.
inline Outcome run_lparse(Args args, const std::string &input = "", const char *output_path = nullptr,
                          bool interrupt = false) {
    FILE *out = output_path != nullptr ? std::fopen(output_path, "w") : std::tmpfile();
    if (out == nullptr) return Outcome{};
    FILE *in = std::tmpfile(), *err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    with_command(&args);
    std::vector<char *> argv = argv_of(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(in), 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    Outcome outcome;
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        bool ended = false;
        if (interrupt) {
            struct stat written {};
            while (!(ended = waitpid(pid, &status, WNOHANG) == pid) && fstat(fileno(out), &written) == 0 &&
                   written.st_size == 0)
                usleep(1000);
            if (!ended) kill(pid, SIGINT);
        }
        if (ended || waitpid(pid, &status, 0) == pid) outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    std::fclose(in);
    if (output_path != nullptr)
        std::fclose(out);
    else
        outcome.out = read_back(out);
    outcome.err = read_back(err);
    return outcome;
}

inline std::string show(const Args &args) {
    std::string text;
    for (const std::string &a : args) text += " '" + a + "'";
    return text;
}

inline std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// lparse's line for an error: its code and the library's message.
inline std::string error_line(int code, const std::string &message) {
    return "lparse: error " + std::to_string(code) + ": " + message;
}

// The two lines under a message that show its place: TEXT, and a caret
// under its bytes OFFSET .. OFFSET + LENGTH.
inline std::string place_lines(const std::string &text, size_t offset, size_t length) {
    return "  " + text + "\n  " + std::string(offset, ' ') + "^" + std::string(length > 1 ? length - 1 : 0, '~') + "\n";
}

} // namespace lparse_test

#endif // LPARSE_PROCESS_H
