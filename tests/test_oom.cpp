// test_oom.cpp - running out of memory anywhere in the library ends the process with a clear message.
//
// Two kinds of failure are forced: the library's own checked allocations (the
// test hook of memory.h) and std::bad_alloc from the standard containers (this
// program's operator new, armed on demand). Either must print "lib_parse: out
// of memory" and abort; a crash, a sanitizer report or an exception escaping
// into the caller is a fault.
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <new>
#include <cstring>
#include <string>
#include <vector>

#include "containers/memory.h"
#include "robust_support.h"

namespace {

// Operator-new calls left before one throws; 0 or less: never.
std::atomic<long> throw_countdown{0};

} // namespace

// GCC cannot see that this operator new allocates with malloc, and warns
// about the free in the matching delete.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size) {
    if (throw_countdown.load(std::memory_order_relaxed) > 0 && throw_countdown.fetch_sub(1) == 1)
        throw std::bad_alloc();
    if (void *block = std::malloc(size > 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

namespace {

// A handle's whole life: definitions, a first calculation with substitution,
// a cached one, an erroneous text, a long text, a check, an expansion and release. Returns the
// cached calculation's bits.
uint32_t handle_life() {
    Parser *p = parser_new();
    parser_var(p, "x", 2.0f);
    parser_var(p, "y", 0.5f);
    parser_func(p, "f(x)", "x*2");
    parser_func(p, "g(a,b)", "a-b");
    parser_calc(p, "2*(x+1)-cos(y)+g(f(x),1)^2/4%3");
    const uint32_t value = robust::bits(parser_calc(p, "2*(x+1)-cos(y)+g(f(x),1)^2/4%3"));
    parser_calc(p, "(x+q(1)");
    char terms[802] = "x"; // "x+x+...+x", a tree over several arena blocks, built with no allocation
    for (int i = 1; i < 801; i += 2) std::memcpy(terms + i, "+x", 3);
    parser_calc(p, terms);
    parser_check(p, "2*(x+1)-cos(y)+g(f(x),1)", nullptr, nullptr);
    parser_expand(p, "1-2-3-4-5");
    parser_destroy(p);
    return value;
}

// A handle gives back all the heap it took, through machine code, walks and
// bulk too: the bytes in use after whole lives are those before them. (Under
// a sanitizer the heap reads as empty, and its leak check does this.)
TEST(Memory, AHandleGivesBackAllItTook) {
    const auto life = [] {
        handle_life();
        Parser *p = parser_new();
        parser_native_func(p, "h", 1, [](void *, const float *a, int) { return a[0] * 2.0f; }, nullptr, 0);
        for (int k = 0; k < 70; ++k) parser_calc(p, "h(x)+x*2-cos(x)+2*once(3)"); // machine code from the 64th
        parser_walk(p, [](void *, int, int, const char *, int, int, float) {}, nullptr);
        std::vector<float> xs(5000, 1.5f), out(5000);
        const char *names[] = {"x"};
        const float *columns[] = {xs.data()};
        parser_calc_bulk(p, "x*2+1", names, columns, 1, xs.size(), out.data()); // vector code
        parser_calc_bulk(p, "h(x)", names, columns, 1, xs.size(), out.data());  // row by row
        parser_var(p, "z", 1.0f);
        parser_destroy(p);
    };
    // The first lives leave what lasts as long as the process (the code
    // runtime, per-thread buffers) and fill the allocator's per-thread
    // caches of freed blocks, which count as in use, to their steady state.
    // Those may still grow once in a while later; a leak grows in every
    // window of three lives, so one window without growth is the proof.
    for (int k = 0; k < 10; ++k) life();
    std::vector<long> growth;
    for (int window = 0; window < 5 && (growth.empty() || growth.back() != 0); ++window) {
        const size_t before = mallinfo2().uordblks;
        for (int k = 0; k < 3; ++k) life();
        growth.push_back(static_cast<long>(mallinfo2().uordblks) - static_cast<long>(before));
    }
    EXPECT_EQ(growth.back(), 0) << "bytes in use grew in every window of three lives";
}

// Fails allocation 1, 2, 3, ... of handle_life in turn, each in a child
// process, until one number is past its last allocation and the child runs
// to the end, where the armed hook must not have changed the value.
TEST(OutOfMemoryDeathTest, EveryAllocationOfAHandlesLife) {
    const uint32_t reference = handle_life();
    // Every allocation is the checked one: operator new is never called.
    const struct {
        const char *what;
        void (*arm)(long);
        long min_points, max_points;
    } hooks[] = {
        {"checked allocation", [](long n) { lp_memory_fail_after(n); }, 40, 5000}, // trees and programs reuse their memory
        {"operator new", [](long n) { throw_countdown.store(n); }, 0, 0},
    };
    for (const auto &hook : hooks) {
        long n = 1;
        for (; n < 5000 && !::testing::Test::HasFailure(); ++n) {
            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            const pid_t pid = fork();
            if (pid == 0) {
                dup2(fds[1], STDERR_FILENO);
                close(fds[0]);
                hook.arm(n);
                _exit(handle_life() == reference ? 0 : 3);
            }
            close(fds[1]);
            std::string err;
            char buffer[4096];
            for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, size_t(got));
            close(fds[0]);
            int status = 0;
            waitpid(pid, &status, 0);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
            const auto has = [&](const char *s) { return err.find(s) != std::string::npos; };
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT && has("lib_parse: out of memory") &&
                        !has("Sanitizer") && !has("runtime error") && !has("terminate called"))
                << hook.what << " failing at " << n << ", status " << status << ":\n" << err;
        }
        EXPECT_TRUE(n - 1 >= hook.min_points && n - 1 <= hook.max_points) << hook.what << ": " << n - 1 << " allocation points";
    }
}

// The runs of a tree allocate nothing, the second included, which makes the
// interpreter's tape: its build made the room. The hook fails the next
// allocation, which would end the child.
TEST(OutOfMemoryDeathTest, RunsOfATreeAllocateNothing) {
    EXPECT_EXIT(
        {
            Parser *p = parser_new();
            parser_limit(p, PARSER_LIMIT_NATIVE_CODE, 0); // every run in the interpreter
            float *x = parser_var_ref(p, "x");
            float sum = parser_calc(p, "x*(x+1)-sin(x)/2");
            lp_memory_fail_after(1);
            for (int k = 0; k < 10; ++k) {
                *x = static_cast<float>(k);
                sum += parser_eval(p);
            }
            lp_memory_fail_after(0);
            parser_destroy(p);
            std::exit(std::isfinite(sum) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
