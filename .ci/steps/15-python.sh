#!/usr/bin/env bash
# The Python package, installed as python/README.md says (into a virtual
# environment that sees Debian's packages, built offline) and used from there.
set -euo pipefail
recipe=$(awk '/^<!-- ci: python install -->$/ { marked = 1; next }
              marked && /^```sh$/ { inside = 1; next }
              inside && /^```$/ { exit }
              inside { print }' python/README.md)
[ -n "$recipe" ] || { echo "python/README.md has no install recipe" >&2; exit 1; }
venv=$(sed -n 's/.* -m venv --system-site-packages \([^ ]*\)$/\1/p' <<<"$recipe")
[ -n "$venv" ] || { echo "the recipe makes no virtual environment" >&2; exit 1; }
trap 'rm -rf "$venv"' EXIT
rm -rf "$venv"
log=$(mktemp)
bash -euo pipefail -c "$recipe" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
printed=$(tail -1 "$log")
test "$printed" = "[2. 4. 6.]" || { cat "$log" >&2; echo "the recipe printed '$printed'" >&2; exit 1; }
echo "-- installed: $("$venv/bin/python" -c 'import lib_parse; print(lib_parse.__version__, lib_parse.__file__)')"
rm -f "$log"
echo "-- the examples of python/README.md, with the installed package"
(cd "$(mktemp -d)" && "$venv/bin/python" -m doctest -o NORMALIZE_WHITESPACE "$OLDPWD/python/README.md")
