#!/usr/bin/env bash
# Installs what is needed, builds Nelo and starts it. Arguments go to Nelo
# ("X" offers the HOMO-LUMO table in the processed list's menu).
#
# First run (no build/ui/nelo.INI yet): writes demo settings that point Nelo
# at the built Firefly stand-in, with working directories created under
# build/demo/work, and copies the example inputs to build/demo/inputs, so the
# whole flow works on a machine without Firefly. Later runs keep whatever the
# settings say; point "Firefly executable" at the real Firefly in Settings...
# (saved on Exit), or delete build/ui/nelo.INI to get the demo settings back.
# Nelo starts in build/demo/inputs (when there is one), so that its first
# Add Input File... opens there.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)" --target nelo firefly-standin

settings="$top/build/ui/nelo.INI"
if [ ! -e "$settings" ]; then
    demo="$top/build/demo"
    mkdir -p "$demo/work" "$demo/inputs"
    cp -n examples/*.inp "$demo/inputs/" 2>/dev/null || true
    # The desktop's opener stands in for a text editor, if there is one.
    editor=$(command -v xdg-open || true)
    cat >"$settings" <<EOF
[Settings]
EXEFile=$top/build/tools/firefly-standin/firefly-standin
DirList=$demo/work
CPUcores=1
OutputFormat=0
AddCmdLine=
AutoDir=1
Ropt=1
Fopt=1
Popt=1
CopyCmdLine=0
LibFile=
TxtFile=$editor
MolFile=
EOF
    echo "Demo settings written to $settings: Firefly is the stand-in."
    echo "Add inputs from $demo/inputs (Add Input File... or drop one on the queue) and press Run."
fi

# Nelo's file dialogs open first in the folder it is started in: the demo's inputs.
if [ -d "$top/build/demo/inputs" ]; then cd "$top/build/demo/inputs"; fi
exec "$top/build/ui/nelo" "$@"
