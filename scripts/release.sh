#!/usr/bin/env bash
# Makes a release in dist/ from this checkout, every file named after the build's one version:
#   virivorezu-<version>.jar         UsbPort and its loader (Java 8), with the libraries for windows-x86-64,
#                                    windows-x86 and linux-x86-64 inside
#   virivorezu-simkit-<version>.jar  the simulator kit for a driver's tests (SimBus, PrinterStatus, SimBusExtension,
#                                    SimTimeScale) with the simulator's Linux library inside
#   virivorezu_<version>_amd64.deb   the Debian package for Linux tills
#   virivorezu-<version>-windows.zip both DLLs and both probes, with a short readme
#   SHA256SUMS
# The builds go to build-release/; Release builds with -Werror, and the Linux one hardened as Debian builds are.
# Usage: scripts/release.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
builds=$root/build-release
dist=$root/dist
"$root/scripts/setup.sh"

configure() {
  local folder=$1
  shift
  mkdir -p "$folder"
  cmake -S "$root" -B "$folder" -DCMAKE_BUILD_TYPE=Release -DVIRI_WERROR=ON -DVIRI_TESTS=OFF "$@" \
    >"$folder/configure.log" 2>&1 || { cat "$folder/configure.log"; exit 1; }
}

for arch in x86_64 i686; do
  echo "== Windows $arch"
  configure "$builds/windows-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake"
  cmake --build "$builds/windows-$arch" --target VIRIVOREzu viri_probe -j2
  # What a till receives needs no symbol table; the exports stay.
  "$arch-w64-mingw32-strip" --strip-unneeded "$builds/windows-$arch/VIRIVOREzu.dll" \
    "$builds/windows-$arch/tools/probe/viri_probe.exe"
done
for arch in x86_64 i686; do
  "$root/tests/windows/check_exports.sh" "$builds/windows-$arch/VIRIVOREzu.dll" "$arch-w64-mingw32-objdump" \
    "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$builds/windows-$arch/CMakeCache.txt")"
done

echo "== Linux x86-64"
hardening="-D_FORTIFY_SOURCE=2"
configure "$builds/linux" -DCMAKE_C_FLAGS="$hardening" -DCMAKE_CXX_FLAGS="$hardening" \
  -DCMAKE_SHARED_LINKER_FLAGS="-Wl,-z,relro,-z,now" -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" \
  -DVIRI_WINDOWS_X86_64_DLL="$builds/windows-x86_64/VIRIVOREzu.dll" \
  -DVIRI_WINDOWS_X86_DLL="$builds/windows-i686/VIRIVOREzu.dll"
# The jar is packed again every time: it depends on the DLLs, whose paths the cache may have just changed.
rm -f "$builds/linux/release/"*.jar
cmake --build "$builds/linux" --target release_jar kit deb -j2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$builds/linux/CMakeCache.txt")

jar_files=$(unzip -Z1 "$builds/linux/release/virivorezu-$version.jar")
for library in linux-x86-64/libVIRIVOREzu.so windows-x86-64/VIRIVOREzu.dll windows-x86/VIRIVOREzu.dll; do
  grep -q -x "com/qel/usb/native/$library" <<<"$jar_files" ||
    { echo "release: the jar lacks com/qel/usb/native/$library" >&2; exit 1; }
done

rm -rf "$dist"
mkdir -p "$dist"
cp "$builds/linux/release/virivorezu-$version.jar" "$builds/linux/release/virivorezu_${version}_amd64.deb" "$dist/"
cp "$builds/linux/kit/viri-simkit.jar" "$dist/virivorezu-simkit-$version.jar"

windows=$(mktemp -d)
trap 'rm -rf "$windows"' EXIT
folder=$windows/virivorezu-$version-windows
mkdir -p "$folder/x86-64" "$folder/x86"
cp "$builds/windows-x86_64/VIRIVOREzu.dll" "$builds/windows-x86_64/tools/probe/viri_probe.exe" "$folder/x86-64/"
cp "$builds/windows-i686/VIRIVOREzu.dll" "$builds/windows-i686/tools/probe/viri_probe.exe" "$folder/x86/"
sed "s/@VERSION@/$version/g" "$root/packaging/windows/README.txt" | sed 's/$/\r/' > "$folder/README.txt"
(cd "$windows" && zip -q -r -X "$dist/virivorezu-$version-windows.zip" "virivorezu-$version-windows")

(cd "$dist" && sha256sum -- *.jar *.deb *.zip > SHA256SUMS)
echo "== dist/"
(cd "$dist" && ls -l && cat SHA256SUMS)
