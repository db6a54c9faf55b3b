// test_lparse.cpp - the lparse calculator driven as a process: values, errors, exit codes and every mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lparse_process.h"

using namespace lparse_test;

namespace {

// One evaluation per run: the value printed as the shortest text that reads
// back to it, errors and warnings with their places, and the exit status.
TEST(LparseOneShot, ValuesErrorsAndExitCodes) {
    struct Row {
        Args args;
        std::string out; // the value is printed even after an error
        int status;
        std::string err_line; // expected on standard error, with the place shown under an error
    };
    const Row rows[] = {
        {{"2*(x+1)-cos(y)", "x=1", "y=0"}, "3", 0, ""}, {{"-f", "f(x)=x*2", "f(3)+1"}, "7", 0, ""},
        {{"--func=g(a,b)=a-b", "g(5,2)"}, "3", 0, ""}, {{"0.1+0.2"}, "0.3", 0, ""}, {{"2^0.5"}, "1.4142135", 0, ""},
        {{"--", "-x", "x=3"}, "-3", 0, ""},
        {{"x", "x=1", "xy=5"}, "1", 0, ""}, // defined longest first: the exact name wins
        // VALUE read as a double, then rounded to a float, as the language reads numbers.
        {{"x+y", "x=16777217.000000000001", "y=1.00000005960464477539062500001"}, "16777216", 0, ""},
        {{"x/y", "x=1e39", "y=-1e-50"}, "-inf", 0, ""},
        // --math: the library's standard set, pi() and e() as calls, min() an error.
        {{"--math", "if(gt(x,1),cbrt(x),sign(0-x))+max(abs(0-e()),1)", "x=27"}, "5.7182817", 0, ""},
        {{"--math", "min()+1"}, "1", 1, error_line(PARSER_ERR_ARGUMENT_COUNT, "wrong number of arguments in 'min()'") + "\n" + place_lines("min()+1", 0, 5)},
        {{"--math", "pi*2"}, "0", 0, "lparse: warning: no variable matches 'pi'; it counts as 0; write pi() to call the host function\n" + place_lines("pi*2", 0, 2)},
        {{"a+b-"}, "0", 1, error_line(PARSER_ERR_TRAILING_OPERATOR, "'b-' ends with an operator: write the operand it needs after it") + "\n" + place_lines("a+b-", 2, 2)},
        {{"-f", "f(x)=f(x)+1", "f(1)"}, "256", 1, error_line(PARSER_ERR_SUBSTITUTION_LIMIT, "the call 'f(1)' needs more substitution than the handle's limits allow") + "\n" + place_lines("f(1)", 0, 4)},
        {{"(1+2"}, "0", 1, "lparse: error: bracket without a partner: the text is read as one operand\n" + place_lines("(1+2", 0, 1)},
        {{"x", "xy=5"}, "5", 0, "lparse: warning: 'x' reads variable 'xy', the newest whose name begins with it"},
        // A variable no expression can name is told how the library reads its name; one it can, nothing.
        {{"x", "x=1", "1e3=2", "2x=3", "x y=4"}, "1", 0, ""},
        {{"x", "x=1", "(x)=2"}, "1", 0, "lparse: warning: '(x)' holds a bracket, so no expression can name it"},
        {{"x", "x=1", "x)=2"}, "1", 0, "lparse: warning: 'x)' is read with an error wherever an expression names it"},
        {{"x", "x=1", "cosx=2"}, "1", 0, "lparse: warning: 'cosx' holds 'cos', so expressions split it there"},
        {{"--bogus", "1"}, "", 2, "lparse: unknown option '--bogus'"},
        // Input in a message is clipped to 40 bytes, before a character it would split, control bytes escaped.
        {{"x", "x=\x1b" + std::string(36, '9') + "\xc3\xa9z"}, "", 2,
         "lparse: 'x=\\x1b" + std::string(36, '9') + "...': VALUE must be a number, such as 2, -0.5 or 1e3"},
        {{"-f", "f=x", "1"}, "", 2, "lparse: -f 'f=x': a function prototype looks like NAME(PARAMS), such as 'f(x)' or 'g(a,b)', not 'f'"},
        {{"-f", "f (x)=x*2", "1"}, "", 2, "lparse: -f 'f (x)=x*2': a function's name holds no blanks: write NAME(PARAMS), such as 'f(x)', not 'f (x)'"},
        {{"--tree", "--csv", "f", "x"}, "", 2, "lparse: --tree, --explain and --dot show one evaluation; they do not combine with --csv or --sweep"},
        {{"--csv", "/nonexistent/file.csv", "x"}, "", 1, "lparse: cannot open '/nonexistent/file.csv': No such file or directory"},
        {{"--csv", ".", "x"}, "", 1, "lparse: cannot read '.': Is a directory"},
        {{"--trace=9", "1"}, "", 2, "lparse: --trace=LEVEL needs a level from 0 (off) to 8 (everything)"},
        {{"--sweep", "x=0:1:-0.5", "x*2"}, "x\tx*2\n0\t0\n0.5\t1\n1\t2", 0, ""}, // STEP's sign follows FROM and TO
        // The standard grammar: its operators, its functions defined by -f, its errors and notes.
        {{"--syntax=standard", "-f", "f(a, b) = a*b + 1", "x == 2 ? f(x, 2^3^2) : -1", "x=2"}, "1025", 0, ""},
        {{"--syntax", "standard", "--explain", "-2^2 + !x", "x=0"}, "((-(2^2))+(!x))\n-3", 0,
         "lparse: warning: '!' of a number"},
        {{"--syntax=standard", "2 * (x", "x=1"}, "nan", 1, error_line(PARSER_ERR_UNBALANCED_BRACKET, "this '(' is never closed") + "\n" + place_lines("2 * (x", 4, 1)},
        {{"--syntax=standard", "x", "x y=1"}, "nan", 1, "lparse: warning: 'x y' is no name of the standard grammar"},
        {{"--syntax=odd", "1"}, "", 2, "lparse: --syntax takes defined or standard, not 'odd'"},
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse(row.args);
        EXPECT_EQ(got.out, row.out.empty() ? "" : row.out + "\n") << show(row.args);
        EXPECT_EQ(got.status, row.status) << show(row.args) << "\nstderr: " << got.err;
        if (row.err_line.empty())
            EXPECT_EQ(got.err, "") << show(row.args);
        else
            EXPECT_NE(got.err.find(row.err_line), std::string::npos)
                << show(row.args) << "\nexpected: " << row.err_line << "\nstderr: " << got.err;
    }
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
    // Past lparse's own limit of 1 MiB a text is refused, its start shown.
    const std::vector<std::string> refused = lines_of(run_lparse({}, std::string((1 << 20) + 1, '1') + "\n").err);
    ASSERT_EQ(refused.size(), 3u);
    EXPECT_EQ(refused[0], "lparse: line 1: " + error_line(PARSER_ERR_TEXT_TOO_LONG, "the text is longer than the limit of 1048576 bytes").substr(8));
    EXPECT_EQ(refused[2], "  ^" + std::string(41, '~'));
}

// The messages of one evaluation, bad CSV rows and bad column names: the
// first five of each, then a line counting the rest.
TEST(LparseOneShot, RepeatedMessagesStopAfterAFewWithACount) {
    struct Row {
        Args args;
        std::string input, first_line, last_line;
        size_t lines;
    };
    std::string bad_rows = "x\n";
    for (int i = 0; i < 8; ++i) bad_rows += "\x1b\n";
    const Row rows[] = {
        {{"a1+a2+a3+a4+a5+a6+a7"}, "", "lparse: warning: no variable matches 'a1'; it counts as 0",
         "lparse: warning: 2 more warnings are not shown", 5 * 3 + 1},
        {{"g(1)+g(2)+g(3)+g(4)+g(5)+g(6)"}, "", error_line(PARSER_ERR_UNKNOWN_FUNCTION, "unknown function 'g'"),
         "lparse: error: 1 more error is not shown", 5 * 3 + 1},
        {{"--csv", "-", "--on-error=skip", "x"}, bad_rows,
         "lparse: warning: row 2, column 1 ('x'): '\\x1b' is not a number; the row is left out",
         "lparse: warning: 3 more bad rows were left out, 8 in all", 6},
        {{"--csv", "-", "x"}, "x,1,2,3,4,5,6,7\n", "lparse: column 2: warning: '1' reads as a number in expressions, so no expression can name it",
         "lparse: warning: 2 more columns have names no expression can read, 7 in all", 6},
    };
    for (const Row &row : rows) {
        const std::vector<std::string> lines = lines_of(run_lparse(row.args, row.input).err);
        ASSERT_EQ(lines.size(), row.lines) << show(row.args);
        EXPECT_EQ(lines.front(), row.first_line) << show(row.args);
        EXPECT_EQ(lines.back(), row.last_line) << show(row.args);
    }
}

TEST(LparseViews, ExplainBracketsEveryOperationAsGrouped) {
    struct Row {
        std::string expr, bracketed, value;
    };
    const Row rows[] = {
        {"2*3^2", "((2*3)^2)", "36"}, {"costly", "cos(tly)", "1"}, {"1-2-3-4", "((1-2)-(3+4))", "-8"},
        {"-x", "(-x)", "0"}, {"2*(1+1)-cos(0)", "((2*(1+1))-cos(0))", "3"}, {"((4))", "4", "4"}, {"x+", "'x+'", "0"},
        {"2*-3", "('2*'-3)", "-1"}, // split at '-' first; '2*' reads as the number 2
        {"clamp(x+1,0,(2))*max(3,pow(2,3))", "(clamp((x+1),0,2)*max(3,pow(2,3)))", "8"}, // a host call's arguments in order
    };
    for (const Row &row : rows) {
        const Outcome got = run_lparse({"--math", "--explain", "-q", "--", row.expr});
        EXPECT_EQ(got.out, row.bracketed + "\n" + row.value + "\n") << row.expr << "\nstderr: " << got.err;
    }
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
    const Outcome traced = run_lparse({"--trace=7", "1+2"});
    EXPECT_EQ(traced.out, "3\n");
    EXPECT_NE(traced.err.find("Expanding left node expr: \"1\""), std::string::npos) << traced.err;
    EXPECT_EQ(run_lparse({"--trace=6", "1+2"}).err.find("Expanding"), std::string::npos);
}

TEST(LparseCsv, WritesEachRowBackWithItsResult) {
    const Outcome got = run_lparse({"--csv", "-", "x*y"}, "x,\"y\"\r\n1,2\r\n\"3\",\" 4 \"\r\n\n-1.5,1e3\ninf,0\n16777217.000000000001,1");
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, "x,\"y\",result\n1,2,2\n\"3\",\" 4 \",12\n-1.5,1e3,-1500\ninf,0,nan\n16777217.000000000001,1,16777216\n");
    EXPECT_EQ(got.err, "");

