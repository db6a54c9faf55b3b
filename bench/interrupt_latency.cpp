// interrupt_latency.cpp - how late parser_interrupt is answered on very long texts.
//
// For each shape of text, grammar and call, the call runs on this thread while
// another one calls parser_interrupt after a delay; the figure is the time
// from the interrupt to the call's return, the worst over the delays. A call
// that finished before its interrupt reports "done" instead.
//
//   interrupt_latency [MiB] [shapes] [delay seconds...]
// (default: 24 MiB, every shape whose name contains SHAPES or all, delays 0.02 0.3 1.5)
#include <lib_parse.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Shape {
    const char *name;
    const char *defined;  // the repeated piece in the defined grammar
    const char *standard; // and in the standard one
};

// A flat chain, products in a flat chain, brackets nested, user-function calls.
const Shape kShapes[] = {{"flat 1+1", "1+", "1 + "},
                         {"flat x*y+", "x*y+", "x * y + "},
                         {"nested", "(", "("},
                         {"f(1)+", "f(1)+", "f(1) + "}};

std::string text_of(const Shape &shape, bool standard, size_t bytes) {
    const std::string piece = standard ? shape.standard : shape.defined;
    std::string text;
    text.reserve(bytes + 16);
    if (piece == "(") {
        const size_t depth = bytes / 2;
        text.assign(depth, '(');
        text += '1';
        text.append(depth, ')');
        return text;
    }
    while (text.size() + piece.size() + 1 < bytes) text += piece;
    text += '1';
    return text;
}

Parser *new_parser(bool standard) {
    Parser *p = parser_new();
    if (standard) parser_syntax(p, PARSER_SYNTAX_STANDARD);
    for (int which = 0; which < PARSER_LIMIT_COUNT; ++which)
        if (which != PARSER_LIMIT_NATIVE_CODE) parser_limit(p, which, 1LL << 40);
    parser_var(p, "x", 1.5f);
    parser_var(p, "y", 2.5f);
    parser_func(p, "f(a)", "a*2");
    return p;
}

void ignore_note(void *, int, size_t, size_t, const char *) {}
void ignore_name(void *, int, size_t, size_t, const char *) {}

// Runs CALL on TEXT, interrupted after DELAY seconds: the seconds from the
// interrupt to the return, or a negative number when the call ended first.
double latency(Parser *p, const std::string &call, const std::string &text, double delay) {
    std::atomic<bool> returned{false};
    Clock::time_point interrupted_at{};
    std::atomic<bool> interrupt_sent{false};
    std::thread interrupter([&] {
        const Clock::time_point until =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(delay));
        while (Clock::now() < until)
            if (returned.load()) return;
        interrupted_at = Clock::now();
        interrupt_sent.store(true);
        parser_interrupt(p);
    });
    if (call == "calc") parser_calc(p, text.c_str());
    else if (call == "expand") parser_expand(p, text.c_str());
    else if (call == "check") parser_check(p, text.c_str(), ignore_note, nullptr);
    else if (call == "names") parser_names(p, text.c_str(), ignore_name, nullptr);
    else {
        const char *names[] = {"x", "y"};
        std::vector<float> x(4, 1.5f), y(4, 2.5f), out(4);
        const float *columns[] = {x.data(), y.data()};
        parser_calc_bulk(p, text.c_str(), names, columns, 2, 4, out.data());
    }
    const Clock::time_point back = Clock::now();
    returned.store(true);
    interrupter.join();
    if (!interrupt_sent.load()) return -1.0;
    return std::chrono::duration<double>(back - interrupted_at).count();
}

} // namespace

int main(int argc, char **argv) {
    const double mib = argc > 1 ? std::atof(argv[1]) : 24.0;
    const std::string only = argc > 2 && std::string(argv[2]) != "all" ? argv[2] : "";
    std::vector<double> delays;
    for (int i = 3; i < argc; ++i) delays.push_back(std::atof(argv[i]));
    if (delays.empty()) delays = {0.02, 0.3, 1.5};
    const size_t bytes = static_cast<size_t>(mib * 1048576.0);
    const char *calls[] = {"calc", "expand", "check", "names", "bulk"};
    std::printf("%-10s %-10s %-7s  worst seconds from interrupt to return (delays:", "shape", "grammar", "call");
    for (double d : delays) std::printf(" %g", d);
    std::printf(")\n");
    for (const Shape &shape : kShapes)
        for (bool standard : {false, true}) {
            if (std::string(shape.name).find(only) == std::string::npos) continue;
            const std::string text = text_of(shape, standard, bytes);
            for (const char *call : calls) {
                double worst = -1.0;
                std::string each;
                for (double delay : delays) {
                    Parser *p = new_parser(standard);
                    const double s = latency(p, call, text, delay);
                    parser_destroy(p);
                    char buffer[32];
                    std::snprintf(buffer, sizeof buffer, s < 0 ? " done" : " %.3f", s);
                    each += buffer;
                    if (s > worst) worst = s;
                }
                std::printf("%-10s %-10s %-7s  %s   (each:%s)\n", shape.name, standard ? "standard" : "defined", call,
                            worst < 0 ? "done" : std::to_string(worst).c_str(), each.c_str());
                std::fflush(stdout);
            }
        }
    return 0;
}
