#!/usr/bin/env bash
# The demo in a build folder configured without the tests, as the README's till steps leave it: scripts/demo.sh
# builds the demo's classes there and they run. The library is the test build's own simulator build, so that only
# the configure and the Java classes are made here.
# Usage: without_tests.sh <source folder> <build folder> [cmake]
set -euo pipefail
root=$1
build=$2
cmake=${3:-cmake}
folder="$build/demo-without-tests"

"$cmake" -S "$root" -B "$folder" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIRI_TESTS=OFF > "$folder.configure.log" 2>&1 ||
  { cat "$folder.configure.log"; exit 1; }
"$cmake" --build "$folder" --target demo_classes
test -f "$folder/demo-classes/com/qel/usb/demo/Demo.class"
java -Xcheck:jni -Djava.library.path="$build/sim" -cp "$folder/demo-classes" com.qel.usb.demo.Demo --fast \
  > "$folder.demo.log" 2>&1 || { cat "$folder.demo.log"; exit 1; }
cat "$folder.demo.log"
grep -q "Thank you for your visit!" "$folder.demo.log"
