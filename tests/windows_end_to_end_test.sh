#!/usr/bin/env bash
# Runs the Windows executable under Wine in scratch folders, as a user who
# double-clicks it would, and checks the executable's headers.
#
#   windows_end_to_end_test.sh STAMPNAME_EXE WINEPREFIX
. "$(dirname "$0")/lib.sh"

exe=$1
export WINEPREFIX=$2 WINEDEBUG=-all
expect_eq() {  # what, expected, actual
  [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"
}

# Wine marks dot files hidden unless told not to; Windows does not.
wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1

scratch=$(mktemp -d "${TMPDIR:-/tmp}/stampname-wine-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# make NAME CONTENT UTC-TIME
make() {
  printf '%s' "$2" > "Rename/$1"
  touch -d "$3" "Rename/$1"
}
# run TZ: runs the program in the current folder; sets status and output
run() {
  output=$(TZ=$1 wine "$exe" ignored arguments 2>&1)
  status=$?
}
listing() { (cd Rename && for f in * .[!.]*; do [ -e "$f" ] && printf '%s=%s\n' "$f" "$(cat "$f" 2>/dev/null || echo '<dir>')"; done) | sort; }

# -- The user's case: ordinary, hidden, system and Unicode names, a
#    sub-folder, a same-second pair, .profile, a long name.
mkdir -p "$scratch/main/Rename/sub" && cd "$scratch/main" || exit 1
make photo.jpg photo "2009-03-05 07:08:09Z"
make twin.jpg twin "2009-03-05 07:08:09Z"
make .profile profile "2010-01-02 00:05:06Z"
make archive.tar.gz archive "2011-11-12 13:14:15Z"
make "Café ñandú 写真 😀.JPG" unicode "2012-02-29 23:59:59Z"
make hidden.jpg hidden "2013-01-01 00:00:00Z"
make system.jpg system "2013-01-01 00:00:00Z"
long="a.$(printf 'x%.0s' $(seq 230))"
make "$long" long "2014-04-04 04:04:04Z"
printf inner > Rename/sub/inner.jpg
wine attrib +h 'Rename\hidden.jpg' >/dev/null
wine attrib +s 'Rename\system.jpg' >/dev/null
run UTC
expect_eq "exit status" 0 "$status"
expect_eq "output" "" "$output"
pair="$(cat 'Rename/2009-03-05 07-08-09.jpg' 2>/dev/null) $(cat 'Rename/2009-03-05 07-08-09 (02).jpg' 2>/dev/null)"
[ "$pair" = "photo twin" ] || [ "$pair" = "twin photo" ] ||
  fail "same-second pair: got [$pair]"
expect_eq "files" "$(printf '%s\n' \
  '2009-03-05 07-08-09 (02).jpg='"$(cat 'Rename/2009-03-05 07-08-09 (02).jpg' 2>/dev/null)" \
  '2009-03-05 07-08-09.jpg='"$(cat 'Rename/2009-03-05 07-08-09.jpg' 2>/dev/null)" \
  '2010-01-02 00-05-06.profile=profile' \
  '2011-11-12 13-14-15.tar.gz=archive' \
  '2012-02-29 23-59-59.JPG=unicode' \
  "2014-04-04 04-04-04.${long#a.}=long" \
  'hidden.jpg=hidden' \
  'sub=<dir>' \
  'system.jpg=system' | sort)" "$(listing)"
expect_eq "sub-folder" inner "$(cat Rename/sub/inner.jpg)"
expect_eq "time kept" "$(date -u -d '2011-11-12 13:14:15Z' +%s)" \
  "$(stat -c %Y 'Rename/2011-11-12 13-14-15.tar.gz')"
before=$(listing)
run UTC
expect_eq "second run: exit status" 0 "$status"
expect_eq "second run changes nothing" "$before" "$(listing)"

# -- Winter and summer files each show their own wall-clock time.
mkdir -p "$scratch/zones/Rename" && cd "$scratch/zones" || exit 1
make winter.jpg w "2009-01-15 12:00:00Z"
make summer.jpg s "2009-07-15 12:00:00Z"
run America/New_York
expect_eq "zones: exit status" 0 "$status"
expect_eq "zones" "$(printf '%s\n' '2009-01-15 07-00-00.jpg=w' '2009-07-15 08-00-00.jpg=s')" "$(listing)"
cd "$scratch/zones" && rm -f Rename/*
make winter.jpg w "2009-01-15 12:00:00Z"
make summer.jpg s "2009-07-15 12:00:00Z"
run Europe/Berlin
expect_eq "zones" "$(printf '%s\n' '2009-01-15 13-00-00.jpg=w' '2009-07-15 14-00-00.jpg=s')" "$(listing)"

# -- Names that differ only in case are one name on Windows.
mkdir -p "$scratch/case/Rename" && cd "$scratch/case" || exit 1
make a.jpg lower "2009-03-05 07:08:09Z"
make b.JPG upper "2009-03-05 07:08:09Z"
run UTC
expect_eq "case: exit status" 0 "$status"
case "$(listing | tr '\n' ' ')" in
  "2009-03-05 07-08-09 (02).JPG=upper 2009-03-05 07-08-09.jpg=lower "|\
  "2009-03-05 07-08-09 (02).jpg=lower 2009-03-05 07-08-09.JPG=upper ") ;;
  *) fail "case: got $(listing | tr '\n' ' ')" ;;
esac

# -- Exit statuses: no folder; all 99 names taken.
mkdir -p "$scratch/none" && cd "$scratch/none" || exit 1
run UTC
expect_eq "no folder: exit status" 2 "$status"
expect_eq "no folder: output" "" "$output"
[ ! -e Rename ] || fail "no folder: a folder was made"
mkdir -p "$scratch/full/Rename" && cd "$scratch/full" || exit 1
mkdir "Rename/2009-03-05 07-08-09.jpg"
for n in $(seq -w 2 99); do mkdir "Rename/2009-03-05 07-08-09 ($n).jpg"; done
make photo.jpg photo "2009-03-05 07:08:09Z"
run UTC
expect_eq "all names taken: exit status" 1 "$status"
expect_eq "all names taken: file kept" photo "$(cat Rename/photo.jpg)"

# -- The executable itself.
dump=$(x86_64-w64-mingw32-objdump -p "$exe")
grep -q 'Subsystem.*(Windows GUI)' <<<"$dump" || fail "not a GUI-subsystem executable"
grep -q 'Magic.*020b' <<<"$dump" || fail "not a 64-bit executable"
dlls=$(grep 'DLL Name' <<<"$dump" | awk '{print tolower($3)}' | sort | tr '\n' ' ')
expect_eq "imported DLLs (system ones only)" "kernel32.dll msvcrt.dll " "$dlls"
strings=$(strings -e l "$exe")
for want in "FileVersion" "ProductVersion" "1.00" "ProductName" "stampname" "FileDescription"; do
  grep -qx -- "$want" <<<"$strings" || fail "version resource lacks \"$want\""
done
# VS_FIXEDFILEINFO: signature, structure version, then 1.0.0.0 twice.
LC_ALL=C grep -qaP '\xbd\x04\xef\xfe\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00' "$exe" ||
  fail "fixed version info is not 1.0.0.0"

finish "Windows end-to-end: all checks passed"