    // Enough rows to cross a block of 262,144 over one tree, on every core and
    // on one; every result is exact.
    const int rows = 270000;
    std::string input = "n,xy,x\n", want = "n,xy,x,result\n";
    for (int i = 0; i < rows; ++i) {
        const std::string row = std::to_string(i) + "," + std::to_string(-i) + ",0.5";
        input += row + "\n";
        want += row + "," + (i == 0 ? "0.5" : std::to_string(3 * i) + ".5") + "\n";
    }
    // A bad row with --on-error=nan: its warning, and the rows after it.
    EXPECT_EQ(run_lparse({"--csv", "-", "--on-error=nan", "x+y"}, "x,y\n1,2\n3\n5,6\n").out, "x,y,result\n1,2,3\n3,nan\n5,6,11\n");
    for (const char *threads : {"--threads=0", "--threads=1"}) {
        const Outcome many = run_lparse({"--csv", "-", threads, "n*2+x-xy"}, input);
        EXPECT_EQ(many.status, 0) << many.err;
        EXPECT_TRUE(many.out == want) << threads << ": first difference at byte "
                                      << std::mismatch(want.begin(), want.end(), many.out.begin(), many.out.end()).first -
                                             want.begin();
    }
    EXPECT_EQ(run_lparse({"--csv", "-", "--threads=-1", "x"}, "x\n1\n").status, 2); // a usage error
}

