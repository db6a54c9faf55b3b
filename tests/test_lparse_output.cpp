// test_lparse_output.cpp - what lparse prints: plain decimals that read back, sweep points, plots, and
// its output failing: write errors and closed pipes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lparse_process.h"

using namespace lparse_test;

namespace {

// Sets (or, for nullptr, unsets) environment variables for the runs in one
// scope; run_lparse passes the environment on.
class Environment {
public:
    Environment(std::initializer_list<std::pair<const char *, const char *>> vars) {
        for (const auto &[name, value] : vars) {
            const char *old = std::getenv(name);
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            value ? setenv(name, value, 1) : unsetenv(name);
        }
    }
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;
    ~Environment() {
        for (const auto &[name, value] : saved_)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

size_t longest_line(const std::string &text) {
    size_t longest = 0;
    for (const std::string &line : lines_of(text)) longest = std::max(longest, line.size());
    return longest;
}

// The picture, as wide as COLUMNS or the terminal; a falling sweep draws the same picture.
TEST(LparsePlot, DrawsTheCurveAsWideAsTheTerminal) {
    const Environment narrow({{"COLUMNS", "40"}});
    const std::string ascii = run_lparse({"--sweep", "x=0:1", "--plot=ascii", "x"}).out;
    EXPECT_EQ(ascii,
              "x\n"
              "1 +                                *\n"
              "  |                             *** \n"
              "  |                           **    \n"
              "  |                         **      \n"
              "  |                      ***        \n"
              "  |                     *           \n"
              "  |                   **            \n"
              "  |                ***              \n"
              "  |              **                 \n"
              "  |            **                   \n"
              "  |          **                     \n"
              "  |        **                       \n"
              "  |      **                         \n"
              "  |   ***                           \n"
              "  | **                              \n"
              "0 +*--------------------------------\n"
              "  +---------------------------------\n"
              "   0                               1  x\n");
    EXPECT_EQ(run_lparse({"--sweep", "x=1:0", "--plot=ascii", "x"}).out, ascii);
    const Environment wide({{"COLUMNS", "120"}});
    EXPECT_EQ(longest_line(run_lparse({"--sweep", "x=-3:3", "--plot=ascii", "x^2"}).out), 119u);
}

TEST(LparseOutput, AFailedWriteIsReportedOnceWithExitStatus1) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    std::string rows = "x\n";
    for (int i = 0; i < 3000; ++i) rows += std::to_string(i) + "\n";
    struct Row {
        Args args;
        std::string input;
    };
    const Row cases[] = {
        {{"1"}, ""}, {{"--help"}, ""}, {{"--dot", "2*(x+1)", "x=1"}, ""}, {{"--explain", "1"}, ""},
        {{"--csv", "-", "x"}, "x\n1\n"}, {{"--csv", "-", "x*2"}, rows}, // fails in the middle of the rows
        {{"--sweep", "x=0:1:0.0001", "x"}, ""}, {{"--sweep", "x=0:1", "--plot", "x"}, ""}, {{}, "1\n2\n"},
    };
    for (const Row &row : cases) {
        const Outcome got = run_lparse(row.args, row.input, "/dev/full");
        EXPECT_EQ(got.status, 1) << show(row.args);
        EXPECT_EQ(got.err, "lparse: write error: No space left on device\n") << show(row.args);
    }
}

// lparse with its input and output on pipes is stopped while its input is
// still open: it must notice the closed pipe on its next write rather than
// read to the end, and exit 0 saying nothing. Before that, the first rows'
// results come as soon as they are in, not after 64 KiB of input or at its end.
TEST(LparseOutput, AClosedPipeEndsTheRunQuietly) {
    struct Row {
        Args args;
        std::string first, shown, more;
    };
    const Row cases[] = {
        {{"--csv", "-", "x*2"}, "x\n1\n", "x,result\n1,2\n", "2\n3\n"},
        {{}, "x = 2\nx*3\n", "6\n", "x\n"},
    };
    for (const Row &row : cases) {
        int to[2], from[2]; // the child's ends become its standard streams; none is inherited as it is
        ASSERT_TRUE(pipe2(to, O_CLOEXEC) == 0 && pipe2(from, O_CLOEXEC) == 0);
        FILE *err = std::tmpfile();
        Args args = row.args;
        with_command(&args);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv_of(args).data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(to[0]);
        close(from[1]);
        EXPECT_EQ(write(to[1], row.first.data(), row.first.size()), static_cast<ssize_t>(row.first.size()));
        std::string got; // a run that never writes it is stopped by the test's time limit
        char buffer[4096];
        for (ssize_t n = 1; got.find(row.shown) == std::string::npos && n > 0;)
            got.append(buffer, static_cast<size_t>(std::max<ssize_t>(n = read(from[0], buffer, sizeof buffer), 0)));
        EXPECT_EQ(got, row.shown) << show(row.args);
        close(from[0]);
        EXPECT_EQ(write(to[1], row.more.data(), row.more.size()), static_cast<ssize_t>(row.more.size()));
        int status = -1;
        waitpid(pid, &status, 0);
        close(to[1]);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << show(row.args) << " status " << status;
        EXPECT_EQ(read_back(err), "") << show(row.args);
    }
}

} // namespace
