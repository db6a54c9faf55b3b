// output.cpp - checking the writes to standard output and ending them on the first failure.
#include "output.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace lparse {

namespace {

int failure = 0; // errno of the first failed write, or 0

bool fail(int error) {
    if (failure != 0) return false;
    failure = error != 0 ? error : EIO;
    if (failure != EPIPE) std::fprintf(stderr, "lparse: write error: %s\n", std::strerror(failure));
    return false;
}

} // namespace

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

bool output_ok() {
    if (failure != 0) return false;
    // The stream discards its buffer after a failed write and keeps only the
    // error flag, so errno must still hold the reason.
    return std::ferror(stdout) ? fail(errno) : true;
}

bool flush_output() {
    if (failure != 0) return false;
    const int before = errno;
    if (std::fflush(stdout) != 0) return fail(errno);
    errno = before;
    return output_ok();
}

int close_output(int status) {
    flush_output();
    if (failure == 0 && std::fclose(stdout) != 0) fail(errno);
    return failure != 0 && failure != EPIPE ? 1 : status;
}

} // namespace lparse
