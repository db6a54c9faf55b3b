// using_std_host.cpp - every public header in a C++ host that says "using namespace std" before them.
#include <exception>
#include <stdexcept>
using namespace std;

#include "lib_parse.h"
#include "lib_parse.hpp"
#include "lib_parse/diagnostics.h"

int main() {
    int caught = 0;
    try {
        throw runtime_error("host");
    } catch (const exception &) { // std::exception: the header declares no global exception
        ++caught;
    }
    int reports = 0;
    exception_set_handler([](void *ctx, const char *, int, int) { ++*static_cast<int *>(ctx); }, &reports);
    lib_parse::exception("host", 1, 2);
    lib_parse::Parser parser;
    const float value = parser.calc("x+");
    exception_set_handler(nullptr, nullptr);
    return caught == 1 && reports == 2 && value == 0.0f ? 0 : 1;
}
