#!/usr/bin/env bash
# run.sh - builds the benchmarks in Release and prints the comparison tables of bench/README.md.
# Usage: bench/run.sh [build-dir] [extra benchmark options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
shift || true

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLIB_PARSE_BUILD_TESTS=OFF \
  -DLIB_PARSE_BUILD_TOOLS=OFF -DLIB_PARSE_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target lib_parse_bench lib_parse_bench_shared >/dev/null

csv=$(mktemp)
list=$(mktemp)
pair=$(mktemp)
trap 'rm -f "$csv" "$list" "$pair"' EXIT
# The benchmarks in the order they are registered, which the tables keep.
"$build/bench/lib_parse_bench" --benchmark_list_tests=true "$@" 2>/dev/null >"$list"
# Medians of five repetitions, run in random order: a burst of load from
# another process then spoils one repetition of a figure rather than all of
# them. The machine is shared, so ratios matter more than absolutes.
"$build/bench/lib_parse_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_format=csv "$@" 2>/dev/null >"$csv"

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores"
awk -F, '
  FILENAME == ARGV[1] {
    split($0, part, "/")
    if (part[1] == "expand_benchmark") shapes[++m] = part[2]
    else if (!(part[2] in seen)) { seen[part[2]] = 1; order[++n] = part[2] }
    next
  }
  $1 ~ /^"?expand_benchmark\/.*_median"?$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name); sub(/^expand_benchmark\//, "", name)
    expand_ms[name] = $4
    next
  }
  $1 ~ /_median"?$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
    split(name, part, "/")
    kind = part[1]; c = part[2]; lib = part[3]
    # CPU time, steadier than wall time on a shared machine; bulk rates use
    # wall time, as a peer may spread its bulk mode over threads.
    value[kind, c, lib] = (kind == "bulk") ? $7 / 1e6 : $4
  }
  function cell(v) { return v == "" ? "–" : sprintf(v < 10 ? "%.2f" : "%.1f", v) }
  function ratio_to_native(kind, c, v, lower_is_better) {
    if (value[kind, c, "native"] == "" || v == "") return "–"
    return sprintf("%.2f× slower", lower_is_better ? v / value[kind, c, "native"] : value[kind, c, "native"] / v)
  }
  function ratio_to_peer(best, v, lower_is_better) {
    if (best == "" || v == "") return "–"
    return sprintf("%.2f×", lower_is_better ? best / v : v / best)
  }
  # BOUND: also show lib_parse_bound, the variables set through their
  # addresses and the tree evaluated by parser_eval (machine code once warm),
  # and lib_parse_interp, the same with PARSER_LIMIT_NATIVE_CODE 0.
  function table(kind, title, lower_is_better, bound,    i, c, lp, lb, li, best, peer, p) {
    printf "\n%s\n\n", title
    if (bound) {
      printf "| expression | native | lib_parse text | lib_parse bound | bound, interpreter | muParser | libmatheval | text vs native | bound vs native | interpreter vs native | text speed ÷ best peer | bound speed ÷ best peer |\n"
      printf "|---|---|---|---|---|---|---|---|---|---|---|---|\n"
    } else {
      printf "| expression | native | lib_parse | muParser | libmatheval | lib_parse vs native | lib_parse speed ÷ best peer |\n"
      printf "|---|---|---|---|---|---|---|\n"
    }
    for (i = 1; i <= n; i++) {
      c = order[i]; lp = value[kind, c, "lib_parse"]; lb = value[kind, c, "lib_parse_bound"]; li = value[kind, c, "lib_parse_interp"]; best = ""
      split("muparser matheval", peer, " ")
      for (p in peer) {
        v = value[kind, c, peer[p]]
        if (v != "" && (best == "" || (lower_is_better ? v < best : v > best))) best = v
      }
      if (bound)
        printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", c, cell(value[kind, c, "native"]), cell(lp), \
          cell(lb), cell(li), cell(value[kind, c, "muparser"]), cell(value[kind, c, "matheval"]), \
          ratio_to_native(kind, c, lp, lower_is_better), ratio_to_native(kind, c, lb, lower_is_better), \
          ratio_to_native(kind, c, li, lower_is_better), \
          ratio_to_peer(best, lp, lower_is_better), ratio_to_peer(best, lb, lower_is_better)
      else
        printf "| %s | %s | %s | %s | %s | %s | %s |\n", c, cell(value[kind, c, "native"]), cell(lp), \
          cell(value[kind, c, "muparser"]), cell(value[kind, c, "matheval"]), \
          (kind == "parse" ? "–" : ratio_to_native(kind, c, lp, lower_is_better)), ratio_to_peer(best, lp, lower_is_better)
    }
  }
  # The standard grammar: parse + one evaluation against muParser on the same
  # texts, evaluation (bound path) and bulk against the defined grammar.
  function standard(    i, c, sp, mp, sb, db, st, dt, sk, dk) {
    printf "\nThe standard grammar (parser_syntax): parse + one evaluation, µs, against muParser on the same text; "
    printf "evaluation, ns, and bulk, million rows per second, against the defined grammar'"'"'s text\n\n"
    printf "| expression | parse, standard | parse, muParser | parse speed ÷ muParser | bound, standard | bound, defined | bound speed ÷ defined | text, standard | text, defined | bulk, standard | bulk, defined |\n"
    printf "|---|---|---|---|---|---|---|---|---|---|---|\n"
    for (i = 1; i <= n; i++) {
      c = order[i]
      sp = value["parse", c, "lib_parse_std"]; mp = value["parse", c, "muparser"]
      sb = value["eval", c, "lib_parse_std_bound"]; db = value["eval", c, "lib_parse_bound"]
      st = value["eval", c, "lib_parse_std"]; dt = value["eval", c, "lib_parse"]
      sk = value["bulk", c, "lib_parse_std"]; dk = value["bulk", c, "lib_parse"]
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", c, cell(sp), cell(mp), ratio_to_peer(mp, sp, 1), \
        cell(sb), cell(db), ratio_to_peer(db, sb, 1), cell(st), cell(dt), cell(sk), cell(dk)
    }
  }
  END {
    table("eval", "Evaluation with changing x and y, ns per evaluation (lower is better)", 1, 1)
    table("parse", "Parse from scratch and evaluate once, µs (lower is better)", 1, 0)
    table("bulk", "Bulk evaluation of 1,048,576 rows, million rows per second (higher is better)", 0, 0)
    standard()
    if (m > 0) {
      printf "\nExpansion of large texts by lib_parse (parser_expand), ms\n\n| text | ms |\n|---|---|\n"
      for (i = 1; i <= m; i++) printf "| %s | %.1f |\n", shapes[i], expand_ms[shapes[i]]
    }
  }' "$list" "$csv"

