#!/usr/bin/env bash
# Checks the Windows executable's headers (a 64-bit GUI program that needs
# no DLL beyond the system's own, with its version resource) and that it
# names files by the wall clock of the time zone it runs in. The rest of
# what it does is checked by the end-to-end tests, which run it under Wine;
# but Wine takes a program's time zone from the shell that starts it, which
# a Windows process cannot set for the program it starts.
#
#   windows_executable_test.sh STAMPNAME_EXE WINEPREFIX
. "$(dirname "$0")/lib.sh"

exe=$1
export WINEPREFIX=$2 WINEDEBUG=-all
expect_eq() {  # what, expected, actual
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

# Winter and summer each by their own offset, west and east of Greenwich.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/stampname-wine-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/Rename" && cd "$scratch" || exit 1
for zone in "America/New_York 07 08" "Europe/Berlin 13 14"; do
  set -- $zone
  rm -f Rename/*
  printf w > Rename/winter.jpg && touch -d "2009-01-15 12:00:00Z" Rename/winter.jpg
  printf s > Rename/summer.jpg && touch -d "2009-07-15 12:00:00Z" Rename/summer.jpg
  TZ=$1 wine "$exe"
  expect_eq "$1: exit status" 0 "$?"
  expect_eq "$1" "2009-01-15 $2-00-00.jpg 2009-07-15 $3-00-00.jpg " \
    "$(ls Rename | tr '\n' ' ')"
done
cd / || exit 1

dump=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$dump" || fail "not a GUI-subsystem executable"
grep -q 'Magic.*020b' <<<"$dump" || fail "not a 64-bit executable"
dlls=$(grep 'DLL Name' <<<"$dump" | awk '{print tolower($3)}' | sort | tr '\n' ' ')
expect_eq "imported DLLs (system ones only)" "kernel32.dll msvcrt.dll " "$dlls"
strings=$(strings -e l "$exe")
for want in "FileVersion" "ProductVersion" "1.01" "ProductName" "stampname" "FileDescription"; do
  grep -qx -- "$want" <<<"$strings" || fail "version resource lacks \"$want\""
done
# VS_FIXEDFILEINFO: signature, structure version, then 1.1.0.0 twice.
LC_ALL=C grep -qaP '\xbd\x04\xef\xfe\x00\x00\x01\x00\x01\x00\x01\x00\x00\x00\x00\x00\x01\x00\x01\x00\x00\x00\x00\x00' "$exe" ||
  fail "fixed version info is not 1.1.0.0"

finish "Windows executable: all checks passed"
