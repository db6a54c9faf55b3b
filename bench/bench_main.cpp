// bench_main.cpp - lib_parse against its peers and native code: evaluation, parsing and bulk figures.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cases.h"
#include "engines.h"

namespace bench {
namespace {

constexpr size_t kInputs = 1024;       // (x, y) pairs cycled through by the evaluation loops
constexpr size_t kRows = size_t{1} << 20; // rows of the bulk figures

// Positive inputs keep x/y, log10(y+2) and the rest finite for every case.
struct Columns {
    std::vector<float> x, y;
    explicit Columns(size_t n) : x(n), y(n) {
        uint32_t state = 12345;
        auto next = [&state] {
            state = state * 1664525u + 1013904223u;
            return 0.5f + static_cast<float>(state >> 8) / 16777216.0f * 2.0f;
        };
        for (size_t i = 0; i < n; ++i) {
            x[i] = next();
            y[i] = next();
        }
    }
};

const Columns &inputs() {
    static const Columns columns(kInputs);
    return columns;
}

const Columns &rows() {
    static const Columns columns(kRows);
    return columns;
}

volatile uint32_t sink;

// Folds a result into a running checksum. An integer xor keeps every result
// live with a one-cycle dependency, where a float sum would add its latency
// to every evaluation.
inline void fold(uint32_t *checksum, float r) {
    uint32_t bits;
    std::memcpy(&bits, &r, sizeof bits);
    *checksum ^= bits;
}

// Peers compute in double and group terms differently, so results are
// compared with the native float value within a relative tolerance.
bool close_to(float value, float native) {
    return std::fabs(value - native) <= 1e-4f * std::fmax(1.0f, std::fabs(native));
}

// Empty when every way of evaluating agrees with native code.
template <class Engine>
std::string check(Engine &engine, const Case &c) {
    if (!engine.ready()) return "the library rejects the expression";
    const Columns &in = inputs();
    std::vector<float> out(kInputs);
    engine.bulk(in.x.data(), in.y.data(), kInputs, out.data());
    for (size_t i = 0; i < kInputs; ++i) {
        const float native = c.native(in.x[i], in.y[i]);
        const float value = engine.eval(in.x[i], in.y[i]);
        if (!close_to(value, native) || !close_to(out[i], native))
            return "result differs from native at x=" + std::to_string(in.x[i]) + " y=" + std::to_string(in.y[i]) +
                   ": " + std::to_string(value) + " / bulk " + std::to_string(out[i]) + " vs " + std::to_string(native);
    }
    engine.eval(1.0f, 1.0f); // the variables now hold 1 and 1
    if (!close_to(engine.parse(), c.native(1.0f, 1.0f))) return "result after a fresh parse differs from native";
    return {};
}

template <class Engine>
void eval_benchmark(benchmark::State &state, const Case *c) {
    Engine engine(*c);
    const std::string error = check(engine, *c);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const Columns &in = inputs();
    size_t i = 0;
    uint32_t checksum = 0;
    for (auto _ : state) {
        float x = in.x[i], y = in.y[i];
        i = (i + 1) & (kInputs - 1);
        // Opaque inputs: the compiler may not hoist the evaluation out of the loop.
        asm volatile("" : "+x"(x), "+x"(y));
        float r = engine.eval(x, y);
        asm volatile("" : "+x"(r));
        fold(&checksum, r);
    }
    sink = checksum;
}

template <class Engine>
void parse_benchmark(benchmark::State &state, const Case *c) {
    Engine engine(*c);
    const std::string error = check(engine, *c);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    uint32_t checksum = 0;
    for (auto _ : state) {
        float r = engine.parse();
        asm volatile("" : "+x"(r));
        fold(&checksum, r);
    }
    sink = checksum;
}

template <class Engine>
void bulk_benchmark(benchmark::State &state, const Case *c) {
    Engine engine(*c);
    const std::string error = check(engine, *c);
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    const Columns &in = rows();
    std::vector<float> out(kRows);
    for (auto _ : state) {
        engine.bulk(in.x.data(), in.y.data(), kRows, out.data());
        benchmark::ClobberMemory();
    }
    uint32_t checksum = 0;
    for (float v : out) fold(&checksum, v);
    sink = checksum;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kRows));
}

template <class Engine>
void register_engine(const Case *c, bool with_parse, bool with_bulk = true, bool with_eval = true) {
    const std::string suffix = std::string(c->name) + "/" + Engine::name;
    if (with_eval) benchmark::RegisterBenchmark(("eval/" + suffix).c_str(), eval_benchmark<Engine>, c);
    if (with_parse)
        benchmark::RegisterBenchmark(("parse/" + suffix).c_str(), parse_benchmark<Engine>, c)
            ->Unit(benchmark::kMicrosecond);
    if (with_bulk)
        benchmark::RegisterBenchmark(("bulk/" + suffix).c_str(), bulk_benchmark<Engine>, c)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime(); // a peer may spread its bulk mode over threads
}

template <NativeFn F>
bool register_native(const Case *c) {
    if (c->native != F) return false;
    register_engine<NativeEngine<F>>(c, false);
    return true;
}

void register_all() {
    int count = 0;
    const Case *table = cases(&count);
    for (int k = 0; k < count; ++k) {
        const Case *c = &table[k];
#if defined(BENCH_SHARED_LIBRARY)
        // The static library's text and bound paths, through the shared one.
        register_engine<LibParseEngine<PARSER_SYNTAX_DEFINED>>(c, false);
        register_engine<LibParseBoundEngine<1>>(c, false, false);
        continue;
#endif
        register_native<native_short>(c) || register_native<native_sum>(c) || register_native<native_ratio>(c) ||
            register_native<native_64>(c) || register_native<native_trig>(c) || register_native<native_explog>(c) ||
            register_native<native_nested>(c) || register_native<native_select>(c);
        if (c->native != nullptr) register_engine<NativePointerEngine>(c, false, false);
        register_engine<LibParseEngine<PARSER_SYNTAX_DEFINED>>(c, true);
        register_engine<LibParseBoundEngine<1>>(c, false, false); // parsing and bulk are the text path's
        register_engine<LibParseBoundEngine<0>>(c, false, false);
        register_engine<LibParseBlocksEngine>(c, false, true, false);
        register_engine<LibParseThreadsEngine>(c, false, true, false);
        // The same expressions in the standard grammar, spelled as muParser's.
        register_engine<LibParseEngine<PARSER_SYNTAX_STANDARD>>(c, true);
        register_engine<LibParseBoundEngine<1, PARSER_SYNTAX_STANDARD>>(c, false, false);
#if defined(BENCH_HAVE_MUPARSER)
        register_engine<MuParserEngine>(c, true);
#endif
#if defined(BENCH_HAVE_MATHEVAL)
        register_engine<MathEvalEngine>(c, true);
#endif
    }
}

} // namespace
} // namespace bench

int main(int argc, char **argv) {
    bench::register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
