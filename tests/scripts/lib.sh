# Sourced by the test scripts: counts failures as they are found and ends
# the script with the status that tells.
set -uo pipefail

failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# A Samba server's whole configuration, on the loopback only, with every
# folder it keeps state in under `$1`; the share `$2` is served with the
# lines that follow on standard input.
samba_config() {  # state folder, shared folder
  cat <<CONFIG
[global]
  interfaces = lo
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  server role = standalone server
  map to guest = bad user
  private dir = $1
  lock directory = $1
  state directory = $1
  cache directory = $1
  pid directory = $1
  ncalrpc dir = $1/ncalrpc
  log file = $1/log
  load printers = no
  printcap name = /dev/null
[share]
  path = $2
CONFIG
  cat
}

# Ends the script: says `$1` where nothing failed, exits 1 where anything did.
finish() {
  [ "$failures" -eq 0 ] && echo "$1"
  exit $((failures > 0))
}
