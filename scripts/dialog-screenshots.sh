#!/usr/bin/env bash
# Takes a screenshot of each dialog on a virtual X display, for a look.
#
#   bash scripts/dialog-screenshots.sh [build-dir] [out-dir]
#
# Needs xvfb-run and ImageMagick's import; a window manager (twm, if installed)
# draws the title bars, so the captions can be seen too. Writes
# settings.png, settings-other.png, settings-cluster.png, settings-ssh.png (the
# Cluster page over SSH), settings-hint.png,
# report.png, about.png, and from a run of the examples with the Firefly
# stand-in in the main window live.png (the chart during an optimisation),
# done.png (the processed list with how each job ended) and convergence.png
# (the Convergence window). The Cluster page asks the cluster named by
# SLURM_CONF (scripts/slurm-local.sh start prints one) as it is shown.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
out=${2:-/tmp/nelo-shots}
show=$build/tests/ui/nelo_show_dialogs
[ -x "$show" ] || { echo "build $show first (cmake --build $build --target nelo_show_dialogs)" >&2; exit 1; }
mkdir -p "$out"
for which in settings settings-other settings-cluster settings-ssh settings-hint report about; do
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
        if command -v twm >/dev/null; then twm >/dev/null 2>&1 & fi
        sleep 1
        "$1" "$2" & shown=$!
        sleep 3
        import -window root "$3"
        kill "$shown"' _ "$show" "$which" "$out/$which.png"
    echo "$out/$which.png"
done
xvfb-run -a -s "-screen 0 1280x1024x24" "$show" main-run "$out"
