#!/usr/bin/env bash
# Builds the Debian package of the real-device library from a Linux build:
# <output folder>/virivorezu_<version>_amd64.deb. The version is the build's one (project() in CMakeLists.txt); the
# group that postinst creates is the one the udev rule names, read from the rule itself so that the two cannot
# differ. lintian (run by the tests with --fail-on error,warning) leaves no error or warning. In a build made with
# scripts/build.sh it shows two informational tags, hardening-no-bindnow and hardening-no-fortify-functions:
# scripts/release.sh builds with -D_FORTIFY_SOURCE=2 and -Wl,-z,now, and the test builds keep the compiler's
# defaults so that the sanitizer builds and they share one set of flags.
# Usage: build-deb.sh <source folder> <build folder> <output folder>
set -euo pipefail
source_dir=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
mkdir -p "$3"
output=$(cd "$3" && pwd)
here=$source_dir/packaging/deb

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
rule=$source_dir/linuxdev/udev/60-virivorezu.rules
quirks=$source_dir/linuxdev/cups/virivorezu.usb-quirks
groups=$(sed -n 's/^[^#].*GROUP="\([^"]*\)".*/\1/p' "$rule" | sort -u)
if [ "$(printf '%s\n' "$groups" | wc -l)" -ne 1 ] || [ -z "$groups" ]; then
  echo "build-deb: $rule must name exactly one group, names: $groups" >&2
  exit 1
fi
group=$groups

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/virivorezu
install -d "$root/DEBIAN" "$root/usr/lib/jni" "$root/usr/share/java" "$root/usr/bin" "$root/usr/lib/udev/rules.d" \
  "$root/usr/share/doc/virivorezu" "$root/usr/share/man/man1"
install -m 0644 "$build/lib/libVIRIVOREzu.so" "$root/usr/lib/jni/"
install -m 0755 "$build/tools/probe/viri_probe" "$root/usr/bin/"
strip --strip-unneeded --remove-section=.comment "$root/usr/lib/jni/libVIRIVOREzu.so" "$root/usr/bin/viri_probe"
install -m 0644 "$build/release/virivorezu-$version.jar" "$root/usr/share/java/"
ln -s "virivorezu-$version.jar" "$root/usr/share/java/virivorezu.jar"
install -m 0644 "$rule" "$root/usr/lib/udev/rules.d/"
if [ -f "$quirks" ]; then
  install -d "$root/usr/share/cups/usb"
  install -m 0644 "$quirks" "$root/usr/share/cups/usb/"
fi
install -m 0644 "$here/copyright" "$root/usr/share/doc/virivorezu/"
gzip -9n -c "$here/viri_probe.1" > "$root/usr/share/man/man1/viri_probe.1.gz"
chmod 0644 "$root/usr/share/man/man1/viri_probe.1.gz"
cat > "$stage/changelog" <<CHANGELOG
virivorezu ($version) stable; urgency=medium

  * Release $version.

 -- VIRIVOREzu developers <virivorezu@qel.invalid>  $(date -R -u -d "@${SOURCE_DATE_EPOCH:-$(stat -c %Y "$build/CMakeCache.txt")}")
CHANGELOG
gzip -9n -c "$stage/changelog" > "$root/usr/share/doc/virivorezu/changelog.gz"
chmod 0644 "$root/usr/share/doc/virivorezu/changelog.gz"

# The libraries the two binaries link, with the versions their symbols need, as dpkg-shlibdeps reads them.
mkdir -p "$stage/shlibs/debian"
printf 'Source: virivorezu\n\nPackage: virivorezu\nArchitecture: amd64\n' > "$stage/shlibs/debian/control"
depends=$(cd "$stage/shlibs" && dpkg-shlibdeps -O "$root/usr/lib/jni/libVIRIVOREzu.so" "$root/usr/bin/viri_probe" |
  sed -n 's/^shlibs:Depends=//p')

size=$(du -k -s --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@DEPENDS@/$depends/" -e "s/@SIZE@/$size/" -e "s/@GROUP@/$group/" \
  "$here/control.in" > "$root/DEBIAN/control"
sed -e "s/@GROUP@/$group/g" "$here/postinst.in" > "$root/DEBIAN/postinst"
chmod 0755 "$root/DEBIAN/postinst"
(cd "$root" && find usr -type f -exec md5sum {} + | sort -k2) > "$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/md5sums"

deb=$output/virivorezu_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
