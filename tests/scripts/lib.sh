# Sourced by the test scripts: counts failures as they are found and ends
# the script with the status that tells.
set -uo pipefail

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Ends the script: says `$1` where nothing failed, exits 1 where anything did.
finish() {
  [ "$failures" -eq 0 ] && echo "$1"
  exit $((failures > 0))
}
