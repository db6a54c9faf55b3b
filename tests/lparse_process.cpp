// lparse_process.cpp - posix_spawn with files for the three streams, and a pseudo-terminal driver.
#include "lparse_process.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace lparse_test {

namespace {

std::string temp_file(const std::string &content) {
    const char *dir = std::getenv("TMPDIR");
    std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/lparse_test_XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return "";
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
    return path;
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<char *> argv_of(std::vector<std::string> *args) {
    std::vector<char *> argv;
    for (std::string &a : *args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

int exit_status(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

Outcome run_lparse(const std::vector<std::string> &args, const std::string &input) {
    Outcome outcome;
    const std::string in = temp_file(input), out = temp_file(""), err = temp_file("");
    std::vector<std::string> all{LPARSE_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv = argv_of(&all);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        outcome.status = exit_status(pid);
        outcome.out = slurp(out);
        outcome.err = slurp(err);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(err.c_str());
    return outcome;
}

bool Terminal::start(std::string *why) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        *why = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char *slave = ptsname(master_);
    if (slave == nullptr) {
        *why = "no pseudo-terminal name";
        return false;
    }
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 80;
    ioctl(master_, TIOCSWINSZ, &size);

    // A known terminal type, so the line editor knows its keys wherever the test runs.
    std::vector<std::string> env{"TERM=xterm"};
    for (char **e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TERM=", 5) != 0) env.emplace_back(*e);
    std::vector<char *> envp = argv_of(&env);
    std::vector<std::string> args{LPARSE_PATH};
    std::vector<char *> argv = argv_of(&args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, slave, O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        *why = std::string("cannot start lparse: ") + std::strerror(failed);
        return false;
    }
    pid_ = pid;
    return true;
}

Terminal::~Terminal() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        exit_status(pid_);
    }
    if (master_ >= 0) close(master_);
}

void Terminal::type(const std::string &keys) {
    size_t done = 0;
    while (done < keys.size()) {
        const ssize_t n = write(master_, keys.data() + done, keys.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

bool Terminal::wait_for(const std::string &text, int count, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int found = 0;
        for (size_t at = seen_.find(text); at != std::string::npos; at = seen_.find(text, at + 1)) ++found;
        if (found >= count) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) return false; // the process has gone
        seen_.append(buffer, static_cast<size_t>(n));
    }
}

int Terminal::finish(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        // Keep draining the terminal so the process never blocks on output.
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) seen_.append(buffer, static_cast<size_t>(n));
        }
    }
    return -1;
}

} // namespace lparse_test
