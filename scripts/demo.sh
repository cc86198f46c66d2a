#!/usr/bin/env bash
# The main job: builds the library and runs the demo, a receipt printed through the library on a simulated printer
# (the simulator build of the library, build/sim).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$root/build" > "$root/build.log" 2>&1 || { tail -50 "$root/build.log"; exit 1; }
java_home=${JAVA_HOME:-/usr/lib/jvm/java-17-openjdk-amd64}
exec "$java_home/bin/java" -Xcheck:jni -Djava.library.path="$root/build/sim" -cp "$root/build/java-classes" \
  com.qel.usb.demo.Demo "$@"
