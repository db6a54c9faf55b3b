// square_sweep.cpp - x^2 over every float, through parser_calc_bulk with and
// without machine code, against (float)pow((double)x, 2.0): the bits must be
// the same for each of the 2^32 inputs, NaN payloads included.
//
// Usage: square_sweep [STEP]  (STEP > 1 checks every STEP-th input only)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib_parse.h"

namespace {

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

} // namespace

int main(int argc, char **argv) {
    const uint64_t step = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    if (step == 0) return 2;
    constexpr size_t kChunk = size_t{1} << 22;
    std::vector<float> x(kChunk), want(kChunk), got(kChunk);
    Parser *ways[2] = {parser_new(), parser_new()};
    parser_limit(ways[1], PARSER_LIMIT_NATIVE_CODE, 0); // bulk blocks
    const char *names[] = {"x"};
    uint64_t checked = 0, differing = 0;
    for (uint64_t next = 0; next <= UINT32_MAX;) {
        size_t n = 0;
        for (; n < kChunk && next <= UINT32_MAX; ++n, next += step) {
            const uint32_t b = static_cast<uint32_t>(next);
            std::memcpy(&x[n], &b, sizeof b);
            want[n] = static_cast<float>(std::pow(static_cast<double>(x[n]), 2.0));
        }
        const float *columns[] = {x.data()};
        for (Parser *p : ways) {
            if (parser_calc_bulk(p, "x^2", names, columns, 1, n, got.data()) != 0) return 1;
            for (size_t i = 0; i < n; ++i) {
                if (bits(got[i]) == bits(want[i])) continue;
                if (++differing <= 10)
                    std::printf("x = 0x%08x: 0x%08x, pow gives 0x%08x (%s)\n", bits(x[i]), bits(got[i]), bits(want[i]),
                                p == ways[0] ? "machine code" : "blocks");
            }
        }
        checked += n;
    }
    std::printf("%llu inputs, 2 ways each: %llu differing\n", static_cast<unsigned long long>(checked),
                static_cast<unsigned long long>(differing));
    for (Parser *p : ways) parser_destroy(p);
    return differing == 0 ? 0 : 1;
}
