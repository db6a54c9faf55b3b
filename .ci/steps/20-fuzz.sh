#!/usr/bin/env bash
# Fuzzing smoke: builds the libFuzzer harnesses (clang, ASan+UBSan), replays
# every seed and regression input, then fuzzes each harness for a bounded
# time. A crash, sanitizer report, leak, timeout or memory blow-up fails CI.
set -euo pipefail
seconds="${LIB_PARSE_FUZZ_SECONDS:-45}"
build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIB_PARSE_BUILD_FUZZ=ON \
  -DLIB_PARSE_BUILD_TESTS=OFF -DLIB_PARSE_BUILD_TOOLS=OFF -DLIB_PARSE_BUILD_BENCH=OFF -DLIB_PARSE_BUILD_PYTHON=OFF
cmake --build "$build" -j2

# A hang is far beyond 30 s; the slowest legitimate input (100,000
# substitutions with every diagnostic formatted) takes a few seconds here.
limits=(-timeout=30 -rss_limit_mb=2048)
shopt -s nullglob
for harness in calc_bytes api_sequence func_replace; do
  bin="$build/fuzz/fuzz_$harness"
  inputs=(fuzz/corpus/"$harness"/* fuzz/regressions/"$harness"/*)
  echo "-- $harness: replaying ${#inputs[@]} inputs"
  "$bin" "${limits[@]}" "${inputs[@]}" 2>"$build/replay_$harness.log" || { tail -50 "$build/replay_$harness.log"; exit 1; }
  echo "-- $harness: fuzzing for ${seconds} s"
  work="$build/ci/$harness"
  rm -rf "$work" && mkdir -p "$work/corpus"
  "$bin" "${limits[@]}" -max_total_time="$seconds" -max_len=4096 -dict=fuzz/lib_parse.dict \
    -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus" "fuzz/corpus/$harness" 2>"$work/log" \
    || { tail -80 "$work/log"; exit 1; }
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$work/log" || true
  grep -E '^#[0-9]+ +DONE' "$work/log" | tail -1 || true
done
