#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test headless;
# then builds everything again with AddressSanitizer and
# UndefinedBehaviorSanitizer (folder build-asan, no benchmarks) and runs the
# whole suite there too. NELO_SKIP_ASAN=1 leaves the second pass out.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh --tests

jobs=$(nproc)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure --parallel "$jobs"

if [[ ${NELO_SKIP_ASAN:-0} != 1 ]]; then
    # Any sanitizer report fails its test: ASan and UBSan stop the program,
    # LeakSanitizer reports at exit with a failing exit code.
    export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:strict_init_order=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    export LSAN_OPTIONS=suppressions=$top/scripts/lsan.supp:print_suppressions=0
    # -O1: a plain debug build makes the suite several times slower under ASan.
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DNELO_SANITIZE=ON -DNELO_BUILD_BENCH=OFF
    cmake --build build-asan --parallel "$jobs"
    QT_QPA_PLATFORM=offscreen ctest --test-dir build-asan --output-on-failure --parallel "$jobs"
fi
