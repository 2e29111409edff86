# Sourced by the bench scripts, after they set `build`: `need PROGRAM...`
# stops with a message when one of them is not built, and `dir` is a
# temporary folder removed when the script ends.
need() {
    local f
    for f; do
        [ -x "$f" ] || { echo "missing $f: build $(basename "$f") in $build" >&2; exit 1; }
    done
}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
