// test_oom.cpp - running out of memory anywhere in the library ends the process with a clear message.
//
// Two kinds of failure are forced: the library's own checked allocations (the
// test hook of memory.h) and std::bad_alloc from the standard containers (this
// program's operator new, armed on demand). Either must print "lib_parse: out
// of memory" and abort; a crash, a sanitizer report or an exception escaping
// into the caller is a fault.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "lib_parse.h"
#include "memory.h"

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
// a cached one, an erroneous text and release.
void handle_life() {
    Parser *p = parser_new();
    parser_var(p, "x", 2.0f);
    parser_var(p, "y", 0.5f);
    parser_func(p, "f(x)", "x*2");
    parser_func(p, "g(a,b)", "a-b");
    parser_calc(p, "2*(x+1)-cos(y)+g(f(x),1)^2/4%3");
    parser_calc(p, "2*(x+1)-cos(y)+g(f(x),1)^2/4%3");
    parser_calc(p, "(x+q(1)");
    parser_expand(p, "1-2-3-4-5");
    parser_destroy(p);
}

struct Outcome {
    bool exited_cleanly = false;
    int signal = 0;
    std::string stderr_text;
};

// Runs WORK in a child process after arming one of the failure hooks.
template <typename Work>
Outcome in_child(Work work) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDERR_FILENO);
        close(fds[0]);
        work();
        _exit(0);
    }
    close(fds[1]);
    Outcome out;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.stderr_text.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    out.exited_cleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    out.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return out;
}

// Fails allocation 1, 2, 3, ... of handle_life in turn, until one number is
// past its last allocation; every failure must end in the message and abort.
// Returns how many allocation points were tried.
template <typename Arm>
long sweep(Arm arm, const char *what) {
    long n = 1;
    for (; n < 5000; ++n) {
        const Outcome out = in_child([&] {
            arm(n);
            handle_life();
        });
        if (out.exited_cleanly) break;
        EXPECT_EQ(out.signal, SIGABRT) << what << " failing at " << n << ":\n" << out.stderr_text;
        EXPECT_NE(out.stderr_text.find("lib_parse: out of memory"), std::string::npos)
            << what << " failing at " << n << ":\n" << out.stderr_text;
        EXPECT_EQ(out.stderr_text.find("Sanitizer"), std::string::npos) << what << " at " << n;
        EXPECT_EQ(out.stderr_text.find("runtime error"), std::string::npos) << what << " at " << n;
        EXPECT_EQ(out.stderr_text.find("terminate called"), std::string::npos) << what << " at " << n;
        if (::testing::Test::HasFailure()) break;
    }
    return n - 1;
}

TEST(OutOfMemoryDeathTest, CheckedAllocationsAbortWithMessage) {
    // A few fixed points through gtest's own death-test machinery.
    for (long n : {1L, 2L, 5L}) {
        EXPECT_DEATH(
            {
                lp_memory_fail_after(n);
                Parser *p = parser_new();
                parser_destroy(p);
            },
            "lib_parse: out of memory")
            << "parser_new, allocation " << n;
    }
    for (long n : {1L, 2L, 3L}) {
        EXPECT_DEATH(
            {
                Parser *p = parser_new();
                lp_memory_fail_after(n);
                parser_func(p, "f(x)", "x*2");
            },
            "lib_parse: out of memory")
            << "parser_func, allocation " << n;
    }
    for (long n : {1L, 4L, 9L, 20L}) {
        EXPECT_DEATH(
            {
                Parser *p = parser_new();
                parser_func(p, "f(x)", "x*2");
                lp_memory_fail_after(n);
                parser_calc(p, "2*(3+1)-cos(f(2))");
            },
            "lib_parse: out of memory")
            << "parser_calc, allocation " << n;
    }
}

TEST(OutOfMemoryDeathTest, EveryCheckedAllocationOfAHandlesLife) {
    const long points = sweep([](long n) { lp_memory_fail_after(n); }, "checked allocation");
    EXPECT_GT(points, 50) << "the sweep should reach many allocation points";
    std::printf("checked allocations in a handle's life: %ld, each failed in turn\n", points);
}

TEST(OutOfMemoryDeathTest, EveryStandardContainerAllocationOfAHandlesLife) {
    const long points = sweep([](long n) { throw_countdown.store(n); }, "operator new");
    EXPECT_GT(points, 5) << "the library's containers should allocate during expansion";
    std::printf("operator new calls in a handle's life: %ld, each failed in turn\n", points);
}

// The hook changes nothing until it fires, and switched off it never fires.
TEST(OutOfMemory, HookOffChangesNothing) {
    lp_memory_fail_after(1000000);
    Parser *p = parser_new();
    parser_var(p, "x", 2.0f);
    const float armed = parser_calc(p, "2*(x+1)-cos(x)");
    parser_destroy(p);
    lp_memory_fail_after(0);
    p = parser_new();
    parser_var(p, "x", 2.0f);
    const float off = parser_calc(p, "2*(x+1)-cos(x)");
    parser_destroy(p);
    EXPECT_EQ(armed, off);
    EXPECT_EQ(off, 2.0f * 3.0f - static_cast<float>(std::cos(2.0)));
}

} // namespace
