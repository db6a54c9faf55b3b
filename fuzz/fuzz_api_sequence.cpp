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

#include "lib_parse.h"
#include "lib_parse/diagnostics.h"
#include "silent_library.h"

namespace {

void visit(void *ctx, int, int, const char *expr, int, int, float) {
    if (expr != nullptr) *static_cast<size_t *>(ctx) += std::strlen(expr);
}

// A note's place lies within the text checked.
void note(void *ctx, int, size_t offset, size_t length, const char *message) {
    if (offset + length > *static_cast<size_t *>(ctx) || message == nullptr) __builtin_trap();
}

// Short names hit the texts' operands more often than arbitrary strings would.
std::string pick_name(FuzzedDataProvider &in) {
    static const char *const names[] = {"x", "y", "a", "b", "xy", "f", "c", "t"};
    if (in.ConsumeBool()) return names[in.ConsumeIntegralInRange<size_t>(0, 7)];
    return in.ConsumeRandomLengthString(32);
}

// Host functions with values fixed by their arguments, so a repeated
// calculation still gives the same bits; one reads its context.
float sum_args(void *, const float *args, int n) {
    float s = 0.0f;
    for (int k = 0; k < n; ++k) s += args[k];
    return s;
}
float scaled_first(void *ctx, const float *args, int n) { return n > 0 ? args[0] * *static_cast<float *>(ctx) : 1.0f; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    dbg_set_level(0);
    Parser *p = parser_new();
    std::string last_text, given; // given: the text of the last tree built
    float last_value = 0.0f;
    float scale = 3.0f;
    bool cached = false; // last_value is what parser_calc(last_text) gives now
    for (int command = 0; command < 64 && in.remaining_bytes() > 0; ++command) {
        switch (in.ConsumeIntegralInRange<int>(0, 11)) {
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
            last_text = given = in.ConsumeRandomLengthString(1024);
            last_value = parser_calc(p, last_text.c_str());
            cached = true;
            break;
        }
        case 3: {
            given = in.ConsumeRandomLengthString(1024);
            parser_expand(p, given.c_str());
            cached = false;
            break;
        }
        case 4: {
            given = last_text;
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
            // Every entry has a known code and a place inside the text built.
            int code = -1;
            size_t offset = 0, length = 0;
            const int count = parser_errors(p, nullptr);
            for (int i = 0; i < count; ++i)
                if (parser_error_at(p, i, &code, &offset, &length) != 0 || code < 0 || code > PARSER_ERR_OTHER_SYNTAX ||
                    code == PARSER_ERR_BUSY || offset + length > given.size())
                    __builtin_trap();
            if (parser_error_at(p, count, &code, nullptr, nullptr) != -1) __builtin_trap();
            break;
        }
        case 6: {
            size_t bytes = 0;
            parser_walk(p, visit, &bytes);
            break;
        }
        case 7: {
            // A check leaves the handle as it was: the cached value stands.
            const std::string text = in.ConsumeRandomLengthString(1024);
            size_t size = text.size();
            if (parser_check(p, text.c_str(), note, &size) < 0) __builtin_trap();
            break;
        }
        case 8:
            parser_limit(p, in.ConsumeIntegralInRange<int>(0, 4), in.ConsumeIntegralInRange<long long>(-1, 300));
            cached = false;
            break;
        case 9: {
            // Define, replace or remove a host function; names the texts use
            // often, or any bytes (which the call may refuse).
            static const char *const names[] = {"f", "g", "clamp", "x", "sum", "cos"};
            const std::string name =
                in.ConsumeBool() ? names[in.ConsumeIntegralInRange<size_t>(0, 5)] : in.ConsumeRandomLengthString(16);
            const int n_args = in.ConsumeIntegralInRange<int>(-2, 4);
            const int which = in.ConsumeIntegralInRange<int>(0, 2);
            parser_native_fn fn = which == 0 ? nullptr : which == 1 ? sum_args : scaled_first;
            parser_native_func(p, name.c_str(), n_args, fn, &scale, in.ConsumeBool() ? PARSER_NATIVE_PURE : 0u);
            cached = false;
            break;
        }
        case 11:
            // The other grammar: later texts, and functions defined from now on, read in it.
            parser_syntax(p, in.ConsumeBool() ? PARSER_SYNTAX_STANDARD : PARSER_SYNTAX_DEFINED);
            cached = false;
            break;
        default:
            dbg_set_level(in.ConsumeBool() ? 8 : 0);
            break;
        }
    }
    parser_destroy(p);
    dbg_set_level(0);
    return 0;
}
