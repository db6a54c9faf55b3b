// main.cpp - a C++ host of lib_parse: the RAII wrapper, a sweep over one tree, and a look at the tree.
#include <cstdio>
#include <string>

#include "lib_parse.hpp"

int main() {
    lib_parse::Parser parser; // released when it goes out of scope
    parser.func("g(a,b)", "a-b");
    parser.var("k", 0.5f);

    const std::string text = "g(t,1)*k";
    for (float t = 0.0f; t <= 4.0f; t += 1.0f) {
        parser.var("t", t);
        std::printf("t = %g: %s = %g\n", t, text.c_str(), parser.calc(text));
    }

    // The tree of the last text, one node a line: '^' binds more loosely than '*'.
    parser.calc("2*3^2");
    parser.walk([](int depth, int, const char *expr, int op, int, float value) {
        std::printf("%*s%s%s = %g\n", depth * 2, "", expr != nullptr ? expr : "",
                    op == PARSER_OP_OPERAND ? "" : " (operation)", value);
    });
    std::printf("errors: %zu\n", parser.errors().size());
    return 0;
}
