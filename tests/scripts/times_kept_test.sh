#!/usr/bin/env bash
# A run keeps every file's time, even where the file system resets times on
# rename, and a second run changes nothing.
#
#   times_kept_test.sh PROGRAM FOLDER
. "$(dirname "$0")/lib.sh"

program=$(realpath "$1")
folder=$(mktemp -d "$2/times-XXXXXX") || { echo "FAILED: no scratch folder"; exit 1; }
trap 'rm -rf "$folder"' EXIT

mkdir "$folder/Rename"
for i in 1 2 3 4 5; do
  echo "photo $i" >"$folder/Rename/IMG_000$i.JPG"
  # Even seconds, which every file system keeps.
  touch -d "2009-03-05 07:08:0$((i / 2 * 2))Z" "$folder/Rename/IMG_000$i.JPG"
done
# Copied without its time, so dated now, under a stamp name of another
# time: renamed first, it cannot tell whether renames reset times.
echo "fresh copy" >"$folder/Rename/2001-01-01 00-00-00.JPG"
fresh=$(stat -c %Y "$folder/Rename/2001-01-01 00-00-00.JPG")
freshName="$(date -u -d "@$fresh" '+%Y-%m-%d %H-%M-%S').JPG"
list() { (cd "$folder/Rename" && stat -c '%n %Y %s' -- 2009* | sort); }
names() { (cd "$folder/Rename" && ls); }

output=$(cd "$folder" && TZ=UTC "$program" 2>&1) || fail "first run exited $?"
[ -z "$output" ] || fail "printed: $output"
sleep 2  # past the kernel's cache of the times
expected="2009-03-05 07-08-00.JPG 1236236880 8
2009-03-05 07-08-02 (02).JPG 1236236882 8
2009-03-05 07-08-02.JPG 1236236882 8
2009-03-05 07-08-04 (02).JPG 1236236884 8
2009-03-05 07-08-04.JPG 1236236884 8"
[ "$(list)" = "$expected" ] || fail "after the first run: $(list)"
[ "$(cat "$folder/Rename/$freshName")" = "fresh copy" ] ||
  fail "the fresh copy is not under $freshName: $(ls "$folder/Rename")"
before=$(list)
(cd "$folder" && TZ=UTC "$program") || fail "second run exited $?"
sleep 2
[ "$(list)" = "$before" ] || fail "the second run changed: $(list)"

finish "times kept: all checks passed"
