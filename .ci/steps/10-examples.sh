#!/usr/bin/env bash
# Installs lib_parse into a temporary prefix from a fresh build, then builds the
# example hosts against it as outside projects, once with CMake and once with
# pkg-config, and checks what they print and what the installed lparse prints.
set -euo pipefail

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"

cmake -S . -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DLIB_PARSE_BUILD_TESTS=OFF -DLIB_PARSE_BUILD_BENCH=OFF >/dev/null
cmake --build "$work/build" -j2 >/dev/null
cmake --install "$work/build" >/dev/null

pc_dir=$(dirname "$(find "$prefix" -name lib_parse.pc | head -n1)")
for host in c_host cpp_host; do
  echo "-- $host with CMake"
  cmake -S "examples/$host" -B "$work/cmake-$host" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/cmake-$host" >/dev/null
  "$work/cmake-$host/$host" | diff -u "examples/$host/expected_output.txt" -

  echo "-- $host with pkg-config"
  mkdir -p "$work/pc-$host"
  PKG_CONFIG_PATH="$pc_dir" make -s -C "examples/$host" O="$work/pc-$host"
  "$work/pc-$host/$host" | diff -u "examples/$host/expected_output.txt" -
done

echo "-- c_host with CMake, static library"
cmake -S examples/c_host -B "$work/cmake-static" -DCMAKE_PREFIX_PATH="$prefix" -DC_HOST_STATIC=ON >/dev/null
cmake --build "$work/cmake-static" >/dev/null
"$work/cmake-static/c_host" | diff -u examples/c_host/expected_output.txt -

echo "-- installed lparse"
test "$("$prefix/bin/lparse" '2*(x+1)-cos(y)' x=1 y=0)" = 3
test "$("$prefix/bin/lparse" -f 'f(x)=x*2' 'f(3)+1')" = 7
echo "-- examples built and ran against the installed package"
