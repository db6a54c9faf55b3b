// wrapper_rejects_generic.cpp - must not compile: a generic lambda fits every
// count of floats, so native_func cannot tell which count a call must have.
#include "lib_parse.hpp"

int main() {
    lib_parse::Parser parser;
    return parser.native_func("f", [](auto... xs) { return (0.0f + ... + xs); });
}
