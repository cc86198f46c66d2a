#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs the C++ and Java tests on Linux, builds the benchmarks
# without running them, runs the C++ tests again under AddressSanitizer with UndefinedBehaviorSanitizer and under
# ThreadSanitizer, builds the library with clang's thread-safety analysis, checks the sources' layout, then builds
# the Windows DLL and runs its checks and tests under Wine. Ends with one line that counts every test:
# "tests: N passed, N failed, N skipped".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" --wine32 || exit 1

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0

run_stage() {
  echo "== $1"
  shift
  "$@" 2>&1 | tee -a "$log"
  local result=${PIPESTATUS[0]}
  if [ "$result" -ne 0 ]; then
    status=1
    # A stage that failed without counting its tests still counts as one failure.
    grep -q -E "tests failed out of|^[0-9]+ passed, [0-9]+ failed" <(tail -n 20 "$log") || echo "stage failed: 0 passed, 1 failed" >> "$log"
  fi
}

run_stage "Linux build" "$root/scripts/build.sh" "$root/build"
run_stage "Linux tests" bash -c "cd '$root/build' && ctest --output-on-failure --timeout 900"
# The benchmarks are not part of the default build, yet compile the emulation's test sources: built here, not run.
run_stage "Benchmarks (built, not run)" bash -c "cmake --build '$root/build' -j$(nproc) --target ring_buffer_bench \
  platform_wait_bench usblp_bench native_bench && echo 'benchmarks: 1 passed, 0 failed'"
run_stage "Source layout (clang-format)" "$root/tests/format.sh" "$root"
run_stage "Clang thread-safety analysis" "$root/tests/thread_safety.sh" "$root" "$root/build-clang"
if [ -x "$root/tests/sanitize.sh" ]; then
  run_stage "Sanitizers" "$root/tests/sanitize.sh" "$root" "$root/build-sanitize"
fi
if [ -x "$root/tests/windows/run.sh" ]; then
  run_stage "Windows DLL under Wine" "$root/tests/windows/run.sh" "$root" "$root/build-windows"
  run_stage "Windows x86 DLL under Wine" "$root/tests/windows/run.sh" "$root" "$root/build-windows-x86" x86
fi

# ctest: "N% tests passed, F tests failed out of T", where T includes the tests it lists as "(Skipped)"; the
# sanitized test programs: one line each; the Wine suites: "P passed, F failed"; a stage that cannot run here (the
# x86 DLL's suites without 32-bit Wine): a line that starts "SKIPPED:", one skip each.
passed=0
failed=0
skipped=0
while read -r line; do
  if [[ $line =~ ([0-9]+)\ tests\ failed\ out\ of\ ([0-9]+) ]]; then
    failed=$((failed + BASH_REMATCH[1]))
    passed=$((passed + BASH_REMATCH[2] - BASH_REMATCH[1]))
  elif [[ $line =~ ^[0-9]+\ -\ .*\(Skipped\)$ ]]; then
    skipped=$((skipped + 1))
    passed=$((passed - 1))
  elif [[ $line =~ ^SKIPPED: ]]; then
    skipped=$((skipped + 1))
  elif [[ $line =~ ^sanitize:\ [a-z]+\ [a-z_]+\ passed ]]; then
    passed=$((passed + 1))
  elif [[ $line =~ ^sanitize:\ [a-z]+\ [a-z_]+\ FAILED ]]; then
    failed=$((failed + 1))
  elif [[ $line =~ ^([a-z]+:\ )?([0-9]+)\ passed,\ ([0-9]+)\ failed ]]; then
    passed=$((passed + BASH_REMATCH[2]))
    failed=$((failed + BASH_REMATCH[3]))
  fi
done < "$log"
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "tests: $passed passed, $failed failed, $skipped skipped"
exit $status
