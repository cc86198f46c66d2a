#!/usr/bin/env bash
# Checks that the C++ sources are laid out as .clang-format says (clang-format 14), and names every file that is not.
# Usage: tests/format.sh <source-dir>. The platform layer, the simulator and their tests are not checked yet: they are
# being reworked on another branch, and are reformatted once that has landed.
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
done < <(git ls-files -- '*.cpp' '*.h' ':!platform/**' ':!sim/**' ':!tests/platform/**' ':!include/**' ':!windows/include/**')
if [ ${#unformatted[@]} -ne 0 ]; then
  printf 'not formatted: %s\n' "${unformatted[@]}"
  echo "to fix: $tool -i --style=file <file>"
  echo "format: 0 passed, 1 failed"
  exit 1
fi
echo "format: 1 passed, 0 failed"
