#!/usr/bin/env bash
# Runs a test program on a virtual X display of its own. Xvfb chooses a free
# display number itself and reports it once it is ready (-displayfd), so test
# runs started at the same moment never race for one number, as two
# `xvfb-run -a` can (the loser's program then finds no display). -noreset
# keeps the server up between clients: a test that starts one program after
# another would otherwise meet a server resetting itself and be refused.
#
#   tests/xvfb-test.sh PROGRAM [ARGUMENTS...]
set -u
dir=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$dir"' EXIT

for _ in $(seq 200); do
    grep -q '^[0-9]' "$dir/display" 2>/dev/null && break
    if ! kill -0 "$xvfb" 2>/dev/null; then
        echo "Xvfb did not start:" >&2
        cat "$dir/xvfb.log" >&2
        exit 1
    fi
    sleep 0.05
done
display=$(head -n 1 "$dir/display")
if [[ ! $display =~ ^[0-9]+$ ]]; then
    echo "Xvfb reported no display within 10 s" >&2
    exit 1
fi

DISPLAY=":$display" "$@"
