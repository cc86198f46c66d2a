#!/usr/bin/env bash
# Builds the library with clang's thread-safety analysis as errors: every lock the library takes, every field a lock
# guards and the order the locks are taken in are checked by the compiler.
set -uo pipefail
root=${1:?source folder}
build=${2:?build folder}
if ! cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DVIRI_TESTS=OFF \
     -DVIRI_WERROR=ON -DCMAKE_CXX_FLAGS="-Wthread-safety -Werror=thread-safety" > "$build.configure.log" 2>&1; then
  cat "$build.configure.log"
  echo "clang: 0 passed, 1 failed"
  exit 1
fi
if cmake --build "$build" -j"$(nproc)" --target VIRIVOREzu; then
  echo "clang: 1 passed, 0 failed"
  exit 0
fi
echo "clang: 0 passed, 1 failed"
exit 1
