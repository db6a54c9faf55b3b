#!/usr/bin/env bash
# Builds the Debian packages by README.md's recipe, checks them with lintian,
# installs them with apt, and builds against
# them as an outside project would: the example hosts with CMake and with
# pkg-config (c_host linked shared, static and fully static), lparse from
# tools/, and every code block of README.md and docs/. Checks the installed
# shared library's exports, that it makes machine code, and that lparse says
# so. The packages are removed at the end whatever happened, and any left by
# an earlier run that died at the start, so that no later build finds a stale
# install.
set -euo pipefail

work=$(mktemp -d)
installed=()
purge() {
  [ $# -eq 0 ] || DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$@" >/dev/null
}
cleanup() {
  purge "${installed[@]}" || echo "could not remove ${installed[*]}" >&2
  rm -rf "$work"
}
trap cleanup EXIT
mapfile -t stale < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' 'liblib-parse*' lparse 2>/dev/null |
  awk '$1 ~ /^.i/ { print $2 }')
purge "${stale[@]}"

echo "-- Debian packages, by README.md's recipe (lintian must find no error)"
recipe=$(awk '/^<!-- ci: debian packages -->$/ { marked = 1; next }
              marked && /^```sh$/ { inside = 1; next }
              inside && /^```$/ { exit }
              inside { print }' README.md)
[ -n "$recipe" ] || { echo "README.md has no packaging recipe" >&2; exit 1; }
bash -euo pipefail -c "$recipe" >"$work/packaging.log" 2>&1 || { cat "$work/packaging.log" >&2; exit 1; }
grep -E '^(E|W): ' "$work/packaging.log" || true
debs=("$PWD"/build/deb/*.deb)
test "${#debs[@]}" -eq 3 || { echo "the recipe made ${#debs[@]} packages, not 3" >&2; exit 1; }
runtime_size=$(stat -c %s build/deb/liblib-parse1_*.deb)
test "$runtime_size" -lt 1000000 || { echo "the shared library's package is $runtime_size bytes" >&2; exit 1; }
for deb in "${debs[@]}"; do
  installed+=("$(dpkg-deb -f "$deb" Package)")
  echo "   $(basename "$deb"), depends on: $(dpkg-deb -f "$deb" Depends)"
done
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --allow-downgrades "${debs[@]}" >/dev/null

echo "-- the installed shared library"
libdir=$(pkg-config --variable=libdir lib_parse)
sh tests/check_exports.sh "$libdir/liblib_parse.so" "$libdir/liblib_parse.a"
lparse --version
if [ -f third_party/asmjit/src/asmjit/x86.h ]; then
  # Built with AsmJit's source: the shared library makes machine code too.
  lparse --version | grep -q 'machine code'
  printf '#include <stdio.h>\n#include "lib_parse.h"\nint main(void) { Parser *p = parser_new();
    printf("%%lld\\n", parser_limit(p, PARSER_LIMIT_NATIVE_CODE, -1)); parser_destroy(p); return 0; }\n' >"$work/native.c"
  cc "$work/native.c" $(pkg-config --cflags --libs lib_parse) -o "$work/native"
  test "$("$work/native")" = 1 || { echo "the installed shared library makes no machine code" >&2; exit 1; }
fi

for host in c_host cpp_host; do
  links=(shared)
  [ "$host" = c_host ] && links=(shared static fully-static)
  for link in "${links[@]}"; do
    echo "-- $host, $link, with CMake"
    options=()
    [ "$host" = c_host ] && options=(-DC_HOST_LINK="$link")
    cmake -S "examples/$host" -B "$work/cmake-$host-$link" "${options[@]}" >/dev/null
    cmake --build "$work/cmake-$host-$link" >/dev/null
    "$work/cmake-$host-$link/$host" | diff -u "examples/$host/expected_output.txt" -
    echo "-- $host, $link, with pkg-config"
    mkdir -p "$work/pc-$host-$link"
    make -s -C "examples/$host" O="$work/pc-$host-$link" LINK="$link"
    "$work/pc-$host-$link/$host" | diff -u "examples/$host/expected_output.txt" -
  done
done
for link in static fully-static; do
  if ldd "$work/cmake-c_host-$link/c_host" 2>/dev/null | grep -q liblib_parse; then
    echo "c_host linked $link loads the shared library" >&2
    exit 1
  fi
done
! ldd "$work/cmake-c_host-fully-static/c_host" >/dev/null 2>&1 || { echo "c_host is not fully static" >&2; exit 1; }

# lparse is a host of the public API alone: tools/ builds as a project of its
# own against the installed package.
echo "-- lparse, built from tools/ against the installed package"
cmake -S tools -B "$work/lparse" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/lparse" -j2 >/dev/null
test "$("$work/lparse/lparse" --explain '2*(x+1)-cos(y)' x=1 y=0)" = $'((2*(x+1))-cos(y))\n3' ||
  { echo "lparse built against the installed package gives another result" >&2; exit 1; }

echo "-- code blocks of README.md and docs/"
python3 .ci/doc_blocks.py "$work/doc-blocks" README.md docs/*.md
echo "-- examples and documented code built and ran against the installed packages"
