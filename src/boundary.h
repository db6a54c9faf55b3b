// boundary.h - keeping C++ exceptions inside the library's C interface.
#ifndef LIB_PARSE_BOUNDARY_H
#define LIB_PARSE_BOUNDARY_H

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

namespace lp {

// For the catch block of a C entry point. The library's own allocations abort
// on failure (memory.h); the standard containers throw std::bad_alloc instead,
// and an exception cannot be let through a C caller, nor can the handle be
// trusted after one. So report it as memory.h does and abort.
[[noreturn]] inline void abort_on_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        std::fputs("lib_parse: out of memory\n", stderr);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "lib_parse: unexpected exception: %s\n", e.what());
    } catch (...) {
        std::fputs("lib_parse: unexpected exception\n", stderr);
    }
    std::abort();
}

} // namespace lp

#endif // LIB_PARSE_BOUNDARY_H
