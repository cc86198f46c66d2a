#!/usr/bin/env bash
# Builds the Windows DLL and the Windows test program with mingw-w64, checks the DLL's exports, imports and version
# resource, and runs the test program's suites under Wine, each in a process and a wineserver of its own.
# Usage: tests/windows/run.sh <source-dir> <build-dir> [x86-64|x86]
#   x86-64 (the default): the 64-bit DLL, under a 64-bit Wine prefix.
#   x86: the 32-bit DLL, for 32-bit JREs, under a 32-bit prefix; needs Debian's wine32:i386. Without it the DLL is
#   still built and checked, and the suites are skipped with a message saying so.
# Needs (Debian): g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64 (x86: the i686 ones), wine, wine64,
# openjdk-17-jdk-headless.
set -euo pipefail

if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 <source-dir> <build-dir> [x86-64|x86]" >&2
  exit 2
fi
source_dir=$(cd "$1" && pwd)
mkdir -p "$2"
build_dir=$(cd "$2" && pwd)
arch=${3:-x86-64}
case $arch in
x86-64) triple=x86_64-w64-mingw32 toolchain=mingw-w64-x86_64.cmake wine_arch=win64 ;;
x86) triple=i686-w64-mingw32 toolchain=mingw-w64-i686.cmake wine_arch=win32 ;;
*) echo "unknown architecture $arch" >&2; exit 2 ;;
esac

for tool in $triple-g++-posix $triple-objdump wine wineboot wineserver; do
  command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/setup.sh" >&2; exit 1; }
done

echo "== Windows $arch build in $build_dir"
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DVIRI_WERROR=ON >"$build_dir/configure.log" 2>&1 ||
  { cat "$build_dir/configure.log"; exit 1; }
cmake --build "$build_dir" --target VIRIVOREzu viri_wine_tests -j2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")

status=0
echo "== Exports, imports and version resource of the $arch VIRIVOREzu.dll"
"$source_dir/tests/windows/check_exports.sh" "$build_dir/VIRIVOREzu.dll" "$triple-objdump" "$version" || status=1
echo "== No test instrumentation in the $arch VIRIVOREzu.dll"
cmake --build "$build_dir" --target check_no_test_instrumentation || status=1

if [ "$arch" = x86 ] && ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  echo "SKIPPED: the Wine suites of the x86 DLL: wine32:i386 is not installed (scripts/setup.sh could not install" \
    "it); the DLL was checked from outside only"
  exit $status
fi

# Wine: a prefix of our own, no debug output, no Mono or Gecko installers, and the null graphics driver, so that
# windows can be created without a display.
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=$wine_arch
if [ ! -f "$WINEPREFIX/.viri-prefix-ready" ]; then
  echo "== Creating the Wine prefix $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  # Let the wineserver end by itself, so that the registry is saved.
  wineserver -w
  touch "$WINEPREFIX/.viri-prefix-ready"
fi

# The library reads the trace's variables as it loads; the trace suite sets its own, and the others run untraced
# whatever the calling shell exports.
unset VIRIVOREZU_TRACE VIRIVOREZU_TRACE_BYTES

# The power suite waits through the library's 15 s + 5 s of resume pauses, and a further 5 s, in real time.
for suite in harness transport power trace; do
  echo "== Wine suite: $suite"
  wineserver -k 2>/dev/null || true
  (cd "$build_dir" && timeout --kill-after=10 180 wine viri_wine_tests.exe "$suite") || {
    echo "Wine suite $suite FAILED"
    status=1
  }
done
wineserver -k 2>/dev/null || true

exit $status
