// test_lparse_session.cpp - lparse's options, and its sessions as scripts and at a terminal:
// ans, removing definitions, leaving, Ctrl-C, history, completion.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lparse_process.h"

using namespace lparse_test;

namespace {

#ifdef LPARSE_HAVE_LIBEDIT
constexpr bool kLineEditor = true;
#else
constexpr bool kLineEditor = false;
#endif

TEST(LparseOptions, GroupedLettersNegativeNumbersAndConflicts) {
    struct Row {
        Args args;
        std::string out;
        int status;
        std::string err; // a part of standard error
    };
    const Row rows[] = {
        {{"-qf", "f(x)=x*3", "f(2)+costly"}, "7", 0, ""}, // -q took effect: no warning for 'tly'
        {{"-qff(x)=x*3", "f(2)"}, "6", 0, ""}, {{"-f", "g(a) := a+1", "g(1)"}, "2", 0, ""},
        {{"-3+1"}, "-2", 0, ""}, {{"-.5*4"}, "-2", 0, ""}, {{"-(x)", "x=2"}, "-2", 0, ""},
        {{"-v"}, "", 2, "lparse: unknown option '-v'; an EXPR that begins with '-' and a letter goes after '--'"},
        {{"-qv", "1"}, "", 2, "lparse: unknown option '-v'"},
        {{"-qf"}, "", 2, "lparse: option '-f' needs a value"},
        {{"--explain", "--dot", "1"}, "", 2, "lparse: --dot prints the graph alone"},
        {{"--trace=9", "1"}, "", 2, "lparse: --trace=LEVEL needs a level from 0 (off) to 8 (everything)"},
        {{"--trace=0", "1"}, "1", 0, ""},
        {{"--no-history=yes", "1"}, "", 2, "lparse: option '--no-history' takes no value"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args);
        EXPECT_EQ(got.out, row.out.empty() ? "" : row.out + "\n") << show(row.args) << "\nstderr: " << got.err;
        EXPECT_EQ(got.status, row.status) << show(row.args) << "\nstderr: " << got.err;
        if (row.err.empty())
            EXPECT_EQ(got.err, "") << show(row.args);
        else
            EXPECT_NE(got.err.find(row.err), std::string::npos) << show(row.args) << "\nstderr: " << got.err;
    }
}

// Scripts from a pipe: ans, :unset and :undef, :funcs, :trace, quit and exit.
TEST(LparseLines, AnsRemovalListingAndLeaving) {
    struct Row {
        Args args;
        std::string script, out;
        int status; // 1 when a line reported an error
    };
    const Row rows[] = {
        {{}, "2*3\nans+1\nans*ans\n", "6\n7\n49\n", 0},
        {{}, "4\ng(1)\nans\n", "4\n0\n4\n", 1},            // a line with an error leaves ans alone
        {{}, "ans = 5\n2\nans\n", "2\n5\n", 0},            // the user's ans wins
        {{"ans=9"}, "1\nans\n", "1\n9\n", 0},              // also from the command line
        {{}, "ans = 5\n:unset ans\n3\nans\n", "3\n3\n", 0}, // removed, it is lparse's again
        {{}, "ab = 1\na = 2\n:unset a\na\n", "1\n", 0},     // 'a' now reads 'ab', older
        {{}, "f(a) := a*2\nx = 3\n:unset x\nf(2)\nx\n", "4\n0\n", 0},
        {{}, "f(a) := a*2\ng(b) := b\nf(a) := a*3\n:funcs\n:undef f(a)\n:funcs\ng(5)\n",
         "# replaced: f(a) := a*2\ng(b) := b\nf(a) := a*3\ng(b) := b\n5\n", 0},
        {{}, ":unset\n", "", 1}, {{}, ":trace 9\n", "", 1}, {{}, ":trace 8\n:trace 0\n", "", 0},
        // :math; a removal makes the handle anew, with the host functions again.
        {{}, ":math\nsqrt(16)+floor(pi)\ny = 2\nx = 5\n:unset x\nclamp(y,0,1)+max(1,2,3)\n", "7\n4\n", 0},
        {{}, "1\nquit\n2\n", "1\n", 0}, {{}, "1\n  exit \n2\n", "1\n", 0},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args, row.script);
        EXPECT_EQ(got.out, row.out) << row.script << "\nstderr: " << got.err;
        EXPECT_EQ(got.status, row.status) << row.script << "\nstderr: " << got.err;
    }
    EXPECT_EQ(run_lparse({}, ":unset x\n").err, "lparse: line 1: error: no variable is named 'x'\n");
    EXPECT_EQ(run_lparse({}, ":undef f\n").err, "lparse: line 1: error: no function is named 'f'\n");
}

std::string count_note(const Session &s) { return "\nscreen: " + s.screen; }

// STEPS, then Ctrl-D on an empty line. The line editor shows its prompt
// before it takes the terminal out of line mode, and a Ctrl-D that the
// terminal sees in line mode never reaches the editor; so Ctrl-L goes first,
// and the cleared screen shows that the editor reads the keys itself.
std::vector<Step> then_ctrl_d(std::vector<Step> steps) {
    if (kLineEditor) steps.push_back({"\x0c", "\x1b[2J", 1});
    steps.push_back({"\x04", "", 0});
    return steps;
}

// Ctrl-C drops the line being typed and keeps the session; lines are
// edited and recalled; Ctrl-D leaves, with status 0 after errors, since the
// person saw them.
TEST(LparseTerminal, CtrlCCancelsTheLineAndCtrlDLeaves) {
    const std::vector<Step> steps = then_ctrl_d({
        {"", "> ", 1},
        {"x = 2\r", "x = 2\r\n> ", 1},
        {"y = 7", "y = 7", 1},
        {"\x03", "^C\r\n", 1},
        {"x*5\r", "10\r\n", 1},
        // Ctrl-P recalls the last line; Ctrl-H deletes its last character.
        {kLineEditor ? "\x10\x08" "3\r" : "x*3\r", "6\r\n", 1},
        {"1+\r", "error", 1},
        {":vars\r", "ans = 6\r\n> ", 1},
    });
    const Session s = on_terminal(steps, {"--no-history"});
    if (!s.started) GTEST_SKIP() << s.screen;
    EXPECT_EQ(s.typed, steps.size()) << count_note(s);
    EXPECT_EQ(s.status, 0) << count_note(s);
    EXPECT_EQ(s.screen.find("y = 7\r\n"), std::string::npos) << count_note(s); // never carried out
}

} // namespace
