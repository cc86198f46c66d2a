#!/usr/bin/env bash
# The main job: builds the library and runs the demo, a receipt printed through the library on a simulated printer.
#   scripts/demo.sh [--native] [--fast]   the simulated printer, through the simulator's library (build/sim)
#   scripts/demo.sh --real                the printer plugged into this machine, through the real-device library
#                                         (build/lib); with none, the probe's findings say what is missing
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
real=false
options=()
for arg in "$@"; do
  if [ "$arg" = --real ]; then real=true; else options+=("$arg"); fi
done

"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" > "$root/build.log" 2>&1 || { tail -50 "$root/build.log"; exit 1; }
# Every configuration builds the demo's classes (cmake/demo.cmake), -DVIRI_TESTS=OFF too; named here so that a
# folder that cannot build them (no JDK found) stops with the build's message rather than at the java command.
cmake --build "$root/build" --target demo_classes >> "$root/build.log" 2>&1 ||
  { tail -50 "$root/build.log"; exit 1; }
java_home=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
demo() {
  exec "$java_home/bin/java" -Xcheck:jni -Djava.library.path="$1" -cp "$root/build/demo-classes" \
    com.qel.usb.demo.Demo "${@:2}"
}

if ! $real; then
  demo "$root/build/sim" ${options[@]+"${options[@]}"}
fi

library=$root/build/lib
probe=${VIRI_PROBE:-$root/build/tools/probe/viri_probe}
if [ ! -f "$library/libVIRIVOREzu.so" ]; then
  echo "demo --real: the real-device library $library/libVIRIVOREzu.so was not built; see $root/build.log" >&2
  exit 1
fi
echo "What the library finds on this machine (viri_probe):"
if ! "$probe"; then
  cat >&2 <<MISSING

demo --real: no supported printer can be opened here (the probe's findings above). Plug in a supported receipt
printer, install linuxdev/udev/60-virivorezu.rules and join its group (README, "Real printers on Linux"), close any
program that holds the printer, and run again.
MISSING
  exit 1
fi
demo "$library" --real
