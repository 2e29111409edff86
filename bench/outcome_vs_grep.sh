#!/usr/bin/env bash
# How 1,000 jobs ended: `nelo-analyze outcome FILES...` against
# `grep -c -F -e TERMINATED FILES...` over the same files, in one run.
#
# The files: outputs that firefly-standin writes for every way a job can end
# (normal, located, too many steps, SCF not converged in a single point and in
# a search, abnormal, killed midway, killed inside the search) and the three
# real Firefly outputs of ../shared/firefly-samples when present, copied in
# turn until there are FILES of them. Both programs read them from the page
# cache (one warm-up run); each figure is the best of RUNS runs, as wall time
# and as CPU time (user + sys), output to a file. "read" is what each program
# read through read(2) (rchar of /proc, gathered from the reaped child).
#
#   bench/outcome_vs_grep.sh [BUILD_DIR] [FILES] [RUNS]    (defaults: build-rel 1000 7)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
count=${2:-1000}
runs=${3:-7}
tool=$build/tools/nelo-analyze/nelo-analyze
standin=$build/tools/firefly-standin/firefly-standin
source "$top/bench/common.sh"
need "$tool" "$standin"

mkdir -p "$dir/src" "$dir/set"
hf=' $DATA\nHF\nC1\n F 9.0 0 0 0\n H 1.0 0 0 0.95\n $END\n'
printf " \$CONTRL RUNTYP=OPTIMIZE \$END\n \$STATPT NSTEP=2 \$END\n$hf" >"$dir/steps.inp"
printf " \$CONTRL RUNTYP=ENERGY MAXIT=5 \$END\n$hf" >"$dir/scf.inp"
printf " \$CONTRL RUNTYP=OPTIMIZE MAXIT=5 \$END\n$hf" >"$dir/scf-search.inp"
write() { # NAME INPUT [CONTROL...]
    local name=$1 input=$2
    shift 2
    ("$standin" -i "$input" -o "$dir/src/$name.out" -b "" --standin-pace=0 "$@" -np 1 -t "$dir/w/") >/dev/null 2>&1 || true
}
write normal "$top/examples/methane-energy.inp"
write located "$top/examples/water-optimise.inp"
write steps "$dir/steps.inp"
write scf "$dir/scf.inp"
write scf-search "$dir/scf-search.inp"
write abnormal "$top/examples/ammonium-fails.inp"
write killed "$top/examples/methane-energy.inp" --standin-crash-after=250
write killed-in-search "$top/examples/water-optimise.inp" --standin-crash-after=900
samples=$top/../shared/firefly-samples
for real in dvb_gopt_a water_mp2 dvb_un_sp; do
    [ -f "$samples/$real.out" ] && cp "$samples/$real.out" "$dir/src/real-$real.out"
done
sources=("$dir"/src/*.out)
for ((i = 0; i < count; i++)); do
    cp "${sources[i % ${#sources[@]}]}" "$(printf '%s/set/%04d.out' "$dir" "$i")"
done
files=("$dir"/set/*.out)
bytes=$(cat "${files[@]}" | wc -c)
cat "${files[@]}" >/dev/null # into the page cache

rchar() { # the rchar of this shell, without starting a process
    local key value
    while read -r key value; do
        if [[ $key == rchar: ]]; then echo "$value" >"$dir/rchar"; fi
    done </proc/$BASHPID/io
}

# best COMMAND...: "wall_ms cpu_ms read_bytes", the times the smallest of $runs runs.
best() {
    "$@" >"$dir/out" || true
    local wall= cpu= read=
    for _ in $(seq "$runs"); do
        local t0 t1 w c r0
        rchar; r0=$(<"$dir/rchar")
        t0=$(date +%s%N)
        c=$( { TIMEFORMAT='%3U %3S'; time "$@" >"$dir/out" || true; } 2>&1 | awk '{ printf "%d", ($1 + $2) * 1000 }')
        t1=$(date +%s%N)
        rchar; read=$(( $(<"$dir/rchar") - r0 ))
        w=$(( (t1 - t0) / 1000000 ))
        if [ -z "$wall" ] || [ "$w" -lt "$wall" ]; then wall=$w; fi
        if [ -z "$cpu" ] || [ "$c" -lt "$cpu" ]; then cpu=$c; fi
    done
    echo "$wall $cpu $read"
}

read -r nw nc nr < <(best "$tool" outcome "${files[@]}")
cp "$dir/out" "$dir/outcomes"
read -r gw gc gr < <(best grep -c -F -e TERMINATED "${files[@]}")
echo "classes: $(cut -f2 "$dir/outcomes" | sort | uniq -c | awk '{ printf "%s %s, ", $2, $1 }' | sed 's/, $//')"
awk -v n="${#files[@]}" -v b="$bytes" -v nw="$nw" -v nc="$nc" -v nr="$nr" -v gw="$gw" -v gc="$gc" -v gr="$gr" 'BEGIN {
    printf "%d files, %.1f MB\n", n, b / 1e6
    printf "nelo-analyze outcome: %5d ms wall, %5d ms CPU, read %7.1f MB\n", nw, nc, nr / 1e6
    printf "grep -c -F:           %5d ms wall, %5d ms CPU, read %7.1f MB\n", gw, gc, gr / 1e6
    printf "ratio nelo/grep: wall %.2f, CPU %.2f\n", nw / gw, (gc > 0 ? nc / gc : 0) }'
