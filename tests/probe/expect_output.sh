#!/usr/bin/env bash
# Runs a command and passes only when it exits 0 and its output (stdout and stderr together) matches an extended
# regular expression, in which "." also matches a line end. ctest's own PASS_REGULAR_EXPRESSION ignores the exit
# status, so a probe that printed the right lines and then failed would pass.
#   tests/probe/expect_output.sh <regex> <command> [arguments...]
# EXPECT_STATUS names another exit status to expect (the probe exits 1 when it finds nothing to open).
set -uo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 <regex> <command> [arguments...]" >&2
  exit 2
fi
pattern=$1
shift
output=$("$@" 2>&1)
status=$?
printf '%s\n' "$output"
if [ "$status" -ne "${EXPECT_STATUS:-0}" ]; then
  echo "expect_output: the command exited with status $status" >&2
  exit 1
fi
if ! [[ $output =~ $pattern ]]; then
  echo "expect_output: the output does not match: $pattern" >&2
  exit 1
fi
