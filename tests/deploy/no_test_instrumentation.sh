#!/usr/bin/env bash
# Checks that libraries and programs that are deployed carry none of the test programs' instrumentation: no
# link-time wrapper (__wrap_/__real_ symbols) and no instruction that loads the value the test programs leave in the
# last error on a lock release.
#   tests/deploy/no_test_instrumentation.sh <objdump> <junk error value, e.g. 0xbadc0de> <file>...
set -uo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 <objdump> <junk error value> <file>..." >&2
  exit 2
fi
objdump=$1
junk=$2
shift 2
status=0
for file in "$@"; do
  clean=1
  symbols=$("$objdump" -t "$file" 2>&1; "$objdump" -T "$file" 2>&1)
  if ! code=$("$objdump" -d --no-show-raw-insn "$file"); then
    echo "$file: cannot be disassembled" >&2
    status=1
    continue
  fi
  if grep -q -E '__(wrap|real)_' <<<"$symbols"; then
    echo "$file: carries a link-time wrapper of the tests:" >&2
    grep -E '__(wrap|real)_' <<<"$symbols" >&2
    clean=0
  fi
  if grep -q -i -E "\\\$${junk}\\b" <<<"$code"; then
    echo "$file: loads the tests' lock-release error $junk:" >&2
    grep -i -E "\\\$${junk}\\b" <<<"$code" | head -n 5 >&2
    clean=0
  fi
  if [ "$clean" -eq 1 ]; then
    echo "$file: no test instrumentation"
  else
    status=1
  fi
done
exit $status
