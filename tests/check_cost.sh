#!/bin/sh
# check_cost.sh VALGRIND CHECK_COST - a check of a text costs at most 4 times
# the instructions of building its tree, for each shape: counted by callgrind,
# so the bound holds on a busy machine as on a quiet one.
set -eu
valgrind=$1
program=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Exit 77, which CTest reports as a skip, with valgrind's own words, when
# valgrind cannot run the program at all (valgrind 3.19 gives up on the debug
# information of some clang builds): nothing was measured.
count() {
    rm -f "$work/out"
    if ! "$valgrind" --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
        --toggle-collect='measured_*' "$program" "$1" "$2" >/dev/null 2>"$work/log" || [ ! -s "$work/out" ]; then
        echo "skipped: valgrind could not run $program:" >&2
        tail -5 "$work/log" >&2
        exit 77
    fi
    sed -n 's/^summary: *//p' "$work/out"
}
status=0
for shape in functions dropped names numbers mixed; do
    build=$(count build "$shape") || exit 77
    check=$(count check "$shape") || exit 77
    echo "$shape: build $build, check $check instructions"
    if [ "$check" -gt $((4 * build)) ]; then
        echo "  a check costs more than 4 times its build"
        status=1
    fi
done
exit $status
