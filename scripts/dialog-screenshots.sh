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
# done.png (the processed list with how each job ended, and the desktop
# notification of the run's end) and convergence.png
# (the Convergence window), and with SLURM_CONF set cluster.png (a cluster
# run: its jobs above the chart). The Cluster page asks the cluster named by
# SLURM_CONF (scripts/slurm-local.sh start prints one) as it is shown.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$top/build}
out=${2:-/tmp/nelo-shots}
show=$build/tests/ui/nelo_show_dialogs
[ -x "$show" ] || { echo "build $show first (cmake --build $build --target nelo_show_dialogs)" >&2; exit 1; }
for tool in xvfb-run import; do
    command -v "$tool" >/dev/null || { echo "needs $tool (Debian: xvfb, imagemagick)" >&2; exit 1; }
done
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
# The run ends with a desktop notification: on a session bus of its own,
# with Debian's xfce4-notifyd or notification-daemon where one is installed,
# done.png shows it beside the window.
notifyd=$(ls /usr/lib/*/xfce4/notifyd/xfce4-notifyd /usr/lib/notification-daemon/notification-daemon 2>/dev/null |
          head -n 1 || true)
xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- bash -c '
    if [ -n "$1" ]; then "$1" >/dev/null 2>&1 & sleep 1; fi
    "$2" main-run "$3"' _ "$notifyd" "$show" "$out"
# A cluster run, where SLURM_CONF names a Slurm (scripts/slurm-local.sh start):
# cluster.png, the jobs of the run above the chart.
if [ -n "${SLURM_CONF:-}" ]; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$show" cluster-run "$out"
fi
