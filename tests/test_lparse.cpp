// test_lparse.cpp - the lparse calculator driven as a process: values, errors, exit codes and every mode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lparse_process.h"

using namespace lparse_test;

namespace {

TEST(LparseOneShot, PrintsTheShortestTextOfEachValue) {
    struct Row {
        Args args;
        std::string out;
    };
    const Row rows[] = {
        {{"2*(x+1)-cos(y)", "x=1", "y=0"}, "3"}, {{"-f", "f(x)=x*2", "f(3)+1"}, "7"}, {{"--func=g(a,b)=a-b", "g(5,2)"}, "3"},
        {{"0.1+0.2"}, "0.3"}, // float sum, the float nearest 0.3
        {{"2^0.5"}, "1.4142135"}, {{"1/0"}, "inf"}, {{"-1/0"}, "-inf"}, {{"0/0"}, "nan"}, {{"--", "-x", "x=3"}, "-3"},
        {{"x", "x=1", "xy=5"}, "1"}, // defined longest first: the exact name wins
        {{"x", "x=1e3"}, "1000"}, {{"x", "x=-inf"}, "-inf"},
        {{"--math", "clamp(sqrt(x), 0, 2)", "x=9"}, "2"}, {{"--math", "min(4,pow(2,3),hypot(3,4))+floor(pi)"}, "7"},
        {{"--math", "atan2(0,1)+abs(0-e)"}, "2.7182817"}, {{"--math", "max()"}, "nan"},
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
        std::string out; // the value is printed even after an error
        int status;
        std::string err_line; // expected on standard error, with the place shown under an error
    };
    const Row rows[] = {
        {{"x+"}, "0", 1, error_line(PARSER_ERR_TRAILING_OPERATOR) + "\n" + place_lines("x+", 0, 2)},
        {{"a+b-"}, "0", 1, error_line(PARSER_ERR_TRAILING_OPERATOR) + "\n" + place_lines("a+b-", 2, 2)},
        {{"g(2)"}, "0", 1, error_line(PARSER_ERR_UNKNOWN_FUNCTION) + "\n" + place_lines("g(2)", 0, 4)},
        {{"1+2(3)"}, "3", 1, error_line(PARSER_ERR_UNKNOWN_FUNCTION) + "\n" + place_lines("1+2(3)", 2, 4)},
        {{"-f", "f(x)=f(x)+1", "f(1)"}, "256", 1, error_line(PARSER_ERR_SUBSTITUTION_LIMIT) + "\n" + place_lines("f(1)", 0, 4)},
        {{"(1+2"}, "0", 1, "lparse: error: bracket without a partner: the text is read as one operand\n" + place_lines("(1+2", 0, 1)},
        {{"2cos(0)"}, "1", 0, "lparse: warning: '2' next to 'cos' is dropped: a function takes only the text after its name\n" + place_lines("2cos(0)", 0, 1)},
        {{"costly"}, "1", 0, "lparse: warning: no variable matches 'tly'; it counts as 0"},
        {{"x", "xy=5"}, "5", 0, "lparse: warning: 'x' reads variable 'xy', the newest whose name begins with it"},
        {{"cosx", "cosx=1"}, "1", 0, "lparse: warning: 'cosx' holds 'cos', so expressions split it there"},
        {{"--bogus", "1"}, "", 2, "lparse: unknown option '--bogus'"},
        {{"1", "2"}, "", 2, "lparse: unexpected argument '2' (one EXPR, then NAME=VALUE pairs)"},
        {{"x", "x=abc"}, "", 2, "lparse: 'x=abc': VALUE must be a number, such as 2, -0.5 or 1e3"},
        {{"-f", "nobody", "1"}, "", 2, "lparse: -f expects PROTO=BODY, such as 'f(x)=x*2', not 'nobody'"},
        {{"-f", "f=x", "1"}, "", 2, "lparse: -f 'f=x': a function prototype looks like NAME(PARAMS), such as 'f(x)' or 'g(a,b)', not 'f'"},
        {{"--plot", "x"}, "", 2, "lparse: --plot draws a --sweep; add --sweep VAR=FROM:TO"},
        {{"--csv"}, "", 2, "lparse: option '--csv' needs a value"},
        {{"--tree", "--csv", "f", "x"}, "", 2, "lparse: --tree, --explain and --dot show one evaluation; they do not combine with --csv or --sweep"},
        {{"--sweep", "x=1", "x"}, "", 2, "lparse: --sweep expects VAR=FROM:TO[:STEP], such as x=0:10 or x=-1:1:0.1, not 'x=1'"},
        {{"--sweep", "x=0:1e9:1", "x"}, "", 2, "lparse: --sweep would take more than 10000000 steps; use a larger STEP"},
        {{"--sweep", "x=0:1:-0.5", "x"}, "", 2, "lparse: --sweep: a negative STEP counts down, but TO is above FROM"},
        {{"--sweep", "x=0:1e39", "x"}, "", 2, "lparse: --sweep needs finite FROM and TO"},
        {{"--sweep", "x=0:1", "--plot=round", "x"}, "", 2, "lparse: --plot=STYLE takes ascii or braille, not 'round'"},
        {{"--csv", "/nonexistent/file.csv", "x"}, "", 1, "lparse: cannot open '/nonexistent/file.csv': No such file or directory"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args);
        EXPECT_EQ(got.out, row.out.empty() ? "" : row.out + "\n") << show(row.args);
        EXPECT_EQ(got.status, row.status) << show(row.args) << "\nstderr: " << got.err;
        EXPECT_NE(got.err.find(row.err_line), std::string::npos)
            << show(row.args) << "\nexpected: " << row.err_line << "\nstderr: " << got.err;
    }
    const Outcome help = run_lparse({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: lparse [OPTIONS] EXPR [NAME=VALUE ...]\n", 0), 0u) << help.out;
    const Outcome version = run_lparse({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("lparse ", 0), 0u) << version.out;
}

// A place in a long text is shown in a window around it: a megabyte-long
// unbalanced text costs a few lines, not a megabyte, on standard error.
TEST(LparseOneShot, ShowsAPlaceInALongTextClipped) {
    const std::string text = std::string(500000, '1') + "+(" + std::string(500000, '2');
    const Outcome got = run_lparse({}, text + "\n");
    EXPECT_EQ(got.status, 1);
    EXPECT_LT(got.err.size(), 1024u) << got.err.substr(0, 2000);
    const std::vector<std::string> lines = lines_of(got.err);
    ASSERT_EQ(lines.size(), 3u) << got.err.substr(0, 2000);
    EXPECT_EQ(lines[0], "lparse: line 1: error: bracket without a partner: the text is read as one operand");
    EXPECT_EQ(lines[1], "  ..." + std::string(29, '1') + "+(" + std::string(41, '2') + "...");
    EXPECT_EQ(lines[2], std::string(2 + 3 + 30, ' ') + "^"); // 30 bytes shown before the place
    // Past lparse's own limit of 16 MiB a text is refused, its start shown.
    const std::vector<std::string> refused = lines_of(run_lparse({}, std::string((16 << 20) + 1, '1') + "\n").err);
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0], "lparse: line 1: " + error_line(PARSER_ERR_TEXT_TOO_LONG).substr(8));
    EXPECT_EQ(refused[2], "  ^" + std::string(41, '~'));
}

TEST(LparseViews, ExplainBracketsEveryOperationAsGrouped) {
    struct Row {
        std::string expr, bracketed, value;
    };
    const Row rows[] = {
        {"2*3^2", "((2*3)^2)", "36"}, {"costly", "cos(tly)", "1"}, {"1-2-3-4", "((1-2)-(3+4))", "-8"},
        {"-x", "(-x)", "0"}, {"2*(1+1)-cos(0)", "((2*(1+1))-cos(0))", "3"}, {"((4))", "4", "4"}, {"x+", "'x+'", "0"},
        {"2*-3", "('2*'-3)", "-1"}, // split at '-' first; '2*' reads as the number 2
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse({"--explain", "-q", "--", row.expr});
        EXPECT_EQ(got.out, row.bracketed + "\n" + row.value + "\n") << row.expr << "\nstderr: " << got.err;
    }
    // A host function's call shows its arguments in order.
    const Outcome got = run_lparse({"--math", "--explain", "-q", "--", "clamp(x+1,0,(2))*max(3,pow(2,x))", "x=3"});
    EXPECT_EQ(got.out, "(clamp((x+1),0,2)*max(3,pow(2,x)))\n16\n") << got.err;
}

TEST(LparseViews, TreeDotAndTrace) {
    const Outcome tree = run_lparse({"--tree", "2*(x+1)-cos(y)", "x=1", "y=0"});
    EXPECT_EQ(tree.status, 0);
    EXPECT_EQ(tree.out,
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
    EXPECT_EQ(run_lparse({"--tree", "-q", "--", "-x+y+", "xy=2"}).out, "'-x+y+'  not split: operator at the end = 0\n0\n");
    EXPECT_EQ(run_lparse({"--tree", "-q", "--", "-x", "xy=2"}).out,
              "-  difference = -2\n├─ ''  empty operand = 0\n└─ x  variable 'xy' = 2\n-2\n");

    // One graph with a node per tree node and an edge per child.
    const Outcome dot = run_lparse({"--dot", "2*(x+1)-cos(y)", "x=1", "y=0"});
    EXPECT_EQ(dot.status, 0);
    const std::vector<std::string> lines = lines_of(dot.out);
    ASSERT_EQ(lines.size(), 18u) << dot.out; // the graph, a line per node and per edge
    EXPECT_TRUE(lines.front() == "digraph expression {" && lines.back() == "}") << dot.out;
    EXPECT_NE(dot.out.find("n0 [label=\"-\\n= 3\"];"), std::string::npos) << dot.out;
    EXPECT_NE(dot.out.find("n7 [label=\"y\\n= 0\", shape=ellipse];"), std::string::npos) << dot.out;

    // The library's diagnostics go to standard error at the level asked for.
    EXPECT_EQ(run_lparse({"1+2"}).err, "");
    const Outcome traced = run_lparse({"--trace=7", "1+2"});
    EXPECT_EQ(traced.out, "3\n");
    EXPECT_NE(traced.err.find("Expanding left node expr: \"1\""), std::string::npos) << traced.err;
    EXPECT_EQ(run_lparse({"--trace=6", "1+2"}).err.find("Expanding"), std::string::npos);
}

TEST(LparseCsv, WritesEachRowBackWithItsResult) {
    const Outcome got = run_lparse({"--csv", "-", "x*y"}, "x,\"y\"\r\n1,2\r\n\"3\",\" 4 \"\r\n\n-1.5,1e3\ninf,0");
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, "x,\"y\",result\n1,2,2\n\"3\",\" 4 \",12\n-1.5,1e3,-1500\ninf,0,nan\n");
    EXPECT_EQ(got.err, "");

    // Enough rows to cross many blocks over one tree; every result is exact.
    const int rows = 5000;
    std::string input = "n,xy,x\n", want = "n,xy,x,result\n";
    for (int i = 0; i < rows; ++i) {
        const std::string row = std::to_string(i) + "," + std::to_string(-i) + ",0.5";
        input += row + "\n";
        want += row + "," + (i == 0 ? "0.5" : std::to_string(3 * i) + ".5") + "\n";
    }
    const Outcome many = run_lparse({"--csv", "-", "n*2+x-xy"}, input);
    EXPECT_EQ(many.status, 0) << many.err;
    EXPECT_TRUE(many.out == want) << "first difference at byte "
                                 << std::mismatch(want.begin(), want.end(), many.out.begin(), many.out.end()).first - want.begin();
}

// Only the columns the expression reads, as the calculator looks names up,
// must hold numbers. A bad row stops the run after the rows before it are
// written, unless --on-error says otherwise; an error in the expression is
// reported once and every row is still written.
TEST(LparseCsv, ColumnsReadBadRowsAndBadExpressions) {
    struct Row {
        Args args;
        std::string input, out;
        int status;
        std::string err;
    };
    const std::string bad = "x,y\n1,2\n3\n4,z\n5,6\n";
    const Row rows[] = {
        {{"x+y"}, "x,y\n1,2\n3,4\n5,abc\n7,8\n", "x,y,result\n1,2,3\n3,4,7\n", 1, "lparse: row 4, column 2 (y): 'abc' is not a number\n"},
        {{"x+y"}, "x,y\n1,2\n\"3,4\n", "x,y,result\n1,2,3\n", 1, "lparse: row 3: a quoted field is not closed before the end of the input\n"},
        {{"x+y"}, "", "", 1, "lparse: '-' is empty; its first row must name the variables\n"},
        {{"x+"}, "x\n1\n2\n", "x,result\n1,0\n2,0\n", 1, error_line(PARSER_ERR_TRAILING_OPERATOR) + "\n" + place_lines("x+", 0, 2)},
        {{"x+y"}, "\xEF\xBB\xBFx,y\n1,2\n", "x,y,result\n1,2,3\n", 0, ""},
        {{"x"}, "xy,x\nabc,2\n", "xy,x,result\nabc,2,2\n", 0, ""}, // 'x' reads x, not xy
        {{"-q", "x"}, "x1,name\nq,bob\n", "x1,name,result\n", 1, "lparse: row 2, column 1 (x1): 'q' is not a number\n"},
        {{"-f", "f(a)=a*y", "f(x)"}, "x,y,z\n2,3,hi\n", "x,y,z,result\n2,3,hi,6\n", 0, ""},
        {{"x+y", "--on-error=nan"}, bad, "x,y,result\n1,2,3\n3,nan\n4,z,nan\n5,6,11\n", 0,
         "lparse: warning: row 3: 1 field, but the header has 2; its result is nan\n"
         "lparse: warning: row 4, column 2 (y): 'z' is not a number; its result is nan\n"},
        {{"x+y", "--on-error", "skip"}, bad, "x,y,result\n1,2,3\n5,6,11\n", 0,
         "lparse: warning: row 3: 1 field, but the header has 2; the row is left out\n"
         "lparse: warning: row 4, column 2 (y): 'z' is not a number; the row is left out\n"},
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
    const Outcome nul = run_lparse({}, std::string("1\n2\0+3\n4\n", 9));
    EXPECT_EQ(nul.out, "1\n4\n");
    EXPECT_EQ(nul.err, "lparse: line 2: error: the line contains a NUL byte, so it is not run\n");
    EXPECT_EQ(got.out, "6\n7\n0\n1\nx = 3\nans = 1\nf(a) := a*2\n((2*3)^2)\n36\nx  variable 'x' = 3\n");
    EXPECT_EQ(got.err, "lparse: line 6: " + error_line(PARSER_ERR_TRAILING_OPERATOR).substr(8) + "\n" +
                           place_lines("y+", 0, 2) + "lparse: line 7: warning: no variable matches 'x '; it counts as 0\n" +
                           place_lines("x + 1", 0, 2) +
                           "lparse: line 8: error: to define a function write PROTO := BODY, such as f(x) := x*2\n"
                           "lparse: line 13: error: unknown command ':nope'; :help lists the commands\n");
    // A clean script exits 0 and keeps the command line's definitions.
    const Outcome clean = run_lparse({"-f", "h(t)=t*t", "k=2"}, "h(k)\nk = k+1\nh(k)\n:trace 0\n");
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, "4\n9\n");
    EXPECT_EQ(clean.err, "");
}

} // namespace
