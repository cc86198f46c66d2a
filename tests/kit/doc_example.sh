#!/usr/bin/env bash
# Runs the worked example of docs/test-kit.md as the page tells a new driver developer: the build's kit target
# gathers the kit, the code blocks marked <!-- file: PATH --> must equal those files, and the block marked
# <!-- run --> runs in an empty folder holding them, against the kit's jars and library only.
# Usage: doc_example.sh <source folder> <build folder> <JUnit console launcher jar> [cmake]
set -euo pipefail
root=$1
build=$2
export JUNIT=$3
cmake=${4:-cmake}
export KIT="$build/kit"
page="$root/docs/test-kit.md"

"$cmake" --build "$build" --target kit > "$build/kit_example.build.log" 2>&1 || { cat "$build/kit_example.build.log"; exit 1; }

# The fenced block that follows the first line matching the marker, without its fences.
blockAfter() {
    awk -v marker="$1" '
        !found && index($0, marker) == 1 { found = 1; next }
        found && !inside && /^```/ { inside = 1; next }
        inside && /^```/ { exit }
        inside { print }
    ' "$page"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

files=$(sed -n 's/^<!-- file: \([^ ]*\) -->$/\1/p' "$page")
if [ -z "$files" ]; then
    echo "docs/test-kit.md marks no example file"
    exit 1
fi
for file in $files; do
    # The page's blocks are saved into the empty folder under the paths it names, src/... and test/...
    target="$work/${file#docs/examples/}"
    mkdir -p "$(dirname "$target")"
    blockAfter "<!-- file: $file -->" > "$target"
    if ! diff -u "$root/$file" "$target"; then
        echo "docs/test-kit.md shows a different $file: copy the file into the page"
        exit 1
    fi
done

steps=$(blockAfter "<!-- run")
if [ -z "$steps" ]; then
    echo "docs/test-kit.md has no block marked <!-- run -->"
    exit 1
fi
cd "$work"
echo "+ in an empty folder holding" $files
echo "$steps"
bash -euo pipefail -c "$steps"
