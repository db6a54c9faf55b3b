// lparse_process.h - driving lparse as a process for the calculator's tests: one-shot runs and terminal sessions.
#ifndef LPARSE_PROCESS_H
#define LPARSE_PROCESS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
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
inline Outcome run_lparse(Args args, const std::string &input = "", const char *output_path = nullptr) {
    FILE *out = output_path != nullptr ? std::fopen(output_path, "w") : std::tmpfile();
    if (out == nullptr) return Outcome{};
    FILE *in = std::tmpfile(), *err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::fflush(in);
    std::rewind(in);
    args.insert(args.begin(), LPARSE_PATH);
    std::vector<char *> argv = argv_of(args);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(in), 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
    Outcome outcome;
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 && waitpid(pid, &status, 0) == pid)
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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

inline std::string error_line(int code) {
    return "lparse: error " + std::to_string(code) + ": " + parser_error_text(code);
}

// The two lines under a message that show its place: TEXT, and a caret
// under its bytes OFFSET .. OFFSET + LENGTH.
inline std::string place_lines(const std::string &text, size_t offset, size_t length) {
    return "  " + text + "\n  " + std::string(offset, ' ') + "^" + std::string(length > 1 ? length - 1 : 0, '~') + "\n";
}

// A key sequence to type, then a text that the screen must come to hold
// COUNT times in all.
struct Step {
    std::string keys, text;
    int count;
};

struct Session {
    bool started = false;
    std::string screen; // or, when not started, the reason
    size_t typed = 0;   // steps whose keys were typed
    int status = -1;    // exit status, or -1
};

// A directory of this test process, removed when it exits, where terminal
// sessions keep their history instead of the user's home.
inline const std::string &session_state_dir() {
    static const std::string dir = [] {
        char name[] = "/tmp/lparse_test_state_XXXXXX";
        return std::string(mkdtemp(name) != nullptr ? name : "/nonexistent");
    }();
    // Registered after DIR is made, so it runs before DIR is destroyed.
    static const int removed_at_exit = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(session_state_dir(), ignored);
    });
    (void)removed_at_exit;
    return dir;
}

// Runs lparse with ARGS on a pseudo-terminal, so that it sees a terminal on
// all three streams, and goes through STEPS; then reads until lparse exits.
// ENV holds NAME=VALUE entries that replace or add to the environment
// (XDG_STATE_HOME is session_state_dir() unless ENV sets it); COLUMNS,
// when not 0, is the terminal's width. lparse
// leads a session of its own with the terminal as its controlling terminal,
// so Ctrl-C ("\x03") sends it SIGINT as in a shell.
inline Session on_terminal(const std::vector<Step> &steps, const Args &extra_args = {},
                           const std::vector<std::string> &extra_env = {}, unsigned short columns = 0) {
    Session s;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char *slave = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    if (columns != 0 && master >= 0) ioctl(master, TIOCSWINSZ, &size);
    // A known terminal type, so the line editor knows its keys wherever the test runs.
    std::vector<std::string> env{"TERM=xterm"}, args{LPARSE_PATH};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    env.insert(env.end(), extra_env.begin(), extra_env.end());
    env.push_back("XDG_STATE_HOME=" + session_state_dir()); // the first entry of a name counts
    const auto replaced = [&](const std::string &entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        return std::any_of(env.begin(), env.end(), [&](const std::string &e) { return e.rfind(name, 0) == 0; });
    };
    for (char **e = environ; *e != nullptr; ++e)
        if (!replaced(*e)) env.emplace_back(*e);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID); // then opening the terminal makes it the controlling one
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, slave != nullptr ? slave : "/nonexistent", O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
    pid_t pid = -1;
    s.started = slave != nullptr && posix_spawn(&pid, LPARSE_PATH, &actions, &attributes, argv_of(args).data(), argv_of(env).data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (!s.started) s.screen = std::string("no pseudo-terminal or no process: ") + std::strerror(errno);
    // Generous: sanitizer builds start slowly. Reading ends with an error
    // once lparse has exited and closed the terminal.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool closed = !s.started;
    const auto holds = [&s](const Step &step) {
        int found = 0;
        for (size_t at = s.screen.find(step.text); at != std::string::npos; at = s.screen.find(step.text, at + 1)) ++found;
        return found >= step.count;
    };
    while (!closed && std::chrono::steady_clock::now() < deadline) {
        if (s.typed < steps.size() && (s.typed == 0 || holds(steps[s.typed - 1]))) {
            const std::string &keys = steps[s.typed++].keys;
            EXPECT_EQ(write(master, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        }
        char buffer[4096];
        pollfd p{master, POLLIN, 0};
        const ssize_t n = poll(&p, 1, 20) > 0 ? read(master, buffer, sizeof buffer) : 0;
        closed = n < 0;
        s.screen.append(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    }
    if (s.started) {
        if (!closed) kill(pid, SIGKILL);
        int status = 0;
        s.status = waitpid(pid, &status, 0) == pid && closed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (master >= 0) close(master);
    return s;
}

} // namespace lparse_test

#endif // LPARSE_PROCESS_H
