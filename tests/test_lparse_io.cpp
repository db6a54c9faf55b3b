// test_lparse_io.cpp - lparse's input and output: write errors, closed pipes, slow pipes, CSV data and script bytes.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "lparse_process.h"

using namespace lparse_test;

namespace {

// lparse with standard input and output on pipes, standard error in a file.
struct Piped {
    pid_t pid = -1;
    int in = -1, out = -1; // our ends
    FILE *err = nullptr;

    explicit Piped(Args args) {
        int to[2], from[2];
        if (pipe(to) != 0 || pipe(from) != 0) return;
        err = std::tmpfile();
        args.insert(args.begin(), LPARSE_PATH);
        std::vector<char *> argv = argv_of(args);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
        posix_spawn_file_actions_addclose(&actions, to[1]);
        posix_spawn_file_actions_addclose(&actions, from[0]);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(to[0]);
        close(from[1]);
        in = to[1];
        out = from[0];
    }
    ~Piped() {
        if (in >= 0) close(in);
        if (out >= 0) close(out);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (err != nullptr) std::fclose(err);
    }
    Piped(const Piped &) = delete;
    Piped &operator=(const Piped &) = delete;

    void send(const std::string &text) const { EXPECT_EQ(write(in, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

    // Reads standard output until it holds WANT, for at most a few seconds.
    std::string read_until(const std::string &want) const {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (got.find(want) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            char buffer[4096];
            pollfd p{out, POLLIN, 0};
            const ssize_t n = poll(&p, 1, 20) > 0 ? read(out, buffer, sizeof buffer) : 0;
            if (n < 0) break;
            got.append(buffer, static_cast<size_t>(n));
        }
        return got;
    }

    // The exit status once lparse has exited by itself, or -1 after a few seconds.
    int wait() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }

    std::string errors() {
        FILE *file = err;
        err = nullptr;
        return file != nullptr ? read_back(file) : "";
    }
};

TEST(LparseOutput, AFailedWriteIsReportedOnceWithExitStatus1) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    std::string rows = "x\n";
    for (int i = 0; i < 3000; ++i) rows += std::to_string(i) + "\n";
    struct Row {
        Args args;
        std::string input;
    };
    const Row cases[] = {
        {{"1"}, ""}, {{"--help"}, ""}, {{"--version"}, ""}, {{"--dot", "2*(x+1)", "x=1"}, ""}, {{"--explain", "1"}, ""},
        {{"--csv", "-", "x"}, "x\n1\n"}, {{"--csv", "-", "x*2"}, rows}, // fails in the middle of the rows
        {{"--sweep", "x=0:1:0.0001", "x"}, ""}, {{"--sweep", "x=0:1", "--plot", "x"}, ""},
        {{}, "1\n2\n"}, {{}, ":help\n:vars\n"},
    };
    for (const Row &row : cases) {
        const Outcome got = run_lparse(row.args, row.input, "/dev/full");
        EXPECT_EQ(got.status, 1) << show(row.args);
        EXPECT_EQ(got.err, "lparse: write error: No space left on device\n") << show(row.args);
    }
}

TEST(LparseOutput, AClosedPipeEndsTheRunQuietly) {
    // Each run is stopped while its input is still open: it must notice the
    // closed pipe on its next write rather than read to the end.
    struct Row {
        Args args;
        std::string first, shown, more;
    };
    const Row cases[] = {
        {{"--csv", "-", "x*2"}, "x\n1\n", "x,result\n1,2\n", "2\n3\n"},
        {{}, "x = 2\nx*3\n", "6\n", "x\n"},
    };
    for (const Row &row : cases) {
        Piped lparse(row.args);
        ASSERT_GT(lparse.pid, 0);
        lparse.send(row.first);
        // The first rows' results come as soon as they are in, not after 64 KiB of input or at its end.
        EXPECT_EQ(lparse.read_until(row.shown), row.shown) << show(row.args);
        close(lparse.out);
        lparse.out = -1;
        lparse.send(row.more);
        EXPECT_EQ(lparse.wait(), 0) << show(row.args);
        EXPECT_EQ(lparse.errors(), "") << show(row.args);
    }
    // A long table ends too, without a message.
    Piped sweep({"--sweep", "x=0:1:0.0000002", "x"});
    ASSERT_GT(sweep.pid, 0);
    EXPECT_EQ(sweep.read_until("\n0\t0\n").substr(0, 5), "x\tx\n0");
    close(sweep.out);
    sweep.out = -1;
    EXPECT_EQ(sweep.wait(), 0);
    EXPECT_EQ(sweep.errors(), "");
}

// Only the columns the expression reads, as the calculator looks names up,
// must hold numbers; --on-error decides what a bad row does.
TEST(LparseCsvData, ColumnsReadAndBadRows) {
    struct Row {
        Args args;
        std::string input, out;
        int status;
        std::string err;
    };
    const std::string bad = "x,y\n1,2\n3\n4,z\n5,6\n";
    const Row rows[] = {
        {{"x+y"}, "\xEF\xBB\xBFx,y\n1,2\n", "x,y,result\n1,2,3\n", 0, ""},
        {{"x*2"}, "name,x\nbob,2\n", "name,x,result\nbob,2,4\n", 0, ""},
        {{"x"}, "xy,x\nabc,2\n", "xy,x,result\nabc,2,2\n", 0, ""}, // 'x' reads x, not xy
        {{"-q", "x"}, "x1,name\nq,bob\n", "x1,name,result\n", 1, "lparse: row 2, column 1 (x1): 'q' is not a number\n"},
        {{"-f", "f(a)=a*y", "f(x)"}, "x,y,z\n2,3,hi\n", "x,y,z,result\n2,3,hi,6\n", 0, ""},
        {{"-f", "f(a)=a*y", "f(x)"}, "x,y,z\n2,,3\n", "x,y,z,result\n", 1, "lparse: row 2, column 2 (y): '' is not a number\n"},
        {{"x+y", "--on-error=nan"}, bad, "x,y,result\n1,2,3\n3,nan\n4,z,nan\n5,6,11\n", 0,
         "lparse: warning: row 3: 1 field, but the header has 2; its result is nan\n"
         "lparse: warning: row 4, column 2 (y): 'z' is not a number; its result is nan\n"},
        {{"x+y", "--on-error", "skip"}, bad, "x,y,result\n1,2,3\n5,6,11\n", 0,
         "lparse: warning: row 3: 1 field, but the header has 2; the row is left out\n"
         "lparse: warning: row 4, column 2 (y): 'z' is not a number; the row is left out\n"},
        {{"-q", "x+y", "--on-error=skip"}, bad, "x,y,result\n1,2,3\n5,6,11\n", 0, ""},
        {{"x+y", "--on-error=stop"}, bad, "x,y,result\n1,2,3\n", 1, "lparse: row 3: 1 field, but the header has 2\n"},
        {{"x"}, "x,y, x\n1,2,3\n", "", 1, "lparse: columns 1 and 3 are both named 'x'\n"},
        {{"x"}, "x,result\n1,2\n", "", 1, "lparse: column 2 is named 'result', the name of the column lparse adds; rename it\n"},
    };
    for (const Row &row : rows) {
        Args args{"--csv", "-"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Outcome got = run_lparse(args, row.input);
        EXPECT_EQ(got.out, row.out) << show(args) << "\n" << row.input;
        EXPECT_EQ(got.status, row.status) << show(args) << "\n" << row.input;
        EXPECT_EQ(got.err, row.err) << show(args) << "\n" << row.input;
    }
    const struct {
        Args args;
        std::string err;
    } refused[] = {
        {{"--csv", ".", "x"}, "lparse: cannot read '.': Is a directory\n"},
        {{"--on-error=skip", "x"}, "lparse: --on-error applies to the rows of --csv\n"},
        {{"--csv", "-", "--on-error=maybe", "x"}, "lparse: --on-error takes stop, skip or nan, not 'maybe'\n"},
    };
    for (const auto &row : refused) {
        const Outcome got = run_lparse(row.args);
        EXPECT_EQ(got.status, row.err.find("cannot read") != std::string::npos ? 1 : 2) << show(row.args);
        EXPECT_EQ(got.err.substr(0, row.err.size()), row.err) << show(row.args);
    }
}

TEST(LparseLinesIo, ALineWithANulByteIsReportedNotCut) {
    const Outcome got = run_lparse({}, std::string("1\n2\0+3\n4\n", 9));
    EXPECT_EQ(got.out, "1\n4\n");
    EXPECT_EQ(got.err, "lparse: line 2: error: the line contains a NUL byte, so it is not run\n");
    EXPECT_EQ(got.status, 1);
}

} // namespace