// LPARSE_SYNTAX makes the standard grammar a user's default; --syntax still
// decides; the defined grammar's warning on a blank in a name points there.
TEST(LparseOneShot, TheEnvironmentChoosesTheDefaultGrammar) {
    ASSERT_EQ(setenv("LPARSE_SYNTAX", "standard", 1), 0);
    const Outcome standard = run_lparse({"x * 2", "x=3"});
    const Outcome defined = run_lparse({"--syntax=defined", "x * 2", "x=3"});
    ASSERT_EQ(setenv("LPARSE_SYNTAX", "odd", 1), 0);
    const Outcome odd = run_lparse({"1"});
    unsetenv("LPARSE_SYNTAX");
    EXPECT_EQ(standard.out, "6\n");
    EXPECT_EQ(standard.err, "");
    EXPECT_EQ(defined.out, "0\n");
    EXPECT_NE(defined.err.find("blanks belong to names; --syntax=standard (or LPARSE_SYNTAX=standard) reads it"),
              std::string::npos) << defined.err;
    EXPECT_EQ(odd.status, 2);
    EXPECT_NE(odd.err.find("LPARSE_SYNTAX takes defined or standard, not 'odd'"), std::string::npos) << odd.err;
    EXPECT_EQ(run_lparse({"x * 2", "x=3"}).out, "0\n"); // without it, the defined grammar
}

