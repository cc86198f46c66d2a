#!/usr/bin/env bash
# Checks that the C++ sources are laid out as .clang-format says (clang-format 14), and names every file that is not.
# Usage: tests/format.sh <source-dir>. The Win32 headers the project stands in for (include/, windows/include/) keep
# the layout of the headers they mirror.
set -uo pipefail
root=${1:?source folder}
cd "$root" || exit 1
tool=$(command -v clang-format-14 || command -v clang-format)
if [ -z "$tool" ]; then
  echo "missing clang-format 14: run scripts/setup.sh" >&2
  echo "format: 0 passed, 1 failed"
  exit 1
fi
unformatted=()
while IFS= read -r file; do
  "$tool" --style=file --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(git ls-files -- '*.cpp' '*.h' ':!include/**' ':!windows/include/**')
if [ ${#unformatted[@]} -ne 0 ]; then
  printf 'not formatted: %s\n' "${unformatted[@]}"
  echo "to fix: $tool -i --style=file <file>"
  echo "format: 0 passed, 1 failed"
  exit 1
fi
echo "format: 1 passed, 0 failed"
