#!/usr/bin/env bash
# Builds the C++ tests with AddressSanitizer and UndefinedBehaviorSanitizer, and again with ThreadSanitizer, each in
# its own folder under <build-root>, and runs platform_tests, library_tests, stress_tests, linuxdev_tests (under
# umockdev-wrapper) and logind_tests under each, and the stress_tests once more under ThreadSanitizer with the library's trace on.
# The Java tests are not run: the JVM does not run under these sanitizers.
#
#   tests/sanitize.sh <source> <build-root>
#
# Exits non-zero on any test failure or sanitizer report. STRESS_SECONDS bounds each stress run (default 60), except
# the usblp and the native backend's, which USBLP_STRESS_SECONDS bounds (default 3 each); STRESS_SEED replays a
# stress round.
# SANITIZERS picks the builds (default "address thread").
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 <source> <build-root>" >&2
  exit 2
fi
source=$(cd "$1" && pwd)
mkdir -p "$2"
root=$(cd "$2" && pwd)
jobs=$(nproc)
export STRESS_SECONDS=${STRESS_SECONDS:-60}

# halt_on_error: the first report ends the run with a failure. -fno-sanitize-recover makes UBSan's reports fatal.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# A report printed while the process still exits 0 (one from a thread at exit, say) fails the run all the same.
reports='ERROR: AddressSanitizer|ERROR: LeakSanitizer|WARNING: ThreadSanitizer|runtime error:|SUMMARY: UndefinedBehaviorSanitizer'

status=0

elapsed() { echo "$(( $(date +%s) - $1 )) s"; }

build() {
  local sanitizer=$1 dir=$2 start
  start=$(date +%s)
  # -O1 keeps the sanitized tests fast enough while the stacks stay readable.
  if ! cmake -S "$source" -B "$dir" -DVIRI_SANITIZE="$sanitizer" -DVIRI_WERROR=ON -DCMAKE_BUILD_TYPE= \
         -DCMAKE_C_FLAGS="-O1 -g" -DCMAKE_CXX_FLAGS="-O1 -g" > "$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"
    return 1
  fi
  if ! cmake --build "$dir" -j"$jobs" --target platform_tests library_tests stress_tests linuxdev_tests logind_tests > "$dir.build.log" 2>&1; then
    tail -n 60 "$dir.build.log"
    return 1
  fi
  echo "sanitize: $sanitizer build took $(elapsed "$start")"
}

run() {
  local sanitizer=$1 dir=$2 test=$3 start log
  start=$(date +%s)
  log="$dir/$test.log"
  local launch=()
  # The real backends' tests (usblp and libusb) emulate their printers through umockdev's preload library, which
  # must come before the sanitizer's runtime; ThreadSanitizer's reports from inside the emulation and libudev are
  # suppressed.
  if [ "$test" = linuxdev_tests ]; then
    launch=(env ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0"
                TSAN_OPTIONS="$TSAN_OPTIONS:suppressions=$source/tests/linuxdev/tsan.supp" umockdev-wrapper)
  fi
  if "${launch[@]}" "$dir/tests/$test" --gtest_brief=1 > "$log" 2>&1 && ! grep -Eq "$reports" "$log"; then
    echo "sanitize: $sanitizer $test passed in $(elapsed "$start")"
    return 0
  fi
  echo "sanitize: $sanitizer $test FAILED after $(elapsed "$start"); the end of $log:"
  tail -n 120 "$log"
  return 1
}

for sanitizer in ${SANITIZERS:-address thread}; do
  dir="$root/$sanitizer"
  mkdir -p "$dir"
  if ! build "$sanitizer" "$dir"; then
    echo "sanitize: the $sanitizer build failed"
    status=1
    continue
  fi
  for test in platform_tests library_tests stress_tests; do
    run "$sanitizer" "$dir" "$test" || status=1
  done
  # The usblp and the native backend's tests, their few seconds of stress each included (USBLP_STRESS_SECONDS).
  run "$sanitizer" "$dir" linuxdev_tests || status=1
  # The logind listener against dbusmock's logind, and the library's suspend and resume driven by it.
  run "$sanitizer" "$dir" logind_tests || status=1
  # Once more with the library's trace on: its queue and writer under the storm, and a trace that still parses.
  if [ "$sanitizer" = thread ]; then
    VIRIVOREZU_TRACE="$dir/stress-trace.log" run "$sanitizer" "$dir" stress_tests || status=1
  fi
done
exit $status
