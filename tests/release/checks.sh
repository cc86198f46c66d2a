# The release tests' checks, sourced: check NAME OUTPUT PATTERN counts a pass when a line of OUTPUT matches the
# extended regular expression PATTERN, and otherwise a failure, shown with the output; pass and fail count directly;
# report LABEL prints the counts and returns non-zero after any failure.
passed=0
failed=0

check() {
  local name=$1 output=$2 pattern=$3
  if grep -q -E -- "$pattern" <<<"$output"; then
    pass
  else
    fail "$name: no line matching '$pattern' in:"
    printf '%s\n' "$output" | sed 's/^/    /'
  fi
}

pass() { passed=$((passed + 1)); }

fail() {
  failed=$((failed + 1))
  echo "FAILED: $1"
}

report() {
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
