#!/usr/bin/env bash
# HOMO-LUMO over many Firefly outputs: `nelo-analyze homo-lumo` against the
# same orbital and total energies read by cclib (Debian's python3-cclib,
# installed only to run this: `apt-get install python3-cclib`; Nelo does not
# use it). The outputs are written by firefly-standin (pace 0) from the inputs
# in examples/, cycled, into a temporary folder that is removed afterwards.
# Both sides read the files from the page cache (one warm-up run each); each
# figure is the best of RUNS runs.
#
#   bench/homo_lumo_vs_cclib.sh [BUILD_DIR] [COUNT] [RUNS]   (defaults: build-rel 1000 3)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build-rel}
count=${2:-1000}
runs=${3:-3}
tool=$build/tools/nelo-analyze/nelo-analyze
standin=$build/tools/firefly-standin/firefly-standin
for f in "$tool" "$standin"; do
    [ -x "$f" ] || { echo "missing $f: build nelo-analyze and firefly-standin in $build" >&2; exit 1; }
done
python3 -c 'import cclib' 2>/dev/null || { echo "cclib is missing: apt-get install python3-cclib" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mapfile -t inputs < <(ls "$top"/examples/*.inp | grep -v fails)
for i in $(seq 1 "$count"); do
    input=${inputs[$(( (i - 1) % ${#inputs[@]} ))]}
    FIREFLY_STANDIN_PACE=0 "$standin" -i "$input" -o "$dir/job$i.out" -b none -np 1 -t "$dir/w/" >/dev/null 2>&1
done
bytes=$(cat "$dir"/job*.out | wc -c)

cat >"$dir/cclib_homo_lumo.py" <<'PY'
import sys, cclib
from cclib.parser import utils
for path in sys.argv[1:]:
    data = cclib.io.ccread(path)
    energies = data.moenergies[0]            # eV
    homo = data.homos[0]
    total = utils.convertor(data.scfenergies[-1], "eV", "kcal/mol")
    print("%s\t%.2f\t%.2f\t%.2f\t%.2f" % (path, energies[homo], energies[homo + 1],
                                           energies[homo + 1] - energies[homo], total))
PY

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

files=("$dir"/job*.out)
nelo=$(best "$tool" homo-lumo "${files[@]}")
nelo_lines=$(wc -l <"$dir/out")
cp "$dir/out" "$dir/nelo.txt"
py=$(best python3 "$dir/cclib_homo_lumo.py" "${files[@]}")
py_lines=$(wc -l <"$dir/out")
echo "files: $count ($(awk -v b="$bytes" 'BEGIN { printf "%.1f MB", b / 1e6 }')); lines: nelo $nelo_lines, cclib $py_lines"
awk -v n="$nelo" -v p="$py" 'BEGIN { printf "nelo-analyze %d ms | cclib %d ms | cclib/nelo %.0fx\n", n, p, (n > 0 ? p / n : 0) }'
echo "first lines: nelo: $(head -1 "$dir/nelo.txt")"
echo "             cclib: $(head -1 "$dir/out")"
