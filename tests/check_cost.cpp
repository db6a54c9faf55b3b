// check_cost.cpp - builds or checks one large text of a given shape; check_cost.sh runs it under callgrind
// to compare the instructions a check takes with those its build takes.
#include <cstdio>
#include <cstring>
#include <string>

#include "lib_parse.h"

namespace {

std::string repeated(const char *piece, const char *last, size_t limit = size_t{64} << 10) {
    std::string text;
    while (text.size() + std::strlen(piece) + std::strlen(last) <= limit) text += piece;
    return text + last;
}

// The shapes whose checks once took time quadratic in the length, and texts
// full of the traps a check reports.
std::string shape(const char *name) {
    if (std::strcmp(name, "functions") == 0) return repeated("cos", "1", size_t{256} << 10); // the default limit
    if (std::strcmp(name, "dropped") == 0) return repeated("2cos(0)+", "1");
    if (std::strcmp(name, "names") == 0) return repeated("zz+", "1");
    if (std::strcmp(name, "numbers") == 0) return repeated("7 8+", "1");
    return repeated("(x+1)*y+", "1");
}

} // namespace

// The only functions callgrind counts (--toggle-collect=measured_*).
extern "C" [[gnu::noinline]] void measured_build(Parser *p, const char *text) { parser_expand(p, text); }
extern "C" [[gnu::noinline]] void measured_check(Parser *p, const char *text) { parser_check(p, text, nullptr, nullptr); }

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: check_cost build|check SHAPE\n");
        return 2;
    }
    Parser *p = parser_new();
    parser_var(p, "x", 1.0f);
    parser_var(p, "y", 2.0f);
    const std::string text = shape(argv[2]);
    if (std::strcmp(argv[1], "check") == 0)
        measured_check(p, text.c_str());
    else
        measured_build(p, text.c_str());
    parser_destroy(p);
    return 0;
}
