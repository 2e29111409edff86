#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs one or all of
# them for a given time, at the lowest priority, one after another.
#
#   fuzz/run.sh TARGET SECONDS     TARGET: inifile dirlist geometryscanner
#   fuzz/run.sh all SECONDS                parse orbitalreport outputfollower
#
# Extra arguments go to libFuzzer (e.g. -runs=10000000). Seeds come from
# fuzz/seeds, tests/data and the Firefly samples, copied into the build folder
# at fuzz time (the samples never enter the repository). Crash inputs land in
# build-fuzz/crashes/TARGET; the execution count is the "Done N runs" line of
# build-fuzz/logs/TARGET.log.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${NELO_FUZZ_BUILD:-$top/build-fuzz}
samples=${NELO_SAMPLES_DIR:-$top/../shared/firefly-samples}
targets=(inifile dirlist geometryscanner parse orbitalreport outputfollower)

if [[ $# -lt 2 ]]; then
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi
which=$1 seconds=$2
shift 2
if [[ $which == all ]]; then
    selected=("${targets[@]}")
elif [[ " ${targets[*]} " == *" $which "* ]]; then
    selected=("$which")
else
    echo "unknown target: $which" >&2
    exit 2
fi

CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNELO_FUZZ=ON -DNELO_BUILD_TESTS=OFF -DNELO_BUILD_BENCH=OFF >/dev/null
nice -n 19 cmake --build "$build" --parallel 2 --target "${selected[@]/#/fuzz_}"

# Slices of a file that hold one of the words, as seeds of at most $3 bytes.
slices() {
    local file=$1 out=$2 size=$3 words=$4
    python3 - "$file" "$out" "$size" "$words" <<'PY'
import os, sys
path, out, size, words = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4].split('|')
data = open(path, 'rb').read()
base = os.path.basename(path)
for k, start in enumerate(range(0, len(data), size // 2)):
    piece = data[start:start + size]
    if any(w.encode() in piece for w in words):
        open(os.path.join(out, f'{base}.{k}'), 'wb').write(piece)
PY
}

seed() {
    local target=$1 corpus=$2
    mkdir -p "$corpus"
    # Our seeds, and the inputs that once found a fault.
    for d in "$top/fuzz/seeds/$target" "$top/tests/data/fuzz/$target"; do
        [[ -d $d ]] && cp -n "$d"/* "$corpus"/ 2>/dev/null || true
    done
    local out
    case $target in
    inifile)
        for f in "$top"/tests/data/*.INI "$top"/tests/data/*.ini "$samples"/*.inp; do
            [[ -f $f ]] && cp -n "$f" "$corpus"/
        done ;;
    dirlist) ;;
    geometryscanner | parse)
        for out in "$top"/tests/data/*.out "$samples"/*.out; do
            [[ -f $out ]] && slices "$out" "$corpus" 4096 'NSERCH=|MAXIMUM GRADIENT|GEOMETRY SEARCH|GEOMETRY LOCATED'
        done ;;
    orbitalreport)
        # Small outputs whole (the extraction needs every marker of a run),
        # the beginnings of larger ones.
        for out in "$top"/tests/data/*.out "$samples"/*.out; do
            [[ -f $out ]] && head -c 32768 "$out" > "$corpus/$(basename "$out")"
        done ;;
    outputfollower)
        for out in "$top"/tests/data/*.out "$samples"/*.out; do
            [[ -f $out ]] && slices "$out" "$corpus" 4096 'NSERCH=|ENERGY'
        done ;;
    esac
}

maxlen() {
    case $1 in
    orbitalreport) echo 32768 ;;
    geometryscanner | parse | outputfollower) echo 8192 ;;
    *) echo 4096 ;;
    esac
}

status=0
for target in "${selected[@]}"; do
    corpus=$build/corpus/$target
    crashes=$build/crashes/$target
    mkdir -p "$crashes" "$build/logs"
    seed "$target" "$corpus"
    log=$build/logs/$target.log
    echo "== fuzz_$target for $seconds s (log: $log)"
    # No allocation stack traces: Qt's libraries have no frame pointers, so
    # the fast unwinder records a new, partly random trace for most
    # allocations and the sanitizer's trace store grows until libFuzzer's
    # 2 GB limit ends the run (an "out-of-memory" with 25 MB live). Rerun a
    # leak report's input with malloc_context_size=30 to see where it was
    # allocated.
    ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:malloc_context_size=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    nice -n 19 "$build/fuzz/fuzz_$target" "$corpus" -artifact_prefix="$crashes/" \
        -max_len="$(maxlen "$target")" -max_total_time="$seconds" -print_final_stats=1 "$@" \
        >"$log" 2>&1 || status=$?
    grep -E '^Done [0-9]+ runs|stat::number_of_executed_units' "$log" || true
    ls "$crashes" | sed 's/^/   crash: /'
done
exit "$status"