// A field reads as the same digits in a text do, however long; input is
// echoed in messages as printable UTF-8 only, anything else as \xNN.
TEST(LparseCsv, FieldsReadAsTextsAndEchoedInert) {
    const std::string many(5000, '9');
    const Outcome got = run_lparse({"--csv", "-", "--on-error=nan", "x"},
                                   "x\n" + many + "\n-" + many + "\n0." + std::string(5000, '0') + "1\n\xff\xfe\n\xc3\xa9\n\xc2\x85\n");
    const std::vector<std::string> out = lines_of(got.out);
    ASSERT_EQ(out.size(), 7u) << got.out.substr(0, 200);
    EXPECT_EQ(out[1].substr(5000), ",inf");
    EXPECT_EQ(out[2].substr(5001), ",-inf");
    EXPECT_EQ(out[3].substr(5003), ",0");
    EXPECT_EQ(run_lparse({many}).out, "inf\n"); // the same digits in a text
    EXPECT_NE(got.err.find("('x'): '\\xff\\xfe' is not a number"), std::string::npos) << got.err;
    EXPECT_NE(got.err.find("('x'): '\xc3\xa9' is not a number"), std::string::npos) << got.err; // printable: as it is
    EXPECT_NE(got.err.find("('x'): '\\xc2\\x85' is not a number"), std::string::npos) << got.err; // a C1 control
    // The library's notes quote the same way.
    EXPECT_NE(run_lparse({"1+\xff+2"}).err.find("no variable matches '\\xff'"), std::string::npos);
}

