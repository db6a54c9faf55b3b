#!/usr/bin/env bash
# The library, lparse and the whole test suite for 64-bit Arm, cross-built
# with Debian's g++-aarch64-linux-gnu and GoogleTest from its source
# (googletest), run under qemu-user: the interpreter and bulk blocks as every
# machine without x86-64 machine code runs them (machine code is off by
# detection), and lparse started through qemu-aarch64 by the tests.
set -euo pipefail
cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DCMAKE_BUILD_TYPE=Release \
  -DLIB_PARSE_BUILD_BENCH=OFF -DLIB_PARSE_GTEST_SOURCE=/usr/src/googletest >/dev/null
grep -q '^LIB_PARSE_JIT:BOOL=OFF$' build-aarch64/CMakeCache.txt || { echo "machine code is on for AArch64" >&2; exit 1; }
cmake --build build-aarch64 -j2 >/dev/null
file build-aarch64/lparse | grep -q 'ARM aarch64' || { echo "lparse is not an AArch64 program" >&2; exit 1; }
(cd build-aarch64 && ctest --output-on-failure -j2)
