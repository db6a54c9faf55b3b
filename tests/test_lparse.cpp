// test_lparse.cpp - the lparse calculator driven as a process: values, errors, exit codes and every mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "lib_parse.h"
#include "lparse_process.h"

namespace {

using lparse_test::Outcome;
using lparse_test::run_lparse;

using Args = std::vector<std::string>;

std::string show(const Args &args) {
    std::string text;
    for (const std::string &a : args) text += " '" + a + "'";
    return text;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string error_line(int code, const std::string &text) {
    return "lparse: error " + std::to_string(code) + ": " + parser_error_text(code) + ": '" + text + "'";
}

TEST(LparseOneShot, PrintsTheShortestTextOfEachValue) {
    struct Row {
        Args args;
        std::string out;
    };
    const Row rows[] = {
        {{"2*(x+1)-cos(y)", "x=1", "y=0"}, "3"},
        {{"-f", "f(x)=x*2", "f(3)+1"}, "7"},
        {{"--func=g(a,b)=a-b", "g(5,2)"}, "3"},
        {{"0.1"}, "0.1"},
        {{"0.1+0.2"}, "0.3"},   // float sum, the float nearest 0.3
        {{"2^0.5"}, "1.4142135"},
        {{"16777217"}, "16777216"}, // rounded to a 32-bit float
        {{"1/0"}, "inf"},
        {{"-1/0"}, "-inf"},
        {{"0/0"}, "nan"},
        {{"2*3^2"}, "36"},
        {{"1-2-3-4"}, "-8"},
        {{"8/2/2/2"}, "1"},
        {{"2^3^2"}, "64"},
        {{"7%4%2"}, "1"},
        {{"-x", "x=3"}, "-3"},
        {{"--", "-x", "x=3"}, "-3"},
        {{"x", "x=1", "xy=5"}, "1"}, // defined longest first: the exact name wins
        {{"x", "xy=5"}, "5"},        // a name finds a variable that begins with it
        {{"A"}, "0"},
        {{"-f", "f(x)=x*2", "f(1+2)"}, "5"},
        {{"-f", "f(x)=x*2", "f((1+2))"}, "6"},
        {{"x", "x=1e3"}, "1000"},
        {{"x", "x=+2.5"}, "2.5"},
        {{"x", "x=-inf"}, "-inf"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args);
        EXPECT_EQ(got.out, row.out + "\n") << show(row.args) << "\nstderr: " << got.err;
        EXPECT_EQ(got.status, 0) << show(row.args) << "\nstderr: " << got.err;
    }
}

TEST(LparseOneShot, ReportsErrorsAndWarningsWithExitCodes) {
    struct Row {
        Args args;
        std::string out;      // the value is printed even after an error
        int status;
        std::string err_line; // one line expected on standard error
    };
    const Row rows[] = {
        {{"x+"}, "0", 1, error_line(PARSER_ERR_TRAILING_OPERATOR, "x+")},
        {{"a+b-"}, "0", 1, error_line(PARSER_ERR_TRAILING_OPERATOR, "b-")},
        {{"g(2)"}, "0", 1, error_line(PARSER_ERR_UNKNOWN_FUNCTION, "g(2)")},
        {{"1+2(3)"}, "3", 1, error_line(PARSER_ERR_UNKNOWN_FUNCTION, "2(3)")},
        {{"-f", "f(x)=f(x)+1", "f(1)"}, "", 1, error_line(PARSER_ERR_SUBSTITUTION_LIMIT, "f(1)")},
        {{"(1+2"}, "0", 1, "lparse: error: unbalanced brackets: '(1+2' is read as one operand"},
        {{"costly"}, "1", 0, "lparse: warning: no variable matches 'tly'; it counts as 0"},
        {{"1e3"}, "0", 0, "lparse: warning: no variable matches '1e3'; it counts as 0"},
        {{"x + 1", "x=2"}, "1", 0, "lparse: warning: no variable matches 'x '; it counts as 0"},
        {{"x", "xy=5"}, "5", 0, "lparse: warning: 'x' reads variable 'xy', the newest whose name begins with it"},
        {{"cosx", "cosx=1"}, "1", 0, "lparse: warning: 'cosx' holds 'cos', so expressions split it there"},
        {{"--bogus", "1"}, "", 2, "lparse: unknown option '--bogus'"},
        {{"1", "2"}, "", 2, "lparse: unexpected argument '2' (one EXPR, then NAME=VALUE pairs)"},
        {{"x", "x=abc"}, "", 2, "lparse: 'x=abc': VALUE must be a number, such as 2, -0.5 or 1e3"},
        {{"x", "=1"}, "", 2, "lparse: '=1': a variable needs a NAME before '='"},
        {{"-f", "nobody", "1"}, "", 2, "lparse: -f expects PROTO=BODY, such as 'f(x)=x*2', not 'nobody'"},
        {{"-f", "f=x", "1"}, "", 2, "lparse: -f 'f=x': a function prototype looks like NAME(PARAMS), such as 'f(x)' or 'g(a,b)', not 'f'"},
        {{"--plot", "x"}, "", 2, "lparse: --plot draws a --sweep; add --sweep VAR=FROM:TO"},
        {{"--csv"}, "", 2, "lparse: option '--csv' needs a value"},
        {{"--tree", "--csv", "f", "x"}, "", 2, "lparse: --tree, --explain and --dot show one evaluation; they do not combine with --csv or --sweep"},
        {{"--sweep", "x=1", "x"}, "", 2, "lparse: --sweep expects VAR=FROM:TO[:STEP], such as x=0:10 or x=-1:1:0.1, not 'x=1'"},
        {{"--sweep", "x=0:1:0", "x"}, "", 2, "lparse: --sweep needs a positive STEP"},
        {{"--sweep", "x=0:1e9:1", "x"}, "", 2, "lparse: --sweep would take more than 10000000 steps; use a larger STEP"},
        {{"--trace=x", "1"}, "", 2, "lparse: --trace=LEVEL needs a level from 0 (off) to 8 (everything)"},
        {{"--csv", "/nonexistent/file.csv", "x"}, "", 1, "lparse: cannot open '/nonexistent/file.csv': No such file or directory"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args);
        if (row.status == 2) {
            EXPECT_EQ(got.out, "") << show(row.args);
        } else if (!row.out.empty()) {
            EXPECT_EQ(got.out, row.out + "\n") << show(row.args);
        }
        EXPECT_EQ(got.status, row.status) << show(row.args) << "\nstderr: " << got.err;
        EXPECT_NE(got.err.find(row.err_line + "\n"), std::string::npos)
            << show(row.args) << "\nexpected: " << row.err_line << "\nstderr: " << got.err;
    }
}

TEST(LparseOneShot, HelpAndVersion) {
    const Outcome help = run_lparse({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: lparse [OPTIONS] EXPR [NAME=VALUE ...]\n", 0), 0u) << help.out;
    for (const char *option : {"--func", "--tree", "--explain", "--dot", "--trace", "--csv", "--sweep", "--plot",
                               "--quiet", "--version", ":vars", ":funcs", ":tree", ":explain", ":trace", ":quit"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    const Outcome version = run_lparse({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lparse ", 0), 0u) << version.out;
}

TEST(LparseViews, ExplainBracketsEveryOperationAsGrouped) {
    struct Row {
        std::string expr;
        std::string bracketed;
        std::string value;
    };
    const Row rows[] = {
        {"2*3^2", "((2*3)^2)", "36"},
        {"costly", "cos(tly)", "1"},
        {"1-2-3-4", "((1-2)-(3+4))", "-8"},
        {"8/2/2/2", "((8/2)/(2*2))", "1"},
        {"2^3^2", "((2^3)^2)", "64"},
        {"7%4%2", "((7%4)%2)", "1"},
        {"-x", "(-x)", "0"},
        {"cos(0)^2", "(cos(0)^2)", "1"},
        {"2*(1+1)-cos(0)", "((2*(1+1))-cos(0))", "3"},
        {"((4))", "4", "4"},
        {"x+", "'x+'", "0"},
        {"2*-3", "('2*'-3)", "-1"}, // split at '-' first; '2*' reads as the number 2
        {"atan(1)*4", "(atan(1)*4)", "3.1415927"},
        {"logn(0-1)", "logn(0-1)", "nan"},
        {"sin(2*0)", "sin(2*0)", "0"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse({"--explain", "-q", row.expr});
        EXPECT_EQ(got.out, row.bracketed + "\n" + row.value + "\n") << row.expr << "\nstderr: " << got.err;
    }
}

TEST(LparseViews, TreeShowsEachNodeIndentedWithItsValue) {
    const Outcome got = run_lparse({"--tree", "2*(x+1)-cos(y)", "x=1", "y=0"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out,
              "-  difference = 3\n"
              "├─ *  product = 4\n"
              "│  ├─ 2  number = 2\n"
              "│  └─ +  sum = 2\n"
              "│     ├─ x  variable 'x' = 1\n"
              "│     └─ 1  number = 1\n"
              "└─ cos  cosine = 1\n"
              "   └─ y  variable 'y' = 0\n"
              "3\n");
    // Surprises are named: an empty operand, a name read through a longer variable, an unsplit text.
    const Outcome odd = run_lparse({"--tree", "-q", "-x+y+", "xy=2"});
    EXPECT_EQ(odd.out, "'-x+y+'  not split: operator at the end = 0\n0\n");
    const Outcome neg = run_lparse({"--tree", "-q", "-x", "xy=2"});
    EXPECT_EQ(neg.out, "-  difference = -2\n├─ ''  empty operand = 0\n└─ x  variable 'xy' = 2\n-2\n");
}

TEST(LparseViews, DotIsOneGraphWithAnEdgePerChild) {
    const Outcome got = run_lparse({"--dot", "2*(x+1)-cos(y)", "x=1", "y=0"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out.rfind("digraph expression {\n", 0), 0u);
    EXPECT_EQ(got.out.substr(got.out.size() - 2), "}\n");
    size_t nodes = 0, edges = 0;
    for (const std::string &line : lines_of(got.out)) {
        if (line.find(" -> ") != std::string::npos)
            ++edges;
        else if (line.find("[label=") != std::string::npos)
            ++nodes;
    }
    EXPECT_EQ(nodes, 8u) << got.out;
    EXPECT_EQ(edges, 7u) << got.out;
    EXPECT_NE(got.out.find("n0 [label=\"-\\n= 3\"];"), std::string::npos) << got.out;
    EXPECT_NE(got.out.find("n7 [label=\"y\\n= 0\", shape=ellipse];"), std::string::npos) << got.out;
}

TEST(LparseViews, TraceSendsLibraryDiagnosticsToStandardError) {
    const Outcome quiet = run_lparse({"1+2"});
    EXPECT_EQ(quiet.err, "");
    const Outcome traced = run_lparse({"--trace=7", "1+2"});
    EXPECT_EQ(traced.out, "3\n");
    EXPECT_NE(traced.err.find("Expanding left node expr: \"1\""), std::string::npos) << traced.err;
    const Outcome level6 = run_lparse({"--trace=6", "1+2"});
    EXPECT_EQ(level6.err.find("Expanding"), std::string::npos) << level6.err;
}

TEST(LparseCsv, WritesEachRowBackWithItsResult) {
    const std::string input = "x,\"y\"\r\n"
                              "1,2\r\n"
                              "\"3\",\" 4 \"\r\n"
                              "\n"
                              "-1.5,1e3\n"
                              "inf,0";
    const Outcome got = run_lparse({"--csv", "-", "x*y"}, input);
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, "x,\"y\",result\n1,2,2\n\"3\",\" 4 \",12\n-1.5,1e3,-1500\ninf,0,nan\n");
    EXPECT_EQ(got.err, "");
}

TEST(LparseCsv, StopsAtABadRowAfterWritingTheRowsBeforeIt) {
    struct Row {
        std::string input;
        std::string out;
        std::string err;
    };
    const Row rows[] = {
        {"x,y\n1,2\n3,4\n5,abc\n7,8\n", "x,y,result\n1,2,3\n3,4,7\n",
         "lparse: row 4, column 2 (y): 'abc' is not a number\n"},
        {"x,y\n1,2\n3\n", "x,y,result\n1,2,3\n", "lparse: row 3: 1 fields, but the header has 2\n"},
        {"x,y\n1,2\n\"3,4\n", "x,y,result\n1,2,3\n",
         "lparse: row 3: a quoted field is not closed before the end of the input\n"},
        {"x,y\n1,\n", "x,y,result\n", "lparse: row 2, column 2 (y): '' is not a number\n"},
        {"", "", "lparse: '-' is empty; its first row must name the variables\n"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse({"--csv", "-", "x+y"}, row.input);
        EXPECT_EQ(got.status, 1) << row.input;
        EXPECT_EQ(got.out, row.out) << row.input;
        EXPECT_EQ(got.err, row.err) << row.input;
    }
}

TEST(LparseCsv, StreamsManyBlocksOverOneTree) {
    // Enough rows to cross many blocks; every result is exact in floats.
    const int rows = 5000;
    std::string input = "n,xy,x\n";
    for (int i = 0; i < rows; ++i) input += std::to_string(i) + "," + std::to_string(-i) + ",0.5\n";
    const Outcome got = run_lparse({"--csv", "-", "n*2+x-xy"}, input);
    ASSERT_EQ(got.status, 0) << got.err;
    const std::vector<std::string> lines = lines_of(got.out);
    ASSERT_EQ(lines.size(), static_cast<size_t>(rows + 1));
    EXPECT_EQ(lines[0], "n,xy,x,result");
    for (int i = 0; i < rows; ++i) {
        const std::string want = std::to_string(i) + "," + std::to_string(-i) + ",0.5," +
                                 (i == 0 ? "0.5" : std::to_string(3 * i) + ".5");
        if (lines[static_cast<size_t>(i) + 1] != want) {
            ADD_FAILURE() << "row " << i + 2 << ": " << lines[static_cast<size_t>(i) + 1] << " != " << want;
            break;
        }
    }
}

TEST(LparseCsv, ExpressionErrorsAreReportedOnceAndRowsStillWritten) {
    const Outcome got = run_lparse({"--csv", "-", "x+"}, "x\n1\n2\n");
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "x,result\n1,0\n2,0\n");
    EXPECT_EQ(got.err, error_line(PARSER_ERR_TRAILING_OPERATOR, "x+") + "\n");
}

TEST(LparseLines, RunsAScriptFromAPipe) {
    const std::string script = "# a script\n"
                               "x = 3\n"
                               "2*x\r\n"
                               "f(a) := a*2\n"
                               "f(x)+1\n"
                               "y+\n"
                               "x + 1\n"
                               "g(x) = 2\n"
                               ":vars\n"
                               ":funcs\n"
                               ":explain 2*3^2\n"
                               ":tree x\n"
                               ":nope\n"
                               "\n"
                               ":quit\n"
                               "99\n";
    const Outcome got = run_lparse({}, script);
    EXPECT_EQ(got.status, 1);
    EXPECT_EQ(got.out, "6\n7\n0\n1\nx = 3\nf(a) := a*2\n((2*3)^2)\n36\nx  variable 'x' = 3\n");
    EXPECT_EQ(got.err, "lparse: line 6: " + error_line(PARSER_ERR_TRAILING_OPERATOR, "y+").substr(8) + "\n" +
                           "lparse: line 7: warning: no variable matches 'x '; it counts as 0\n"
                           "lparse: line 8: error: to define a function write PROTO := BODY, such as f(x) := x*2\n"
                           "lparse: line 13: error: unknown command ':nope'; :help lists the commands\n");
}

TEST(LparseLines, CleanScriptExitsZeroAndKeepsCommandLineDefinitions) {
    const Outcome got = run_lparse({"-f", "h(t)=t*t", "k=2"}, "h(k)\nk = k+1\nh(k)\n:trace 0\n");
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, "4\n9\n");
    EXPECT_EQ(got.err, "");
}

TEST(LparseSweep, PrintsATableOfTheRange) {
    const Outcome got = run_lparse({"--sweep", "x=0:1:0.25", "x^2"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "x\tx^2\n0\t0\n0.25\t0.0625\n0.5\t0.25\n0.75\t0.5625\n1\t1\n");
    const Outcome down = run_lparse({"--sweep", "t=1:-1:1", "t*k", "k=3"});
    EXPECT_EQ(down.out, "t\tt*k\n1\t3\n0\t0\n-1\t-3\n");
    const Outcome fine = run_lparse({"--sweep", "x=0:2", "x"});
    EXPECT_EQ(lines_of(fine.out).size(), 22u); // header and 20 intervals by default
}

TEST(LparseSweep, PlotsTheCurveWithBrailleAndLabelledAxes) {
    const Outcome got = run_lparse({"--sweep", "x=-10:10", "--plot", "sin(x)*x"});
    ASSERT_EQ(got.status, 0) << got.err;
    const std::vector<std::string> lines = lines_of(got.out);
    ASSERT_EQ(lines.size(), 16u + 3u) << got.out; // title, 16 rows, axis, labels
    EXPECT_EQ(lines[0], "sin(x)*x");
    // Braille cells are U+2800 to U+28FF: E2 A0..A3 in UTF-8.
    size_t dots = 0;
    for (size_t i = 1; i + 1 < lines.size(); ++i)
        for (size_t at = lines[i].find("\xE2"); at != std::string::npos; at = lines[i].find("\xE2", at + 1))
            if (at + 1 < lines[i].size() && (static_cast<unsigned char>(lines[i][at + 1]) & 0xFC) == 0xA0) ++dots;
    EXPECT_GT(dots, 100u) << got.out;
    // The top label is the maximum of x*sin(x) over the sampled range, about 7.9.
    EXPECT_EQ(lines[1].find("7.9"), lines[1].find_first_not_of(' ')) << lines[1];
    EXPECT_NE(lines[1].find("┤"), std::string::npos);
    EXPECT_NE(lines[16].find("-5.4"), std::string::npos) << lines[16];
    EXPECT_NE(lines[17].find("└──"), std::string::npos);
    EXPECT_NE(lines[18].find("-10"), std::string::npos);
    EXPECT_NE(lines[18].find(" 0 "), std::string::npos);
    EXPECT_EQ(lines[18].substr(lines[18].size() - 5), "10  x");

    const Outcome none = run_lparse({"--sweep", "x=1:2", "--plot", "0/0"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "lparse: 0/0 has no finite value between 1 and 2\n");
}

TEST(LparseTerminal, InteractiveSessionEditsAndRecallsLines) {
    lparse_test::Terminal term;
    std::string why;
    if (!term.start(&why)) GTEST_SKIP() << why;
    const int wait = 20000; // generous: sanitizer builds start slowly
    ASSERT_TRUE(term.wait_for("> ", 1, wait)) << term.screen();
    term.type("x = 21\r");
    ASSERT_TRUE(term.wait_for("x = 21\r\n", 2, wait)) << term.screen(); // the echo, then the answer
    term.type("x*2\r");
    ASSERT_TRUE(term.wait_for("42", 1, wait)) << term.screen();
#ifdef LPARSE_HAVE_LIBEDIT
    // Ctrl-P recalls the last line, Ctrl-H deletes a character before it is run again.
    term.type("\x10\x08"
              "3\r");
    ASSERT_TRUE(term.wait_for("63", 1, wait)) << term.screen();
#endif
    term.type(":quit\r");
    EXPECT_EQ(term.finish(wait), 0) << term.screen();
}

} // namespace
