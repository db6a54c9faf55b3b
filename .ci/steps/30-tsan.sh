#!/usr/bin/env bash
# ThreadSanitizer: handles on many threads and the process-wide diagnostics
# settings, with not a single report allowed.
set -euo pipefail
tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLIB_PARSE_BUILD_BENCH=OFF -DLIB_PARSE_BUILD_TOOLS=OFF -DLIB_PARSE_BUILD_PYTHON=OFF \
  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST \
  -DCMAKE_C_FLAGS="${CFLAGS:-} $tsan" -DCMAKE_CXX_FLAGS="${CXXFLAGS:-} $tsan" \
  -DCMAKE_EXE_LINKER_FLAGS="$tsan" -DCMAKE_SHARED_LINKER_FLAGS="$tsan"
cmake --build build-tsan -j2 --target threads_test diagnostics_test
for test in threads_test diagnostics_test; do
  echo "-- $test under ThreadSanitizer"
  # Without address-space randomisation: the sanitizer's fixed memory layout
  # does not fit every randomised one.
  TSAN_OPTIONS="halt_on_error=1 abort_on_error=1 second_deadlock_stack=1" \
    setarch "$(uname -m)" -R "./build-tsan/tests/$test"
done
