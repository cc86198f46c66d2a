#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs the C++ and Java tests on Linux, then builds the Windows
# DLL and runs its checks and tests under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"

"$root/scripts/build.sh" "$root/build"
status=0
(cd "$root/build" && ctest --output-on-failure --timeout 900) || status=1

if [ -x "$root/tests/windows/run.sh" ]; then
  "$root/tests/windows/run.sh" "$root" "$root/build-windows" || status=1
fi
exit $status
