#!/usr/bin/env bash
# Times `nelo-analyze progress FILE` against `grep -c -F -e "MAXIMUM GRADIENT =" FILE`
# on the synthetic 10 MB and 100 MB optimisation outputs, and on a copy of
# the 100 MB one written in pieces of 4,000 bytes as Firefly writes its
# output (the page cache then holds it in small folios), in one run, and
# prints the ratios: once with the output going to a file, once through a
# pipe (to cat). Both read the file from the page cache (one warm-up run);
# each figure is the best of RUNS runs, as wall time and as CPU time (user +
# sys of the command itself; steadier on a busy machine).
#
# BEFORE, a second nelo-analyze (an older build), is timed too when given.
#
#   bench/scan_vs_grep.sh [BUILD_DIR] [RUNS] [BEFORE]     (BUILD_DIR defaults to build-rel)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
runs=${2:-7}
before=${3:-}
bench=$build/bench/bench_analysis
tool=$build/tools/nelo-analyze/nelo-analyze
source "$top/bench/common.sh"
need "$bench" "$tool"

"$bench" --write "$dir"
dd if="$dir/opt-100MB.out" of="$dir/opt-100MB-4k.out" bs=4000 status=none

# once MODE COMMAND...: "wall_ms cpu_ms" of one run, its output going to a
# file (MODE file) or through a pipe to cat (MODE pipe). Not to /dev/null:
# GNU grep stops at the first match when its output is /dev/null.
once() {
    local mode=$1 t0 t1
    shift
    t0=$(date +%s%N)
    if [ "$mode" = pipe ]; then
        { TIMEFORMAT='%3U %3S'; time "$@"; } 2>"$dir/time" | cat >/dev/null
    else
        { TIMEFORMAT='%3U %3S'; time "$@" >"$dir/out"; } 2>"$dir/time"
    fi
    t1=$(date +%s%N)
    awk -v w=$(( (t1 - t0) / 1000000 )) '{ printf "%d %d\n", w, ($1 + $2) * 1000 }' "$dir/time"
}

# best MODE COMMAND...: "wall_ms cpu_ms", each the smallest of $runs runs.
best() {
    once "$@" >/dev/null
    local wall= cpu= w c
    for _ in $(seq "$runs"); do
        read -r w c < <(once "$@")
        if [ -z "$wall" ] || [ "$w" -lt "$wall" ]; then wall=$w; fi
        if [ -z "$cpu" ] || [ "$c" -lt "$cpu" ]; then cpu=$c; fi
    done
    echo "$wall $cpu"
}

printf '%-12s %-5s %7s | %9s %9s | %9s %9s | %7s %7s | %9s\n' \
    file out MB nelo_wall grep_wall nelo_cpu grep_cpu r_wall r_cpu nelo_MB/s
for name in opt-10MB opt-100MB opt-100MB-4k; do
    file=$dir/$name.out
    mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1e6 }')
    for mode in file pipe; do
        read -r nw nc < <(best "$mode" "$tool" progress "$file")
        read -r gw gc < <(best "$mode" grep -c -F -e "MAXIMUM GRADIENT =" "$file")
        row() {
            awk -v f="$1" -v m="$mode" -v mb="$mb" -v nw="$2" -v nc="$3" -v gw="$gw" -v gc="$gc" 'BEGIN {
                printf "%-12s %-5s %7s | %7d ms %6d ms | %6d ms %6d ms | %7.2f %7.2f | %9.0f\n",
                    f, m, mb, nw, gw, nc, gc, nw / gw, (gc > 0 ? nc / gc : 0), mb / (nc > 0 ? nc / 1000 : nw / 1000) }'
        }
        row "$name" "$nw" "$nc"
        if [ -n "$before" ]; then
            read -r bw bc < <(best "$mode" "$before" progress "$file")
            row "  before" "$bw" "$bc"
        fi
    done
done
echo "entries: $("$tool" progress "$dir/opt-100MB.out" | wc -l) (100 MB); grep count: $(grep -c -F -e "MAXIMUM GRADIENT =" "$dir/opt-100MB.out")"
