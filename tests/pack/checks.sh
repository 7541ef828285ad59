# What every shell test of the packer starts with: a scratch folder removed
# on exit, and a count of failed checks that becomes the exit status.
# Sourced: . "$(dirname "$0")/checks.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAILURES=0

fail() {
  echo "FAIL: $*" >&2
  FAILURES=$((FAILURES + 1))
}

# Ends the test: MESSAGE when every check passed, else the number failed.
finish() {
  [ $FAILURES -eq 0 ] && echo "$1"
  exit $FAILURES
}
