// bench_expand.cpp - expansion time of large texts of every shape, for lib_parse alone.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "lib_parse.h"
#include "lib_parse/diagnostics.h"

namespace {

std::string flat_sum(int terms) {
    std::string text = "x";
    for (int i = 1; i < terms; ++i) text += "+x";
    return text;
}

std::string power_chain(int operands) {
    std::string text = "1";
    for (int i = 1; i < operands; ++i) text += "^1";
    return text;
}

// x+(x+(x+ ... )) nested DEPTH deep.
std::string nested_sum(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "x+(";
    text += "x";
    text.append(static_cast<size_t>(depth), ')');
    return text;
}

// A well-formed text of about BYTES bytes mixing every operation, brackets,
// numbers and names, from a fixed seed.
std::string random_expression(size_t bytes) {
    static const char *const binary[] = {"+", "-", "*", "/", "%", "^"};
    static const char *const functions[] = {"cos(", "sin(", "atan(", "tan(", "exp(", "logn(", "log2(", "log10("};
    static const char *const operands[] = {"x", "y", "2.5", "10", "xy", "0.1", "7"};
    uint32_t state = 7;
    auto next = [&state](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    std::string text;
    int open = 0;
    while (text.size() < bytes) {
        const uint32_t choice = next(10);
        if (choice < 2 && open < 200) {
            text += next(2) ? "(" : functions[next(8)];
            ++open;
            continue;
        }
        text += operands[next(7)];
        while (open > 0 && next(3) == 0) {
            text += ")";
            --open;
        }
        text += binary[next(6)];
    }
    text += "1";
    text.append(static_cast<size_t>(open), ')');
    return text;
}

// "1+1+...+1" and "1+(1+(...(1)...))" of about BYTES bytes: the large texts
// whose parse and first evaluation are measured against earlier builds.
std::string ones_flat(size_t bytes) {
    std::string text = "1";
    while (text.size() + 2 <= bytes) text += "+1";
    return text;
}

std::string ones_nested(size_t bytes) {
    const size_t depth = (bytes - 1) / 4;
    std::string text;
    for (size_t i = 0; i < depth; ++i) text += "1+(";
    text += "1";
    text.append(depth, ')');
    return text;
}

// A text's parse and first evaluation in a new handle, as a program that
// computes one large text once pays them: the handle's memory is new too.
void first_calc_benchmark(benchmark::State &state, std::string (*make)(), const char *) {
    const std::string text = make();
    for (auto _ : state) {
        Parser *parser = parser_new();
        parser_limit(parser, PARSER_LIMIT_TEXT_BYTES, INT64_MAX);
        benchmark::DoNotOptimize(parser_calc(parser, text.c_str()));
        parser_destroy(parser);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void expand_benchmark(benchmark::State &state, std::string (*make)(), const char *) {
    const std::string text = make();
    Parser *parser = parser_new();
    parser_limit(parser, PARSER_LIMIT_TEXT_BYTES, INT64_MAX); // the largest texts exceed the default
    parser_var(parser, "x", 1.0f);
    parser_var(parser, "y", 2.0f);
    for (auto _ : state) {
        parser_expand(parser, text.c_str());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    parser_destroy(parser);
}

// The same with every message up to level 8 emitted to a sink that drops it:
// tracing should cost what its output costs, so the time per message stays
// the same from a shallow text to a deep one.
void traced_expand_benchmark(benchmark::State &state, std::string (*make)(), const char *) {
    const std::string text = make();
    Parser *parser = parser_new();
    parser_var(parser, "x", 1.0f);
    int64_t messages = 0;
    dbg_set_sink([](void *ctx, int, const char *) { ++*static_cast<int64_t *>(ctx); }, &messages);
    dbg_set_level(8);
    for (auto _ : state) parser_expand(parser, text.c_str());
    dbg_set_level(0);
    dbg_set_sink(nullptr, nullptr);
    // Messages per second: the time per message is its inverse.
    state.SetItemsProcessed(messages);
    parser_destroy(parser);
}

BENCHMARK_CAPTURE(traced_expand_benchmark, flat_sum_10000, [] { return flat_sum(10000); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(traced_expand_benchmark, nested_sum_500, [] { return nested_sum(500); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(traced_expand_benchmark, nested_sum_5000, [] { return nested_sum(5000); }, "")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_CAPTURE(expand_benchmark, flat_sum_100000, [] { return flat_sum(100000); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(expand_benchmark, power_chain_100000, [] { return power_chain(100000); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(expand_benchmark, nested_sum_10000, [] { return nested_sum(10000); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(expand_benchmark, random_1MiB, [] { return random_expression(size_t{1} << 20); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(first_calc_benchmark, ones_flat_1MiB, [] { return ones_flat(size_t{1} << 20); }, "")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(first_calc_benchmark, ones_nested_1MiB, [] { return ones_nested(size_t{1} << 20); }, "")
    ->Unit(benchmark::kMillisecond);

} // namespace
