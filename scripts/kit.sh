#!/usr/bin/env bash
# Builds the simulated printer kit a driver project points at into <folder>/kit (default folder: build-kit):
# usbport.jar, viri-simkit.jar and libVIRIVOREzu.so with the simulated bus. docs/test-kit.md tells how to use it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-kit"}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIRI_WERROR=ON -DVIRI_TESTS=OFF \
  > "$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" --target kit -j"$(nproc)"
echo "The kit is in $build/kit"
