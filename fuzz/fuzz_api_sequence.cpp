// fuzz_api_sequence.cpp - a sequence of definitions, calculations and expansions chosen by the input, on one handle.
//
// The input is read as commands: one byte picks the call, the texts and values
// follow it. Redefinitions, the cache and substitution all get exercised. A
// repeated calculation of the cached text must give the same bits as the
// first, unless a definition came between them.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <fuzzer/FuzzedDataProvider.h>

#include "lib_parse/diagnostics.h"
#include "lib_parse.h"
#include "silent_library.h"

namespace {

void visit(void *ctx, int, int, const char *expr, int, int, float) {
    if (expr != nullptr) *static_cast<size_t *>(ctx) += std::strlen(expr);
}

// Short names hit the texts' operands more often than arbitrary strings would.
std::string pick_name(FuzzedDataProvider &in) {
    static const char *const names[] = {"x", "y", "a", "b", "xy", "f", "c", "t"};
    if (in.ConsumeBool()) return names[in.ConsumeIntegralInRange<size_t>(0, 7)];
    return in.ConsumeRandomLengthString(32);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    dbg_set_level(0);
    Parser *p = parser_new();
    std::string last_text;
    float last_value = 0.0f;
    bool cached = false; // last_value is what parser_calc(last_text) gives now
    for (int command = 0; command < 64 && in.remaining_bytes() > 0; ++command) {
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: {
            const std::string name = pick_name(in);
            parser_var(p, name.c_str(), in.ConsumeFloatingPoint<float>());
            cached = false;
            break;
        }
        case 1: {
            const std::string proto = in.ConsumeRandomLengthString(64);
            const std::string body = in.ConsumeRandomLengthString(256);
            parser_func(p, proto.c_str(), body.c_str());
            cached = false;
            break;
        }
        case 2: {
            last_text = in.ConsumeRandomLengthString(1024);
            last_value = parser_calc(p, last_text.c_str());
            cached = true;
            break;
        }
        case 3: {
            const std::string text = in.ConsumeRandomLengthString(1024);
            parser_expand(p, text.c_str());
            cached = false;
            break;
        }
        case 4: {
            // Now and then often enough for the tree to run as machine code,
            // which must give the interpreter's value (any NaN for a NaN: the
            // two may order the operands of "+" or "*" differently).
            const int times = in.ConsumeBool() ? 70 : 1;
            for (int i = 0; i < times; ++i) {
                const float value = parser_calc(p, last_text.c_str());
                if (cached && std::memcmp(&value, &last_value, sizeof value) != 0 &&
                    !(std::isnan(value) && std::isnan(last_value)))
                    __builtin_trap();
                last_value = value;
                cached = true;
            }
            break;
        }
        case 5: {
            int code = -1;
            const int count = parser_errors(p, &code);
            if (count < 0 || (count > 0 && (code < 0 || code > 5))) __builtin_trap();
            break;
        }
        case 6: {
            size_t bytes = 0;
            parser_walk(p, visit, &bytes);
            break;
        }
        default:
            dbg_set_level(in.ConsumeBool() ? 8 : 0);
            break;
        }
    }
    parser_destroy(p);
    dbg_set_level(0);
    return 0;
}
