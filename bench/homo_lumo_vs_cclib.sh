#!/usr/bin/env bash
# HOMO-LUMO over many Firefly outputs: `nelo-analyze homo-lumo` against the
# same orbital and total energies read by cclib's GAMESS parser (Debian's
# python3-cclib, installed only to run this: `apt-get install python3-cclib`;
# Nelo does not use it). Two sets of COUNT files in a temporary folder that is
# removed afterwards:
#  - written by firefly-standin (pace 0) from the inputs in examples/, cycled;
#  - copies of the real Firefly outputs in the samples folder
#    (NELO_SAMPLES_DIR, default ../shared/firefly-samples), cycled.
# For each set: the times, their ratio, and how many files got other numbers
# from cclib than from Nelo (both print two decimals).
# Both sides read the files from the page cache; Nelo's figures are the best
# of RUNS runs after a warm-up, cclib's is one run.
#
#   bench/homo_lumo_vs_cclib.sh [BUILD_DIR] [COUNT] [RUNS]   (defaults: build-rel 1000 3)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
count=${2:-1000}
runs=${3:-3}
python=${PYTHON:-/usr/bin/python3}   # Debian's, where python3-cclib installs
tool=$build/tools/nelo-analyze/nelo-analyze
standin=$build/tools/firefly-standin/firefly-standin
source "$top/bench/common.sh"
need "$tool" "$standin"
"$python" -c 'import cclib' 2>/dev/null || { echo "cclib is missing: apt-get install python3-cclib" >&2; exit 1; }

mapfile -t inputs < <(ls "$top"/examples/*.inp | grep -v fails)
for i in $(seq 1 "$count"); do
    input=${inputs[$(( (i - 1) % ${#inputs[@]} ))]}
    FIREFLY_STANDIN_PACE=0 "$standin" -i "$input" -o "$dir/job$i.out" -b none -np 1 -t "$dir/w/" >/dev/null 2>&1
done
bytes=$(cat "$dir"/job*.out | wc -c)
samples=${NELO_SAMPLES_DIR:-$top/../shared/firefly-samples}
mapfile -t reals < <(ls "$samples"/*.out)
mkdir "$dir/real"
for i in $(seq 1 "$count"); do
    cp "${reals[$(( (i - 1) % ${#reals[@]} ))]}" "$dir/real/real$i.out"
done
real_bytes=$(cat "$dir"/real/*.out | wc -c)

cat >"$dir/cclib_homo_lumo.py" <<'PY'
import sys, logging
from cclib.parser import GAMESS, utils
for path in sys.argv[1:]:
    data = GAMESS(path, loglevel=logging.ERROR).parse()
    energies = data.moenergies[0]            # eV
    homo = data.homos[0]
    total = utils.convertor(data.scfenergies[-1], "eV", "kcal/mol")
    print("%s\t%.2f\t%.2f\t%.2f\t%.2f" % (path, energies[homo], energies[homo + 1],
                                           energies[homo + 1] - energies[homo], total))
PY

# best COMMAND...: the smallest wall time of $runs runs, in ms, after a warm-up run.
best() {
    "$@" >"$dir/out" 2>"$dir/err" || true
    local wall=
    for _ in $(seq "$runs"); do
        local t0 t1 w
        t0=$(date +%s%N)
        "$@" >"$dir/out" 2>"$dir/err" || true
        t1=$(date +%s%N)
        w=$(( (t1 - t0) / 1000000 ))
        if [ -z "$wall" ] || [ "$w" -lt "$wall" ]; then wall=$w; fi
    done
    echo "$wall"
}

# compare LABEL BYTES FILES...: Nelo (best of $runs) and cclib (one run; minutes
# for 1,000 files) on the same files, the ratio, and how many files' four
# numbers differ between the two.
compare() {
    local label=$1 bytes=$2
    shift 2
    local nelo py t0
    nelo=$(best "$tool" homo-lumo "$@")
    cut -f2- "$dir/out" >"$dir/nelo.txt"
    t0=$(date +%s%N)
    "$python" "$dir/cclib_homo_lumo.py" "$@" >"$dir/out" 2>"$dir/err" || true
    py=$(( ($(date +%s%N) - t0) / 1000000 ))
    cut -f2- "$dir/out" >"$dir/cclib.txt"
    local differ
    differ=$(paste "$dir/nelo.txt" "$dir/cclib.txt" | awk -F'\t' '{
        for (i = 1; i <= 4; ++i) if ($i + 0 != $(i + 4) + 0) { ++d; break } } END { print d + 0 }')
    awk -v l="$label" -v c="$#" -v b="$bytes" -v n="$nelo" -v p="$py" -v nl="$(wc -l <"$dir/nelo.txt")" \
        -v pl="$(wc -l <"$dir/cclib.txt")" -v d="$differ" 'BEGIN {
        printf "%-18s %d files, %.1f MB: nelo-analyze %d ms (%d lines) | cclib %d ms (%d lines) | cclib/nelo %.0fx | files whose numbers differ: %d\n",
            l, c, b / 1e6, n, nl, p, pl, (n > 0 ? p / n : 0), d }'
    echo "  first line: nelo $(head -1 "$dir/nelo.txt" | tr '\t' ' ') | cclib $(head -1 "$dir/cclib.txt" | tr '\t' ' ')"
}

compare "stand-in outputs:" "$bytes" "$dir"/job*.out
compare "real outputs:" "$real_bytes" "$dir"/real/*.out