# The shared library against the static one: lib_parse's text, bound and bulk
# figures from both binaries, run in alternation for five rounds, so that a
# burst of load spoils one round of one library rather than a whole column.
for round in 1 2 3 4 5; do
  for bin in lib_parse_bench lib_parse_bench_shared; do
    "$build/bench/$bin" "$@" '--benchmark_filter=^(eval|bulk)/[^/]*/lib_parse(_bound)?(_shared)?(/real_time)?$' \
      --benchmark_format=csv 2>/dev/null | grep -E '^"?(eval|bulk)/' >>"$pair"
  done
done
awk -F, '
  {
    name = $1; gsub(/"/, "", name)
    split(name, part, "/")
    kind = part[1]; c = part[2]; lib = part[3]
    if (kind == "eval" && !(c in seen)) { seen[c] = 1; order[++n] = c }
    key = kind SUBSEP c SUBSEP lib
    v[key, ++count[key]] = (kind == "bulk") ? $7 / 1e6 : $4
  }
  function median(key,    k, i, j, t, a) {
    k = count[key]
    if (k == 0) return ""
    for (i = 1; i <= k; i++) a[i] = v[key, i]
    for (i = 2; i <= k; i++) for (j = i; j > 1 && a[j - 1] > a[j]; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
  }
  function cell(x) { return x == "" ? "–" : sprintf(x < 10 ? "%.2f" : "%.1f", x) }
  function ratio(a, b) { return (a == "" || b == "") ? "–" : sprintf("%.2f", a / b) }
  END {
    printf "\nShared library against static (medians of 5 alternating rounds): ns per evaluation, million rows per second for bulk; ratios are shared speed ÷ static speed\n\n"
    printf "| expression | text, static | text, shared | bound, static | bound, shared | bulk, static | bulk, shared | text ratio | bound ratio | bulk ratio |\n"
    printf "|---|---|---|---|---|---|---|---|---|---|\n"
    for (i = 1; i <= n; i++) {
      c = order[i]
      ts = median("eval" SUBSEP c SUBSEP "lib_parse"); td = median("eval" SUBSEP c SUBSEP "lib_parse_shared")
      bs = median("eval" SUBSEP c SUBSEP "lib_parse_bound"); bd = median("eval" SUBSEP c SUBSEP "lib_parse_bound_shared")
      ks = median("bulk" SUBSEP c SUBSEP "lib_parse"); kd = median("bulk" SUBSEP c SUBSEP "lib_parse_shared")
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", c, cell(ts), cell(td), cell(bs), cell(bd), \
        cell(ks), cell(kd), ratio(ts, td), ratio(bs, bd), ratio(kd, ks)
    }
  }' "$pair"
