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

// The points FROM, FROM+BY, ... up to TO, given in hundredths, as decimal
// texts: (-100, 0, 50) -> "-1 -0.5 0".
std::string hundredths(int from, int to, int by) {
    std::string list;
    for (int n = from; by > 0 ? n <= to : n >= to; n += by) {
        const int whole = std::abs(n) / 100, part = std::abs(n) % 100;
        list += (list.empty() ? "" : " ") + std::string(n < 0 ? "-" : "") + std::to_string(whole);
        if (part != 0) list += (part < 10 ? ".0" : ".") + std::to_string(part % 10 == 0 ? part / 10 : part);
    }
    return list;
}

size_t longest_line(const std::string &text) {
    size_t longest = 0;
    for (std::string line : lines_of(text)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        longest = std::max(longest, line.size());
    }
    return longest;
}

TEST(LparseNumbers, EveryModePrintsPlainDecimals) {
    struct Row {
        Args args;
        std::string input, out;
    };
    const Row rows[] = {
        {{"1000*10000"}, "", "10000000\n"}, // not 1e+07, which reads back as the name '1e' plus 7
        {{"0.0001"}, "", "0.0001\n"},       // not 1e-04
        {{"1/3"}, "", "0.33333334\n"},
        {{"2^100"}, "", "1267650600000000000000000000000\n"},
        {{"340282346638528859811704183484516925440"}, "", "340282350000000000000000000000000000000\n"},
        {{"0*(0-1)"}, "", "-0\n"},
        // The shortest digits, 7.038531e-26, read through a double land on the
        // neighbouring float: one more digit is needed (the only such float).
        {{"x", "x=7.0385307e-26"}, "", "0.000000000000000000000000070385307\n"},
        {{"--tree", "x", "x=1e-5"}, "", "x  variable 'x' = 0.00001\n0.00001\n"},
        {{"--csv", "-", "x*100"}, "x\n100000\n", "x,result\n100000,10000000\n"},
        {{"--sweep", "x=0:0.0002:0.0001", "x"}, "", "x\tx\n0\t0\n0.0001\t0.0001\n0.0002\t0.0002\n"},
        {{}, "x = 0.00001*0.1\nx\n1000*10000\n", "0.000001\n10000000\n"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args, row.input);
        EXPECT_EQ(got.out, row.out) << show(row.args) << "\nstderr: " << got.err;
    }
}

TEST(LparseSweep, PointsEndAtToWithoutDrift) {
    struct Row {
        std::string range, points;
    };
    const Row rows[] = {
        {"x=0:3:0.1", hundredths(0, 300, 10)},
        {"x=-10:10:0.37", hundredths(-1000, 998, 37)}, // -0.75 among them, not -0.7499999
        {"x=0:0.3:0.1", "0 0.1 0.2 0.3"},          // 0.3/0.1 is a little under 3 in double
        {"x=0:1:0.3333333", "0 0.3333333 0.6666666 1"}, // close enough to end at TO
        {"x=0:1:0.3", "0 0.3 0.6 0.9"},            // 1 is not reached
        {"x=1:0:-0.5", "1 0.5 0"},                 {"x=1:0:0.5", "1 0.5 0"}, // a falling range counts down either way
        {"x=2:0", hundredths(200, 0, -10)},        {"x=5:5:1", "5"}, // 20 intervals by default
    };
    for (const Row &row : rows) {
        std::string want = "x\tx\n";
        for (size_t at = 0; at < row.points.size();) {
            const size_t end = std::min(row.points.find(' ', at), row.points.size());
            const std::string point = row.points.substr(at, end - at);
            want += point + "\t" + point + "\n";
            at = end + 1;
        }
        const Outcome got = run_lparse({"--sweep", row.range, "x"});
        EXPECT_EQ(got.out, want) << row.range << "\nstderr: " << got.err;
        EXPECT_EQ(got.status, 0) << row.range;
    }
    EXPECT_EQ(run_lparse({"--sweep", "x=0:1:0.25", "x^2"}).out, "x\tx^2\n0\t0\n0.25\t0.0625\n0.5\t0.25\n0.75\t0.5625\n1\t1\n");
    EXPECT_EQ(run_lparse({"--sweep", "t=1:-1:1", "t*k", "k=3"}).out, "t\tt*k\n1\t3\n0\t0\n-1\t-3\n");
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
    // On a terminal without COLUMNS, the terminal's own width.
    const Session s = on_terminal({}, {"--sweep", "x=-3:3", "--plot=ascii", "x^2"}, {"COLUMNS="}, 70);
    EXPECT_EQ(longest_line(s.screen), 69u) << s.screen;
}

TEST(LparsePlot, StyleFollowsTheLocale) {
    struct Row {
        const char *lc_all, *lc_ctype, *lang;
        const char *option;
        bool braille;
    };
    const Row rows[] = {
        {nullptr, nullptr, "en_US.UTF-8", "--plot", true}, {nullptr, nullptr, "C", "--plot", false},
        {"C", nullptr, "en_US.UTF-8", "--plot", false},    {nullptr, "C.utf8", "C", "--plot", true},
    };
    for (const Row &row : rows) {
        const Environment locale({{"LC_ALL", row.lc_all}, {"LC_CTYPE", row.lc_ctype}, {"LANG", row.lang}});
        const std::string out = run_lparse({"--sweep", "x=-1:1", row.option, "x"}).out;
        const bool braille = out.find("\xE2\xA0") != std::string::npos || out.find("\xE2\xA1") != std::string::npos;
        EXPECT_EQ(braille, row.braille) << row.option << " LANG=" << (row.lang ? row.lang : "") << "\n" << out;
        EXPECT_EQ(out.find('*') != std::string::npos, !row.braille) << out;
    }
}

TEST(LparsePlot, SkippedPointsAndPoles) {
    const Environment narrow({{"COLUMNS", "50"}});
    const Outcome logs = run_lparse({"--sweep", "x=-1:1:0.5", "--plot=ascii", "logn(x)"});
    EXPECT_EQ(logs.status, 0);
    EXPECT_EQ(lines_of(logs.out).back(), "note: 3 of 5 points have no finite value (nan or inf) and are not drawn");
    // 1/x from -20 to 20 between x=-0.05 and x=0.05: the pole stays open, the
    // row of zero holds no part of the curve, and the range is that of the
    // other points (+-1/0.15).
    const std::vector<std::string> pole =
        lines_of(run_lparse({"--sweep", "x=-1.05:1.05:0.1", "--plot=ascii", "1/x"}).out);
    ASSERT_EQ(pole.size(), 19u);
    EXPECT_EQ(pole[1].substr(0, 8), " 6.667 +") << pole[1];
    EXPECT_EQ(pole[16].substr(0, 8), "-6.667 +") << pole[16];
    EXPECT_EQ(pole[9].substr(0, 8), "     0 +") << pole[9];
    EXPECT_EQ(pole[9].find('*'), std::string::npos) << pole[9];
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
        args.insert(args.begin(), LPARSE_PATH);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
        pid_t pid = -1;
        ASSERT_EQ(posix_spawn(&pid, LPARSE_PATH, &actions, nullptr, argv_of(args).data(), environ), 0);
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
