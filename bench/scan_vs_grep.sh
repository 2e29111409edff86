#!/usr/bin/env bash
# Times `nelo-analyze progress FILE` against `grep -c -F -e "MAXIMUM GRADIENT =" FILE`
# on the synthetic 10 MB and 100 MB optimisation outputs, in one run, and
# prints the ratios. Both read the file from the page cache (one warm-up run);
# each figure is the best of RUNS runs, as wall time and as CPU time (user +
# sys; steadier on a busy machine).
#
#   bench/scan_vs_grep.sh [BUILD_DIR] [RUNS]     (BUILD_DIR defaults to build-rel)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
runs=${2:-7}
bench=$build/bench/bench_analysis
tool=$build/tools/nelo-analyze/nelo-analyze
for f in "$bench" "$tool"; do
    [ -x "$f" ] || { echo "missing $f: build bench_analysis and nelo-analyze in $build" >&2; exit 1; }
done

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$bench" --write "$dir"

# best COMMAND...: "wall_ms cpu_ms", each the smallest of $runs runs (cpu = user + sys).
# Output goes to a file, not /dev/null: GNU grep stops at the first match when
# its output is /dev/null.
best() {
    "$@" >"$dir/out"
    local wall= cpu=
    for _ in $(seq "$runs"); do
        local t0 t1 w c
        t0=$(date +%s%N)
        c=$( { TIMEFORMAT='%3U %3S'; time "$@" >"$dir/out"; } 2>&1 | awk '{ printf "%d", ($1 + $2) * 1000 }')
        t1=$(date +%s%N)
        w=$(( (t1 - t0) / 1000000 ))
        if [ -z "$wall" ] || [ "$w" -lt "$wall" ]; then wall=$w; fi
        if [ -z "$cpu" ] || [ "$c" -lt "$cpu" ]; then cpu=$c; fi
    done
    echo "$wall $cpu"
}

printf '%-10s %7s | %9s %9s | %9s %9s | %7s %7s | %9s\n' \
    file MB nelo_wall grep_wall nelo_cpu grep_cpu r_wall r_cpu nelo_MB/s
for size in 10 100; do
    file=$dir/opt-${size}MB.out
    mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1e6 }')
    read -r nw nc < <(best "$tool" progress "$file")
    read -r gw gc < <(best grep -c -F -e "MAXIMUM GRADIENT =" "$file")
    awk -v f="opt-${size}MB" -v mb="$mb" -v nw="$nw" -v nc="$nc" -v gw="$gw" -v gc="$gc" 'BEGIN {
        printf "%-10s %7s | %7d ms %6d ms | %6d ms %6d ms | %7.2f %7.2f | %9.0f\n",
            f, mb, nw, gw, nc, gc, nw / gw, (gc > 0 ? nc / gc : 0), mb / (nc > 0 ? nc / 1000 : nw / 1000) }'
done
echo "entries: $("$tool" progress "$dir/opt-100MB.out" | wc -l) (100 MB); grep count: $(grep -c -F -e "MAXIMUM GRADIENT =" "$dir/opt-100MB.out")"
