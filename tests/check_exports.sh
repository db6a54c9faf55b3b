#!/bin/sh
# check_exports.sh LIBRARY - fails when the shared library exports a symbol
# outside the public API (parser_*, dbg_*, exception, exception_set_handler).
set -eu
library="$1"
symbols=$(nm -D --defined-only "$library" | awk 'NF >= 3 { print $3 }' | sed 's/@.*//')
[ -n "$symbols" ] || { echo "no exported symbols found in $library"; exit 1; }
stray=$(printf '%s\n' "$symbols" | grep -Ev '^(parser_.*|dbg_.*|exception|exception_set_handler|_init|_fini)$' || true)
if [ -n "$stray" ]; then
  echo "symbols outside the public API exported by $library:"
  printf '%s\n' "$stray"
  exit 1
fi
printf '%s\n' "$symbols" | grep -qx parser_calc || { echo "parser_calc is not exported"; exit 1; }
echo "exports of $library: ok"
