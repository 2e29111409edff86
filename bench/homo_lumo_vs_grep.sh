#!/usr/bin/env bash
# The HOMO-LUMO table of 1,000 real outputs: `nelo-analyze homo-lumo FILES...`
# against `grep -c -F "TOTAL ENERGY" FILES...` over the same files, in one run.
#
# The files: the real Firefly outputs in the samples folder (NELO_SAMPLES_DIR,
# default ../shared/firefly-samples), copied in turn until there are FILES of
# them. Both programs read them from the page cache (one warm-up run each).
# Each of RUNS rounds times both, one right after the other (which one goes
# first alternates), as wall time and as CPU time (user + sys), output to a
# file: with >/dev/null GNU grep stops at the first match. Printed: the
# median of each, and the median of the rounds' ratios.
#
# BEFORE, a second nelo-analyze (an older build), is timed in each round too
# when given.
#
#   bench/homo_lumo_vs_grep.sh [BUILD_DIR] [FILES] [RUNS] [BEFORE]   (defaults: build-rel 1000 15)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
count=${2:-1000}
runs=${3:-15}
before=${4:-}
tool=$build/tools/nelo-analyze/nelo-analyze
source "$top/bench/common.sh"
need "$tool" ${before:+"$before"}

samples=${NELO_SAMPLES_DIR:-$top/../shared/firefly-samples}
mapfile -t reals < <(ls "$samples"/*.out)
mkdir "$dir/set"
for ((i = 0; i < count; i++)); do
    cp "${reals[i % ${#reals[@]}]}" "$(printf '%s/set/%04d.out' "$dir" "$i")"
done
files=("$dir"/set/*.out)
bytes=$(cat "${files[@]}" | wc -c)

# once NAME COMMAND...: appends "wall_ms cpu_ms" of one run to $dir/NAME.
once() {
    local name=$1 t0 t1
    shift
    t0=$(date +%s%N)
    { TIMEFORMAT='%3U %3S'; time "$@" >"$dir/$name.out" 2>/dev/null || true; } 2>"$dir/time"
    t1=$(date +%s%N)
    awk -v w=$(( (t1 - t0) / 1000 )) '{ printf "%.3f %d\n", w / 1000, ($1 + $2) * 1000 }' "$dir/time" >>"$dir/$name"
}

nelo=("$tool" homo-lumo "${files[@]}")
grep=(grep -c -F "TOTAL ENERGY" "${files[@]}")
old=(${before:+"$before"} homo-lumo "${files[@]}")
once warm "${nelo[@]}"; once warm "${grep[@]}"; [ -z "$before" ] || once warm "${old[@]}"
: >"$dir/nelo"; : >"$dir/grep"; : >"$dir/before"
for ((r = 0; r < runs; r++)); do
    if ((r % 2 == 0)); then
        once nelo "${nelo[@]}"; once grep "${grep[@]}"
    else
        once grep "${grep[@]}"; once nelo "${nelo[@]}"
    fi
    [ -z "$before" ] || once before "${old[@]}"
done
[ "$(wc -l <"$dir/nelo.out")" -eq "$count" ] || { echo "nelo-analyze wrote $(wc -l <"$dir/nelo.out") lines, not $count" >&2; exit 1; }

# median COLUMN FILE: the median of a column of numbers.
median() {
    sort -g -k"$1" "$2" | awk -v c="$1" '{ v[NR] = $c } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
# row LABEL NAME: the medians of NAME's wall and CPU times, and of their
# ratios to grep's round by round.
row() {
    paste -d' ' "$dir/$2" "$dir/grep" | awk '{ print $1 / $3, ($4 > 0 ? $2 / $4 : 0) }' >"$dir/ratios"
    printf '%-24s %7.1f ms wall %5d ms CPU' "$1" "$(median 1 "$dir/$2")" "$(median 2 "$dir/$2")"
    [ "$2" = grep ] && echo || printf ' | ratio to grep: wall %.2f, CPU %.2f\n' "$(median 1 "$dir/ratios")" "$(median 2 "$dir/ratios")"
}
awk -v n="${#files[@]}" -v b="$bytes" -v k="${#reals[@]}" -v r="$runs" \
    'BEGIN { printf "%d files (%d outputs cycled), %.1f MB, medians of %d rounds\n", n, k, b / 1e6, r }'
row "nelo-analyze homo-lumo" nelo
[ -z "$before" ] || row "before" before
row 'grep -c -F "TOTAL ENERGY"' grep
