// test_shared_library.cpp - the shared library, as hosts link it, runs machine code where its build has it.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "robust_support.h"

namespace {

using robust::bits;

// Executable mappings of this process: code made at run time adds one.
int executable_mappings() {
    std::FILE *maps = std::fopen("/proc/self/maps", "r");
    if (maps == nullptr) return -1;
    int count = 0;
    char line[4096];
    char perms[8];
    while (std::fgets(line, sizeof line, maps) != nullptr)
        if (std::sscanf(line, "%*s %7s", perms) == 1 && perms[2] == 'x') ++count;
    std::fclose(maps);
    return count;
}

// The bound path evaluated 100 times (machine code after the 64th) and a
// bulk call of 5,000 rows (vector code) give the interpreter's bits; the
// switch reads 1 and code is mapped where the build has machine code, and
// reads 0 and cannot be raised where it has none.
TEST(SharedLibrary, MachineCodeGivesTheInterpretersBits) {
    const int mappings_before = executable_mappings();
    const char *const texts[] = {"x+y", "2*(x+1)-cos(y)", "(x+1)*(y-2)/(x*y+3)", "x^2%y-log10(y+2)"};
    constexpr int kEvals = 100;
    constexpr size_t kRows = 5000;
    std::vector<float> xs(kRows), ys(kRows), out(kRows), want(kRows);
    for (size_t i = 0; i < kRows; ++i) {
        xs[i] = 0.25f * static_cast<float>(i % 97) - 7.0f;
        ys[i] = 0.5f + static_cast<float>(i % 13);
    }
    const char *names[] = {"x", "y"};
    const float *columns[] = {xs.data(), ys.data()};
    for (const char *text : texts) {
        robust::ParserPtr native_handle(parser_new()), interpreted_handle(parser_new());
        Parser *native = native_handle.get(), *interpreted = interpreted_handle.get();
        EXPECT_EQ(parser_limit(interpreted, PARSER_LIMIT_NATIVE_CODE, 0), LIB_PARSE_TEST_SHARED_JIT);
        float *nx = parser_var_ref(native, "x"), *ny = parser_var_ref(native, "y");
        float *ix = parser_var_ref(interpreted, "x"), *iy = parser_var_ref(interpreted, "y");
        parser_expand(native, text);
        parser_expand(interpreted, text);
        for (int i = 0; i < kEvals; ++i) {
            *nx = *ix = xs[static_cast<size_t>(i)];
            *ny = *iy = ys[static_cast<size_t>(i)];
            ASSERT_EQ(bits(parser_eval(native)), bits(parser_eval(interpreted))) << text << " evaluation " << i;
        }
        ASSERT_EQ(parser_calc_bulk(interpreted, text, names, columns, 2, kRows, want.data()), 0);
        ASSERT_EQ(parser_calc_bulk(native, text, names, columns, 2, kRows, out.data()), 0);
        for (size_t i = 0; i < kRows; ++i) ASSERT_EQ(bits(out[i]), bits(want[i])) << text << " row " << i;
        EXPECT_EQ(parser_limit(native, PARSER_LIMIT_NATIVE_CODE, 1), LIB_PARSE_TEST_SHARED_JIT) << text;
        EXPECT_EQ(parser_limit(native, PARSER_LIMIT_NATIVE_CODE, -1), LIB_PARSE_TEST_SHARED_JIT) << text;
    }
    EXPECT_EQ(executable_mappings() > mappings_before, LIB_PARSE_TEST_SHARED_JIT == 1)
        << mappings_before << " executable mappings before";
}

} // namespace
