#!/usr/bin/env bash
# The release jar and the kit's jars loading their libraries from the class path alone, as a driver meets them:
# java.library.path names an empty folder, so that System.loadLibrary finds nothing and the loader extracts.
# Usage: jar_loading.sh <build folder> <java home>, after the build's release_jar, kit and other_release targets
set -euo pipefail
build=$1
java_home=$2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"
mkdir "$scratch/empty" "$scratch/classes"
# In the scratch folder, where the JVM that runs as another user below can read it too.
jar=$scratch/virivorezu-$version.jar
cp "$build/release/virivorezu-$version.jar" "$jar"
"$java_home/bin/javac" --release 8 -Xlint:all -Werror -cp "$jar" -d "$scratch/classes" \
  "$(dirname "$0")/LoadCheck.java"

. "$(dirname "$0")/checks.sh"
run_java() {
  "$java_home/bin/java" -Xcheck:jni -XX:-UsePerfData -Djava.library.path="$scratch/empty" "$@" 2>&1 || true
}

# No printer on this machine: the real library answers usbInitPipe with -1 and ERROR_DEVICE_NOT_CONNECTED.
no_printer='usbInitPipe: -1, last error 1167'

# Two JVMs at once against an empty extraction folder: both load a whole library from the same file.
extract=$scratch/extract
run_java -Dvirivorezu.extract.dir="$extract" -cp "$jar:$scratch/classes" LoadCheck >"$scratch/first.out" &
first=$!
run_java -Dvirivorezu.extract.dir="$extract" -cp "$jar:$scratch/classes" LoadCheck >"$scratch/second.out" &
second=$!
wait $first $second
extracted="$extract/virivorezu-$(id -un)/$version-linux-x86-64/libVIRIVOREzu.so"
for out in first second; do
  check "JVM $out of two starting together" "$(cat "$scratch/$out.out")" "$no_printer"
  check "JVM $out of two starting together" "$(cat "$scratch/$out.out")" "loaded from: $extracted\$"
done
check "one file, nothing half-written left" "$(ls -A "$(dirname "$extracted")")" '^libVIRIVOREzu.so$'

# A later JVM reuses the file as it is, since another JVM may have it loaded.
inode=$(stat -c %i "$extracted")
run_java -Dvirivorezu.extract.dir="$extract" -cp "$jar:$scratch/classes" LoadCheck >/dev/null
check "the extracted file reused" "$(stat -c %i "$extracted")" "^$inode\$"

# A temp folder the user may not write: the loader falls back to the user's cache folder. Root writes anywhere, so
# that JVM runs as nobody.
mkdir -p "$scratch/readonly-tmp" "$scratch/home"
chmod 555 "$scratch/readonly-tmp"
chmod 777 "$scratch/home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups); fi
output=$(HOME="$scratch/home" XDG_CACHE_HOME="$scratch/home/cache" ${as_user[@]+"${as_user[@]}"} \
  "$java_home/bin/java" -XX:-UsePerfData -Djava.library.path="$scratch/empty" -Djava.io.tmpdir="$scratch/readonly-tmp" \
  -cp "$jar:$scratch/classes" LoadCheck 2>&1 || true)
check "read-only temp folder" "$output" "$no_printer"
check "read-only temp folder" "$output" "loaded from: $scratch/home/cache/virivorezu/$version-linux-x86-64/"

# A stale library of another release on java.library.path is refused, with both releases named.
mkdir "$scratch/stale"
cp "$build/tests/release/libother_release.so" "$scratch/stale/libVIRIVOREzu.so"
output=$("$java_home/bin/java" -Djava.library.path="$scratch/stale" -cp "$jar:$scratch/classes" LoadCheck 2>&1 || true)
check "a library of another release" "$output" "UnsatisfiedLinkError: .*is release 0\.9\.7, but these classes are release $version"

# A library named by the property is the only one tried, and its failure says which file.
output=$(run_java -Dvirivorezu.library="$scratch/missing.so" -cp "$jar:$scratch/classes" LoadCheck)
check "a named library that is not there" "$output" "Cannot load the VIRIVOREzu library $scratch/missing.so that -Dvirivorezu.library names"

# Nothing to extract: the error lists each attempt.
output=$(run_java -cp "$scratch/classes:$build/kit/usbport.jar" LoadCheck)
check "no library anywhere" "$output" "System.loadLibrary\(\"VIRIVOREzu\"\) with java.library.path=$scratch/empty"
check "no library anywhere" "$output" "carry no library for linux-x86-64"

# The kit's two jars: the simulator's library comes out of viri-simkit.jar, and a simulated printer answers.
output=$(run_java -Dvirivorezu.extract.dir="$extract" \
  -cp "$build/kit/usbport.jar:$build/kit/viri-simkit.jar:$scratch/classes" LoadCheck sim)
check "the kit's jars" "$output" "usbInitPipe: 1, last error 0"
check "the kit's jars" "$output" "loaded from: .*/$version-linux-x86-64-sim/libVIRIVOREzu.so"

report "jar loading"
