#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running Nelo need
# (debian-packages.txt); with --tests also those its tests, benchmarks and
# the local single-node Slurm need (debian-packages-test.txt), which a user
# who only runs Nelo does not want on the machine (Slurm's and munge's
# daemons among them). Skips the package manager when everything is there.
#
#   bash scripts/install-deps.sh [--tests]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
lists=("$here/debian-packages.txt")
[[ ${1:-} == --tests ]] && lists+=("$here/debian-packages-test.txt")
mapfile -t packages < <(cat "${lists[@]}" | grep -v -E '^\s*(#|$)')

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y "${missing[@]}"
