#!/usr/bin/env bash
# Builds Nelo's Debian package (cpack -G DEB), installs it on this machine
# with apt-get, runs the installed programs (nelo-analyze on an output the
# Firefly stand-in writes; nelo offscreen until its window shows), validates
# the installed desktop entry (desktop-file-validate) and the package
# (lintian: no errors), and removes the package again. Needs root; CI runs it
# after scripts/test.sh. It refuses to run where a nelo package is installed
# already, and removes its own also when a check fails.
#
#   bash scripts/package-check.sh [build-dir]      (default build-package)
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
build=${1:-$top/build-package}
if [ "$(id -u)" -ne 0 ]; then
    echo "package-check: needs root (it installs and removes the package)" >&2
    exit 1
fi
if dpkg-query -W -f='${Status}' nelo 2>/dev/null | grep -q 'install ok installed'; then
    echo "package-check: a nelo package is installed already; remove it first" >&2
    exit 1
fi
bash scripts/install-deps.sh --tests

# Built as Debian builds its packages, with all of its compiler and linker
# hardening.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DNELO_BUILD_TESTS=OFF -DNELO_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
cmake --build "$build" --parallel "$(nproc)"
rm -f "$build"/nelo_*.deb
(cd "$build" && cpack -G DEB)
debs=("$build"/nelo_*.deb)
deb=${debs[0]}
echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

work=$(mktemp -d)
cleanup() {
    if dpkg-query -W -f='${Status}' nelo 2>/dev/null | grep -q 'install ok installed'; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y nelo >/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "== installing"
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"

echo "== the installed nelo-analyze on an output of the stand-in"
"$build/tools/firefly-standin/firefly-standin" -i examples/methane-energy.inp -o "$work/methane.out" -b "" \
    --standin-pace=0 -np 1 -t "$work/"
/usr/bin/nelo-analyze --version
outcome=$(/usr/bin/nelo-analyze outcome "$work/methane.out")
echo "$outcome"
[[ $outcome == "$work/methane.out"$'\t'normal$'\t'* ]]
/usr/bin/nelo-analyze homo-lumo "$work/methane.out" | grep -q '^methane'

echo "== the installed nelo, offscreen, until its window shows"
printf '[Settings]\nEXEFile=%s\nDirList=%s\nAutoDir=1\n' /usr/bin/true "$work" >"$work/nelo.INI"
QT_QPA_PLATFORM=offscreen NELO_SETTINGS_FILE="$work/nelo.INI" NELO_STATE_REPORT="$work/state.json" \
    /usr/bin/nelo >"$work/nelo.log" 2>&1 &
nelo=$!
shown=0
for _ in $(seq 150); do
    if grep -Eq '"class": *"TForm1"' "$work/state.json" 2>/dev/null; then
        shown=1
        break
    fi
    kill -0 "$nelo" 2>/dev/null || break
    sleep 0.2
done
kill "$nelo" 2>/dev/null || true
wait "$nelo" 2>/dev/null || true
if [ "$shown" -ne 1 ]; then
    echo "package-check: the installed nelo showed no main window" >&2
    cat "$work/nelo.log" >&2
    exit 1
fi
echo "its main window showed"

echo "== desktop-file-validate"
desktop-file-validate /usr/share/applications/nelo.desktop

echo "== lintian (warnings left: see README, Installing the package)"
lintian --fail-on error --display-info "$deb"

echo "== removing"
DEBIAN_FRONTEND=noninteractive apt-get purge -y nelo
[ ! -e /usr/bin/nelo ] && [ ! -e /usr/bin/nelo-analyze ]
echo "package-check: $deb built, installed, ran, validated and removed"
