#!/usr/bin/env bash
# Parse of a 1 GB Firefly output: time and peak memory of `nelo-analyze
# progress` (the Parse command's reading and scan) and of `nelo-analyze
# outcome` under /usr/bin/time -v, with `grep -c -F` on the same file for
# scale. The output is written by
# firefly-standin (an optimisation with a 1000 MiB burst of integral records,
# pace 0) into a temporary folder (TMPDIR, default /tmp) and removed after.
#
#   bench/parse_1gb.sh [BUILD_DIR] [MIB]      (defaults: build-rel 1000)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
mib=${2:-1000}
tool=$build/tools/nelo-analyze/nelo-analyze
standin=$build/tools/firefly-standin/firefly-standin
source "$top/bench/common.sh"
need "$tool" "$standin"

file=$dir/big.out
FIREFLY_STANDIN_PACE=0 FIREFLY_STANDIN_BURST=$mib \
    "$standin" -i "$top/examples/water-optimise.inp" -o "$file" -b none -np 1 -t "$dir/w/" >/dev/null 2>&1
bytes=$(stat -c %s "$file")
cat "$file" >/dev/null # into the page cache

measure() {
    /usr/bin/time -v "$@" >"$dir/out" 2>"$dir/time" || true
    local wall rss
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; print s }' "$dir/time")
    rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$dir/time")
    echo "$wall $rss"
}

read -r pw prss < <(measure "$tool" progress "$file")
entries=$(wc -l <"$dir/out")
read -r ow orss < <(measure "$tool" outcome "$file")
outcome=$(cut -f2 "$dir/out")
read -r gw grss < <(measure grep -c -F -e "MAXIMUM GRADIENT =" "$file")
awk -v b="$bytes" -v pw="$pw" -v prss="$prss" -v gw="$gw" -v grss="$grss" -v e="$entries" -v ow="$ow" -v orss="$orss" -v o="$outcome" 'BEGIN {
    printf "file %.0f MB (%d bytes); progress entries: %d; outcome: %s\n", b / 1e6, b, e, o
    printf "nelo-analyze progress: %.2f s, peak RSS %.0f MB = %.2f x file size\n", pw, prss / 1024, prss * 1024 / b
    printf "nelo-analyze outcome:  %.2f s, peak RSS %.0f MB\n", ow, orss / 1024
    printf "grep -c -F:            %.2f s, peak RSS %.0f MB; time ratio nelo/grep %.2f\n", gw, grss / 1024, (gw > 0 ? pw / gw : 0) }'
