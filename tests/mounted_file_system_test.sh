#!/usr/bin/env bash
# Runs the end-to-end and platform tests on a real file system mounted in a
# scratch folder of its own, and checks which rename tier the program picks.
#
#   mounted_file_system_test.sh KIND BUILD_DIR
#
# KIND: tmpfs, ext4, bindfs, exfat or readonly. Exits 77 (skipped) when the
# file system cannot be mounted here, saying why.
set -uo pipefail

kind=$1
build=$2
skip() { echo "SKIPPED: $kind: $*"; exit 77; }

[ "$(id -u)" -eq 0 ] || skip "mounting needs root"
work=$(mktemp -d "${TMPDIR:-/tmp}/stampname-mount-XXXXXX") || skip "no scratch folder"
mnt=$work/mnt
mkdir -p "$mnt"
loop=""
cleanup() {
  cd /
  if mountpoint -q "$mnt"; then
    umount "$mnt" 2>/dev/null || umount -l "$mnt" 2>/dev/null || fusermount3 -u "$mnt" 2>/dev/null
  fi
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

need() { command -v "$1" >/dev/null 2>&1 || skip "$1 is not installed"; }
attach() {  # image file -> loop device
  loop=$(losetup --find --show "$1" 2>/dev/null) || skip "no loop device"
}

case $kind in
  tmpfs)
    mount -t tmpfs -o size=512m stampname-test "$mnt" || skip "cannot mount tmpfs"
    tier=1 ;;
  ext4)
    need mkfs.ext4
    truncate -s 512M "$work/ext4.img"
    mkfs.ext4 -q -F "$work/ext4.img" || skip "mkfs.ext4 failed"
    attach "$work/ext4.img"
    mount "$loop" "$mnt" || skip "cannot mount ext4"
    tier=1 ;;
  bindfs)
    need bindfs
    [ -c /dev/fuse ] || skip "no /dev/fuse"
    mkdir -p "$work/under"
    bindfs "$work/under" "$mnt" || skip "bindfs cannot mount"
    tier=2 ;;
  exfat)
    need mkfs.exfat
    need mount.exfat-fuse
    [ -c /dev/fuse ] || skip "no /dev/fuse"
    truncate -s 512M "$work/exfat.img"
    mkfs.exfat -c 4K "$work/exfat.img" >/dev/null || skip "mkfs.exfat failed"
    attach "$work/exfat.img"
    mount.exfat-fuse "$loop" "$mnt" >/dev/null 2>&1 || skip "exfat-fuse cannot mount"
    tier=3 ;;
  readonly)
    mount -t tmpfs -o size=16m stampname-test "$mnt" || skip "cannot mount tmpfs"
    mkdir -p "$mnt/Rename"
    for name in a.jpg b.jpg c.png; do
      echo "$name" > "$mnt/Rename/$name"
      touch -d "2009-03-05 07:08:09Z" "$mnt/Rename/$name"
    done
    before=$(cd "$mnt/Rename" && ls -l --time-style=+%s && cat ./*)
    mount -o remount,ro "$mnt" || skip "cannot remount read-only"
    output=$(cd "$mnt" && TZ=UTC "$build/stampname" 2>&1)
    status=$?
    after=$(cd "$mnt/Rename" && ls -l --time-style=+%s && cat ./*)
    fail=0
    [ "$status" -eq 1 ] || { echo "FAILED: exit status $status, not 1"; fail=1; }
    [ -z "$output" ] || { echo "FAILED: printed: $output"; fail=1; }
    [ "$before" = "$after" ] || { echo "FAILED: the folder changed"; fail=1; }
    [ $fail -eq 0 ] && echo "readonly: every rename refused, exit 1, nothing changed"
    exit $fail ;;
  *)
    echo "unknown kind $kind"; exit 2 ;;
esac

echo "$kind mounted at $mnt; expecting tier $tier"
export STAMPNAME_TEST_ROOT=$mnt STAMPNAME_EXPECT_TIER=$tier
status=0
"$build/tests/system_platform_tests" \
  --gtest_filter='*RenameTierTest*:*SettlesOnTheTier*' || status=1
"$build/tests/end_to_end_tests" \
  --gtest_filter='*ExtensionCase*:*Burst*:*Concurrent*:*Killed*:*SecondRun*' || status=1
exit $status
