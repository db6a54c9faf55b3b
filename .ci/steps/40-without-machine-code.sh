#!/usr/bin/env bash
# The paths a user without AsmJit walks (any non-x86 machine, or a build
# without libasmjit-dev): clang, Debug, machine code off and libedit hidden,
# every target built and the whole suite run, so the interpreter and the
# bulk blocks are the only evaluators; then the README's first command,
# verbatim, in a clean copy of the tree with no AsmJit to be found at all.
set -euo pipefail
root=$PWD

echo "-- clang, Debug, LIB_PARSE_JIT=OFF, LPARSE_LIBEDIT=OFF: every target and every test"
CC=clang CXX=clang++ cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=Debug -DLIB_PARSE_JIT=OFF \
  -DLPARSE_LIBEDIT=OFF -DLIB_PARSE_BUILD_BENCH=OFF >build-portable.log
grep -q 'Machine code: none' build-portable.log || { cat build-portable.log; exit 1; }
cmake --build build-portable -j2
(cd build-portable && ctest --output-on-failure -j2)

echo "-- the README's first command in a clean copy, AsmJit not found"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git ls-files -z | (cd "$root" && tar --null -T - -cf -) | tar -xf - -C "$work"
test ! -e "$work/third_party"
command=$(sed -n '/^Build the calculator and run it on an example/,/^```$/p' README.md | sed -n '/^cmake /p')
test -n "$command" || { echo "README: the first command was not found" >&2; exit 1; }
echo "   $command"
# A mount namespace of its own hides the installed AsmJit from this command
# alone: its headers, archive and CMake package look empty there.
empty=$(mktemp -d)
hide=()
for path in /usr/include/asmjit /usr/lib/*/cmake/asmjit; do
  [ -d "$path" ] && hide+=("mount --bind $empty $path")
done
for path in /usr/lib/*/libasmjit.a /usr/lib/*/libasmjit.so; do
  [ -e "$path" ] && hide+=("mount --bind /dev/null $path")
done
script="set -e; $(IFS=';'; echo "${hide[*]:-true}"); cd '$work'; $command"
out=$(unshare --mount --propagation private bash -c "$script" 2>&1) || { echo "$out"; exit 1; }
rmdir "$empty"
echo "$out" | grep -q 'Machine code: none, AsmJit not found' || { echo "$out" | grep -i 'machine code' >&2; echo "AsmJit was found" >&2; exit 1; }
test "$(echo "$out" | tail -1)" = 3 || { echo "$out" | tail -20; echo "the README's first command did not print 3" >&2; exit 1; }
echo "   printed 3"
