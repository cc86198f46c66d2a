#!/usr/bin/env bash
# The Debian package as an integrator meets it: lintian finds no error or warning, the files are where Debian keeps
# them, postinst creates the group the packaged udev rule names, and a Java program runs against the unpacked jar
# and library (no printer here: usbInitPipe gives -1 and ERROR_DEVICE_NOT_CONNECTED), a library without the
# simulator inside.
# Usage: deb_package.sh <build folder> <java home>, after the build's deb target
set -euo pipefail
build=$1
java_home=$2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$build/release/virivorezu_${version}_amd64.deb

. "$(dirname "$0")/checks.sh"

# lintian refuses nothing but warns when run as root; its own exit status says whether tags of a level failed it.
if output=$(lintian --fail-on error,warning "$deb" 2>&1); then lintian_status=clean; else lintian_status=tags; fi
check "lintian" "$lintian_status: $output" "^clean"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
dpkg-deb -e "$deb" "$scratch/control"
files=$(cd "$scratch/root" && find . \( -type f -o -type l \) | sort)
for path in ./usr/lib/jni/libVIRIVOREzu.so "./usr/share/java/virivorezu-$version.jar" ./usr/share/java/virivorezu.jar \
  ./usr/bin/viri_probe ./usr/lib/udev/rules.d/60-virivorezu.rules; do
  check "the package's files" "$files" "^$path\$"
done

group=$(sed -n 's/^[^#].*GROUP="\([^"]*\)".*/\1/p' "$scratch/root/usr/lib/udev/rules.d/60-virivorezu.rules" | sort -u)
check "postinst creates the rule's group" "$(cat "$scratch/control/postinst")" "addgroup --system $group\$"

# The deployable library: the JNI functions, and nothing of the simulated bus.
symbols=$(nm -D --defined-only "$scratch/root/usr/lib/jni/libVIRIVOREzu.so")
check "the library's JNI functions" "$symbols" " Java_com_qel_usb_UsbPort_usbInitPipe\$"
if grep -q -i -E "simbus|Java_com_qel_usb_sim_" <<<"$symbols"; then
  fail "the packaged library carries the simulator:"
  grep -i -E "simbus|Java_com_qel_usb_sim_" <<<"$symbols" | head -5
else
  pass
fi

mkdir "$scratch/classes"
jar=$scratch/root/usr/share/java/virivorezu.jar
"$java_home/bin/javac" --release 8 -Xlint:all -Werror -cp "$jar" -d "$scratch/classes" "$(dirname "$0")/LoadCheck.java"
output=$("$java_home/bin/java" -Xcheck:jni -Djava.library.path="$scratch/root/usr/lib/jni" \
  -cp "$jar:$scratch/classes" LoadCheck 2>&1 || true)
check "a program against the unpacked package" "$output" "usbInitPipe: -1, last error 1167"
check "a program against the unpacked package" "$output" "loaded from: java.library.path"

report "deb package"
