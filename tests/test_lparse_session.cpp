// test_lparse_session.cpp - lparse's sessions as scripts: ans, removing definitions, leaving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lparse_process.h"

using namespace lparse_test;

namespace {

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
        {{}, ":math\nsqrt(16)+floor(pi())\ny = 2\nx = 5\n:unset x\nclamp(y,0,1)+max(1,2,3)\n", "7\n4\n", 0},
        {{}, "f(x) := " + std::string(128 << 10, '1') + "\n", "", 1}, // a definition over 128 KiB
        {{}, "y = 2\ny =\ny\n", "2\n", 1}, {{}, "f(x) := 2\nf(x) :=\nf(1)\n", "2\n", 1}, // nothing after = or :=
        {{}, "1\nquit\n2\n", "1\n", 0}, {{}, "1\n  exit \n2\n", "1\n", 0}, {{}, ":explain 2*3^2\n", "((2*3)^2)\n36\n", 0},
        // :syntax: '==' and '<=' are no assignments; a removal keeps each function in its grammar.
        {{}, ":syntax standard\nx = 2\nx == 2\nx <= 1\nf(a, b) := a*b\n:syntax\n:syntax defined\ng(x) := x*2\n"
             ":unset x\n:syntax standard\nf(3, 4) + 2^3^2\n:syntax defined\ng(3)\n:syntax odd\n",
         "1\n0\nstandard\n524\n6\n", 1},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args, row.script);
        EXPECT_EQ(got.out, row.out) << row.script << "\nstderr: " << got.err;
        EXPECT_EQ(got.status, row.status) << row.script << "\nstderr: " << got.err;
    }
    EXPECT_EQ(run_lparse({}, ":unset x\n").err, "lparse: line 1: error: no variable is named 'x'\n");
    // Host functions: listed after the user functions, told of when a user function takes a name of
    // theirs, which their calls keep; :undef removes only the user function.
    const Outcome hosts = run_lparse({"--math"}, "sqrt(x) := x*100\n:funcs\n:undef sqrt\nsqrt(4)\n:undef sqrt\n");
    for (const char *line : {"sqrt(x) := x*100\n# host function: sqrt, 1 argument\n",
                             "\n# host function: min, up to 64 arguments\n", "\n# host function: if, 3 arguments\n2\n"})
        EXPECT_NE(hosts.out.find(line), std::string::npos) << line << hosts.out;
    EXPECT_EQ(hosts.err, "lparse: line 1: warning: calls 'sqrt(...)' go to the host function 'sqrt', which comes before user functions, "
                         "so they never use this definition\nlparse: line 5: error: 'sqrt' is a host function; :undef removes user functions\n");
    // Both helps and the manual page list every command, and the page every option of --help.
    const std::string help = run_lparse({"--help"}).out, session_help = run_lparse({}, ":help\n").out;
    const std::string source = __FILE__;
    FILE *man = std::fopen((source.substr(0, source.rfind('/')) + "/../tools/lparse.1").c_str(), "r");
    ASSERT_NE(man, nullptr);
    std::string page = read_back(man);
    for (size_t at = 0; (at = page.find("\\-", at)) != std::string::npos;) page.erase(at, 1);
    for (const char *command : {":vars", ":funcs", ":unset", ":undef", ":tree", ":explain", ":math", ":syntax", ":trace", ":help",
                                ":quit", ":q", ":exit", "quit", "exit"}) {
        EXPECT_NE(help.find(command), std::string::npos) << command;
        EXPECT_NE(session_help.find(command), std::string::npos) << command;
        EXPECT_NE(page.find(command), std::string::npos) << command;
    }
    for (size_t at = 0; (at = help.find(" --", at)) != std::string::npos; ++at) {
        const std::string option = help.substr(at + 1, help.find_first_not_of("-abcdefghijklmnopqrstuvwxyz", at + 3) - at - 1);
        EXPECT_NE(page.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(run_lparse({}, ":undef f\n").err, "lparse: line 1: error: no function is named 'f'\n");
}

// -s FILE runs the file as a script read from standard input would run; a
// file named as an EXPR gets a hint.
TEST(LparseLines, ScriptFromAFile) {
    const std::string path = testing::TempDir() + "lparse_script.lp";
    const std::string script = "#!/usr/bin/env -S lparse -s\nx = 2\nx*y\nq(1)\n";
    FILE *file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs(script.c_str(), file);
    std::fclose(file);
    for (const Args &args : {Args{"-s", path, "y=3"}, Args{"y=3", "-qs" + path}, Args{"--script=-", "y=3"}}) {
        const Outcome got = run_lparse(args, args[0] == "--script=-" ? script : "1\n");
        EXPECT_EQ(got.out, "6\n0\n") << show(args);
        EXPECT_EQ(got.status, 1) << show(args);
        EXPECT_NE(got.err.find("lparse: line 4: error 4"), std::string::npos) << show(args) << got.err;
    }
    // A line ends at LF, CRLF or a lone CR, in a script as in a CSV file.
    for (const std::string eol : {"\n", "\r\n", "\r"}) {
        const Outcome got = run_lparse({"--script=-", "y=3"}, "x = 2" + eol + "x*y" + eol + "q(1)" + eol + eol + "x+1");
        EXPECT_EQ(got.out, "6\n0\n3\n") << testing::PrintToString(eol);
        EXPECT_NE(got.err.find("lparse: line 3: error 4"), std::string::npos) << testing::PrintToString(eol) << got.err;
    }
    EXPECT_EQ(run_lparse({"-s", "/nonexistent.lp"}).err, "lparse: cannot open '/nonexistent.lp': No such file or directory\n");
    EXPECT_EQ(run_lparse({"-s", testing::TempDir()}).status, 1); // a directory cannot be read
    EXPECT_EQ(run_lparse({"-s", path, "x*2"}).status, 2);
    EXPECT_NE(run_lparse({path}).err.find("is also a file; lparse -s FILE runs"), std::string::npos);
}

} // namespace
