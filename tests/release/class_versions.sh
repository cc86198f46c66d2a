#!/usr/bin/env bash
# Every class in the given jars is Java 8 bytecode (class file major version 52), so that drivers on a Java 8
# runtime load them instead of failing with UnsupportedClassVersionError.
# Usage: class_versions.sh <jar>...
set -euo pipefail
status=0
for jar in "$@"; do
  classes=0
  while read -r class; do
    # The header: magic (4 bytes), minor version (2), major version (2), big-endian.
    major=$(unzip -p "$jar" "$class" | head -c 8 | od -An -tu1 -j6 | awk '{ print $1 * 256 + $2 }')
    if [ "$major" != 52 ]; then
      echo "FAILED: $jar: $class has class file version $major, not 52 (Java 8)"
      status=1
    fi
    classes=$((classes + 1))
  done < <(unzip -Z1 "$jar" | grep '\.class$')
  if [ "$classes" -eq 0 ]; then
    echo "FAILED: $jar holds no classes"
    status=1
  fi
  echo "$(basename "$jar"): $classes classes checked"
done
exit $status