// A name no column or variable gives would make every row wrong: refused
// before the first row, in both grammars, and in a sweep.
TEST(LparseCsv, ANameWithoutAColumnIsAnErrorBeforeAnyRow) {
    for (const Args &args : {Args{"--csv", "-", "x*2"}, Args{"--syntax=standard", "--csv", "-", "a + x"}}) {
        const Outcome got = run_lparse(args, "a,b\n1,2\n");
        EXPECT_EQ(got.status, 1) << show(args);
        EXPECT_EQ(got.out, "") << show(args);
        EXPECT_NE(got.err.find("lparse: error: 'x' is no column and no variable: no row is computed"), std::string::npos)
            << show(args) << got.err;
    }
    const Outcome swept = run_lparse({"--sweep", "x=0:1:0.5", "x*k"});
    EXPECT_EQ(swept.status, 1);
    EXPECT_EQ(swept.out, "");
    EXPECT_NE(swept.err.find("'k' is no column and no variable"), std::string::npos) << swept.err;
    EXPECT_EQ(run_lparse({"--sweep", "x=0:1:0.5", "x*k", "k=2"}).out, "x\tx*k\n0\t0\n0.5\t1\n1\t2\n");
}

// A header of 400,000 names is checked and its columns defined in time
// linear in its size: comparing every pair of names, or finding each name
// in a list, would take minutes here, and the test's timeout would end it.
TEST(LparseCsv, AWideHeaderIsReadInLinearTime) {
    constexpr int kColumns = 400000;
    std::string header, row;
    for (int c = 0; c < kColumns; ++c) {
        header += (c > 0 ? ",c" : "c") + std::to_string(c);
        row += (c > 0 ? "," : "") + std::to_string(c % 7);
    }
    const Outcome got = run_lparse({"--csv", "-", "c5+c1"}, header + "\n" + row + "\n");
    EXPECT_EQ(got.status, 0) << got.err;
    EXPECT_EQ(got.out, header + ",result\n" + row + ",6\n");
    // A name again at the very end: found, with both its columns.
    const Outcome twice = run_lparse({"--csv", "-", "c5+c1"}, header + ",c17\n" + row + ",1\n");
    EXPECT_EQ(twice.status, 1);
    EXPECT_EQ(twice.out, "");
    EXPECT_NE(twice.err.find("columns 18 and 400001 are both named 'c17'"), std::string::npos) << twice.err;
}

} // namespace

// Ctrl-C in every mode that is no person's session: the library call running
// stops, the rows computed are written whole, one line says so, exit 130.
TEST(LparseInterrupt, EveryModeWritesWhatItComputedAndExits130) {
    std::string flat = "x";
    while (flat.size() < (size_t{1} << 20) - 8) flat += "*y+x";
    std::string script = "x=2\ny=3\n1\n";
    for (int k = 0; k < 20; ++k) script += flat + "\n"; // seconds of work behind the first value
    script += "2\n";
    std::string rows = "x\n";
    for (int k = 0; k < 3000000; ++k) rows += std::to_string(k % 1000) + "\n";
    const struct {
        Args args;
        const std::string &input;
    } modes[] = {{{}, script}, {{"-s", "-"}, script}, {{"--csv", "-", "cos(x)*sin(x)"}, rows}};
    for (const auto &mode : modes) {
        const Outcome got = run_lparse(mode.args, mode.input, nullptr, true);
        EXPECT_EQ(got.status, 130) << show(mode.args) << got.err;
        EXPECT_EQ(got.err, "lparse: interrupted\n") << show(mode.args);
        const std::vector<std::string> lines = lines_of(got.out);
        ASSERT_FALSE(lines.empty()) << show(mode.args);
        EXPECT_TRUE(got.out.back() == '\n') << show(mode.args); // no row cut in half
        if (mode.args.empty() || mode.args[0] == "-s") {
            EXPECT_EQ(lines, std::vector<std::string>{"1"}) << show(mode.args); // the flat lines never finished
        } else {
            EXPECT_LT(lines.size(), 3000001u); // stopped before the end
            for (size_t k = 1; k < lines.size(); ++k) {
                const std::string x = std::to_string((k - 1) % 1000);
                ASSERT_EQ(lines[k].rfind(x + ",", 0), 0u) << k << ": " << lines[k];
                ASSERT_NE(lines[k], x + ",nan") << k; // no row the stopped call left undone
            }
        }
    }
}
