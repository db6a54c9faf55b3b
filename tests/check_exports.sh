#!/bin/sh
# check_exports.sh SHARED [STATIC] - fails when either library defines a global
# symbol outside the public API (parser_*), weak ones included, when a public function is not a
# strong definition, when parser_calc is missing, or when the shared library
# has text relocations (code that is not position-independent).
# The static symbol table of a shared library is checked when it has one.
set -eu
public='^parser_.*$'
failed=0

# check LIBRARY EXTRA NM-OPTION...: EXTRA is a pattern of further names allowed.
check() {
  library=$1 extra=$2
  shift 2
  # "TYPE NAME" per global definition; an archive's member headers have one field.
  listing=$(nm "$@" --defined-only "$library" | awk 'NF >= 3 { sub(/@.*/, "", $3); print $2, $3 }')
  what="nm $* of $library"
  if [ -z "$listing" ]; then
    echo "$what: no global symbols"
    failed=1
    return
  fi
  stray=$(printf '%s\n' "$listing" | awk -v p="$public" -v x="$extra" '$2 !~ p && $2 !~ x' || true)
  if [ -n "$stray" ]; then
    echo "$what: symbols outside the public API:"
    printf '%s\n' "$stray"
    failed=1
  fi
  weak=$(printf '%s\n' "$listing" | awk -v p="$public" '$2 ~ p && $1 !~ /^[TDBR]$/' || true)
  if [ -n "$weak" ]; then
    echo "$what: public symbols that are not strong definitions:"
    printf '%s\n' "$weak"
    failed=1
  fi
  printf '%s\n' "$listing" | grep -qx 'T parser_calc' || { echo "$what: no parser_calc"; failed=1; }
}

if readelf -d "$1" | grep -q TEXTREL; then
  echo "$1: text relocations (TEXTREL)"
  failed=1
fi
check "$1" '^(_init|_fini)$' -D
# A stripped library (as packaged) has only its dynamic symbols.
if readelf -S "$1" | grep -q '\.symtab'; then
  check "$1" '^(_init|_fini)$' -g
fi
if [ $# -ge 2 ]; then
  check "$2" '^$' -g
fi
[ "$failed" -eq 0 ] || exit 1
echo "global symbols of $*: public API only"
