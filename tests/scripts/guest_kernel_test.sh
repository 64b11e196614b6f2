#!/usr/bin/env bash
# Runs the program and its tests on file systems this machine's kernel does
# not have, in a Linux kernel that runs as an ordinary process (User-Mode
# Linux) with the host's files as its root:
#
#   guest_kernel_test.sh KIND BUILD_DIR
#
# KIND:
#   card      a FAT32 card under the kernel's vfat, as a desktop mounts it:
#             the tables, and names after the times the card holds whatever
#             zone the kernel reads them in
#   nfs3 nfs4 an NFS export served in the guest, mounted twice as two
#             machines see it
#   smb       a Samba share served in the guest, mounted twice through the
#             kernel's SMB client
#   cut-vfat cut-ext4
#             power cuts: the guest kernel killed at random instants during
#             and right after a run, the medium checked, then a run again;
#             no photo may be lost
#
# Every server and mount lives inside the guest, on its own loopback;
# nothing listens on this machine. Exits 77 (skipped) where no guest kernel
# can be booted here, saying why.
. "$(dirname "$0")/lib.sh"

kind=$1
build=$(cd "$2" && pwd)
skip() { echo "SKIPPED: $kind: $*"; exit 77; }

uml=$(command -v linux.uml) || skip "user-mode-linux is not installed"
modules=$(ls -d /usr/lib/uml/modules/*/ 2>/dev/null | head -n 1)
[ -n "$modules" ] || skip "no modules for the guest kernel"
command -v modprobe >/dev/null || [ -x /sbin/modprobe ] || skip "kmod is not installed"
[ -e /dev/shm ] && [ -w /dev/shm ] || skip "no /dev/shm for the guest's memory"

work=$(mktemp -d "${TMPDIR:-/tmp}/stampname-guest-XXXXXX") || skip "no scratch folder"
chmod 755 "$work"
mkdir -p "$work/modroot/lib/modules"
ln -s "${modules%/}" "$work/modroot/lib/modules/$(basename "$modules")"
guest_pids() { pgrep -f "init=$work/init.sh" 2>/dev/null; }
# A killed guest kernel leaves its processes stopped, holding the image:
# each is killed by its pid.
stop_guest() {
  for pid in $(guest_pids); do kill -9 "$pid" 2>/dev/null; done
  for _ in $(seq 50); do [ -z "$(guest_pids)" ] && break; sleep 0.1; done
}
cleanup() {
  stop_guest
  rm -rf "$work"
}
trap cleanup EXIT

# What every boot does before the kind's own steps, inside the guest: the
# host's files are its root, so nothing may write there but the scratch
# folder. Memory-backed folders over every place a server keeps state.
cat >"$work/prologue.sh" <<PROLOGUE
export PATH=/run/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=$work LANG=C.UTF-8
mount -t proc proc /proc
mount -t sysfs sys /sys
for folder in /mnt /run /var/lib/nfs /var/lib/samba /var/cache/samba /var/log/samba /etc/exports.d; do
  [ -d "\$folder" ] && mount -t tmpfs guest "\$folder"
done
# Modules from the guest kernel's own folder, for the steps and for the
# kernel's own requests (the SMB client's ciphers, say).
mkdir -p /run/bin
printf '#!/bin/sh\nexec /sbin/modprobe -d $work/modroot "\$@"\n' >/run/bin/modprobe
chmod +x /run/bin/modprobe
echo /run/bin/modprobe >/proc/sys/kernel/modprobe
ip link set lo up
PROLOGUE

# Boots the guest with the steps in file $1, the card image $2 (or none),
# for at most $3 seconds; what the steps print goes to $work/guest.log and
# their status to $work/status.
boot() {
  local steps=$1 image=${2:-} limit=${3:-600}
  rm -f "$work/status"
  {
    echo '#!/bin/sh'
    echo ". $work/prologue.sh"
    echo "( . $steps ) >$work/guest.log 2>&1"
    echo "echo \$? >$work/status"
    echo 'sync'
    echo 'halt -f'
  } >"$work/init.sh"
  chmod +x "$work/init.sh"
  local disk=()
  [ -n "$image" ] && disk=("ubd0=$image")
  timeout -s KILL "$limit" "$uml" mem=768M root=/dev/root rootfstype=hostfs \
    rootflags=/ rw "init=$work/init.sh" "${disk[@]}" con=null con0=null,fd:1 \
    </dev/null >"$work/console" 2>&1 &
  guest=$!
}
# Waits for the guest started by `boot` and says how its steps ended.
await_guest() {
  wait "$guest"
  stop_guest
  cat "$work/guest.log" 2>/dev/null
  [ -f "$work/status" ] || { tail -n 20 "$work/console"; return 1; }
  return "$(cat "$work/status")"
}

# Checks that the guest kernel boots at all before anything is judged.
echo 'echo booted' >"$work/hello.sh"
boot "$work/hello.sh" "" 60
await_guest >/dev/null || skip "the guest kernel does not boot: $(tail -n 5 "$work/console")"

platform='*PlatformContract*:*SettlesOnTheWay*:*TwoStep*:*ReserveThenRename*:*LinkThenUnlink*:*StoppedRun*:*HiddenName*'
# The tables the FUSE kinds run, through the first mount; with a second
# mount, runs through both at once.
tables() {  # where, way, [twin | fat]
  cat <<STEPS
export STAMPNAME_TEST_ROOT=$1 STAMPNAME_EXPECT_WAY=$2 STAMPNAME_KILLED_RUN_FILES=${STAMPNAME_KILLED_RUN_FILES:-3000}
status=0
$build/tests/system_platform_tests --gtest_brief=1 --gtest_filter='$platform' || status=1
STEPS
  if [ "${3:-}" = fat ]; then
    # FAT keeps times to two seconds: the tables of even seconds.
    echo "$build/tests/end_to_end_tests --gtest_brief=1 --gtest_filter='*Burst*' || status=1"
  elif [ -n "${3:-}" ]; then
    cat <<STEPS
STAMPNAME_TWIN_ROOT=$3 STAMPNAME_TWIN_TRIES=6 $build/tests/end_to_end_tests --gtest_brief=1 --gtest_filter='*Concurrent*' || status=1
$build/tests/end_to_end_tests --gtest_brief=1 --gtest_filter='*Burst*:*Killed*:*StopSignals*' || status=1
STEPS
  else
    echo "$build/tests/end_to_end_tests --gtest_brief=1 --gtest_filter='*Burst*:*Concurrent*:*Killed*:*StopSignals*' || status=1"
  fi
  echo 'exit $status'
}

# Photos for the power cuts: contents that tell them apart, all of them
# in a few seconds so that shots and bursts form.
photos() {  # folder, count
  mkdir -p "$1"
  for i in $(seq "$2"); do
    { echo "photo $i"; head -c $((4096 + i * 97)) /dev/zero | tr '\0' x; } >"$1/IMG_$i.JPG"
    touch -d "2019-07-0$((i % 3 + 1)) 10:20:$((i % 4 * 2))Z" "$1/IMG_$i.JPG"
  done
}
# Every photo there once, whole, under a name the program gives.
whole() {  # what, listing file, count
  local what=$1 listing=$2 count=$3 i
  for i in $(seq "$count"); do
    local held
    held=$(awk -F '\t' -v want="photo $i" -v size=$((4096 + i * 97 + ${#i} + 7)) \
      '$2 == want && $3 == size' "$listing" | wc -l)
    [ "$held" -eq 1 ] || fail "$what: photo $i is there $held times whole"
  done
  grep -v -E '^20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}( \([0-9]{2}\))?\.JPG' "$listing" |
    grep -q . && fail "$what: names left: $(grep -v -E '^20' "$listing" | head -n 3 | tr '\n' ' ')"
}

case $kind in
  card)
    command -v mkfs.fat >/dev/null || skip "dosfstools is not installed"
    truncate -s 128M "$work/card.img"
    mkfs.fat -F 32 "$work/card.img" >/dev/null || skip "mkfs.fat failed"
    tables /mnt/card 1 fat >"$work/tables.sh"
    # Times as a camera writes them: the card's wall-clock time, written
    # here through a mount that reads the card in UTC. Then read as a
    # desktop does, in the kernel's zone, in the mount's, and with the
    # kernel's own zone set; the names keep the card's time each time,
    # whatever TZ says.
    cat >"$work/steps.sh" <<STEPS
modprobe vfat; modprobe nls_cp437; modprobe nls_iso8859-1; modprobe nls_utf8
mkdir -p /mnt/card
status=0
check() {  # what, expected names
  got=\$(cd /mnt/card/Rename && ls | tr '\n' ' ')
  [ "\$got" = "\$2" ] || { echo "FAILED: \$1: named \$got, not \$2"; status=1; }
}
for how in "utf8,shortname=mixed" "utf8,shortname=mixed,tz=UTC" \
           "utf8,shortname=mixed,time_offset=120" "utf8,shortname=mixed,time_offset=-300" \
           "utf8,shortname=mixed kernel-zone"; do
  mount -t vfat -o utf8,shortname=mixed,tz=UTC /dev/ubda /mnt/card || exit 1
  rm -rf /mnt/card/Rename; mkdir /mnt/card/Rename
  echo winter >/mnt/card/Rename/DSC_0001.JPG
  echo summer >/mnt/card/Rename/DSC_0002.JPG
  touch -d '2021-01-15 10:20:30Z' /mnt/card/Rename/DSC_0001.JPG
  touch -d '2021-07-15 10:20:30Z' /mnt/card/Rename/DSC_0002.JPG
  umount /mnt/card
  case \$how in
    *kernel-zone) TZ=Europe/Berlin hwclock --systz --localtime 2>/dev/null ||
                    { echo "FAILED: cannot set the kernel's zone"; status=1; } ;;
  esac
  mount -t vfat -o "\${how% *}" /dev/ubda /mnt/card || exit 1
  out=\$(cd /mnt/card && TZ=America/New_York $build/stampname 2>&1); ran=\$?
  [ \$ran -eq 0 ] && [ -z "\$out" ] || { echo "FAILED: \$how: status \$ran, printed \$out"; status=1; }
  check "\$how" "2021-01-15 10-20-30.JPG 2021-07-15 10-20-30.JPG "
  [ "\$(cat '/mnt/card/Rename/2021-01-15 10-20-30.JPG' 2>/dev/null)" = winter ] ||
    { echo "FAILED: \$how: the contents moved"; status=1; }
  # A second run changes nothing.
  (cd /mnt/card && TZ=UTC $build/stampname) || { echo "FAILED: \$how: second run"; status=1; }
  check "\$how, second run" "2021-01-15 10-20-30.JPG 2021-07-15 10-20-30.JPG "
  umount /mnt/card
  TZ=UTC hwclock --systz --localtime 2>/dev/null
done
echo "card dates checked"
mount -t vfat -o utf8,shortname=mixed /dev/ubda /mnt/card || exit 1
rm -rf /mnt/card/Rename
. $work/tables.sh || status=1
umount /mnt/card
exit \$status
STEPS
    boot "$work/steps.sh" "$work/card.img"
    await_guest || fail "card: the tests in the guest failed"
    finish "card: the kernel's vfat names after the card's own times, and holds the tables" ;;
  nfs3|nfs4)
    [ -x /usr/sbin/rpc.nfsd ] || skip "nfs-kernel-server is not installed"
    version=${kind#nfs}
    # Version 3 with its own lock protocol left out (nolock): the folder's
    # lock then does not reach the second mount, as between two machines.
    options="vers=3,nolock"
    source="127.0.0.1:/srv"
    if [ "$version" = 4 ]; then options="vers=4.2"; source="127.0.0.1:/"; fi
    tables /mnt/one 2 /mnt/two >"$work/tables.sh"
    cat >"$work/steps.sh" <<STEPS
modprobe nfsd; modprobe nfsv3; modprobe nfsv4
mkdir -p /mnt/srv /mnt/one /mnt/two
mount -t tmpfs -o size=300m export /mnt/srv
mount -t nfsd nfsd /proc/fs/nfsd
echo 10 >/proc/fs/nfsd/nfsv4gracetime
echo 10 >/proc/fs/nfsd/nfsv4leasetime
: >/var/lib/nfs/etab; : >/var/lib/nfs/rmtab
rpcbind -w || exit 1
exportfs -o rw,no_root_squash,no_subtree_check,insecure,fsid=0 127.0.0.1:/mnt/srv || exit 1
rpc.mountd --no-udp || exit 1
rpc.nfsd -H 127.0.0.1 4 || exit 1
mount -t nfs -o $options,nosharecache $source /mnt/one || mount -t nfs -o $options,nosharecache 127.0.0.1:/mnt/srv /mnt/one || exit 1
mount -t nfs -o $options,nosharecache,actimeo=60 $source /mnt/two || mount -t nfs -o $options,nosharecache,actimeo=60 127.0.0.1:/mnt/srv /mnt/two || exit 1
grep nfs /proc/self/mountinfo | grep /mnt
. $work/tables.sh
STEPS
    boot "$work/steps.sh" ""
    await_guest || fail "$kind: the tests in the guest failed"
    finish "$kind: the link way holds through two NFS clients" ;;
  smb)
    [ -x /usr/sbin/smbd ] || skip "smbd is not installed"
    command -v mount.cifs >/dev/null || skip "cifs-utils is not installed"
    # Each call a round trip to the server: fewer files for the killed run.
    STAMPNAME_KILLED_RUN_FILES=1000 tables /mnt/one 3 /mnt/two >"$work/tables.sh"
    cat >"$work/steps.sh" <<STEPS
modprobe cifs
mkdir -p /mnt/share /mnt/one /mnt/two /run/smb
chmod 0777 /mnt/share
cat >/run/smb/smb.conf <<CONFIG
$(echo '  read only = no' | samba_config /run/smb /mnt/share)
CONFIG
printf 'secret\nsecret\n' | smbpasswd -c /run/smb/smb.conf -s -a root >/dev/null || exit 1
smbd --no-process-group -D -s /run/smb/smb.conf || exit 1
for _ in \$(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/445) 2>/dev/null && break; sleep 0.1; done
# Two machines: sessions of their own, the second with long-lived caches.
# The first, which writes the tests' files, closes them at once: this
# client, closing late a file it wrote, shows the time of that close in
# place of the time the share holds (the share's is right) until its lease
# ends, and the tables would judge that stale view.
smb() { mount -t cifs //127.0.0.1/share "\$1" -o username=root,password=secret,nosharesock,\$2; }
smb /mnt/one actimeo=1,closetimeo=0 || exit 1
smb /mnt/two actimeo=30 || exit 1
grep cifs /proc/self/mountinfo | grep /mnt
status=0
# A name the second machine makes is refused to the first, whose cache
# has not seen it: what the program's way relies on.
ls /mnt/one >/dev/null; stat /mnt/one/b >/dev/null 2>&1
echo b >/mnt/two/b
(set -C; echo a >/mnt/one/b) 2>/dev/null && { echo "FAILED: an exclusive create replaced the other machine's name"; status=1; }
[ "\$(cat /mnt/share/b)" = b ] || { echo "FAILED: the other machine's file is gone"; status=1; }
rm -f /mnt/share/b
. $work/tables.sh || status=1
exit \$status
STEPS
    boot "$work/steps.sh" ""
    await_guest || fail "smb: the tests in the guest failed"
    finish "smb: the kernel's SMB client, two machines, nothing replaced" ;;
  cut-vfat|cut-ext4)
    fs=${kind#cut-}
    count=${STAMPNAME_CUT_PHOTOS:-150}
    truncate -s 96M "$work/card.img"
    if [ "$fs" = vfat ]; then
      command -v fsck.vfat >/dev/null || skip "dosfstools is not installed"
      mkfs.fat -F 32 "$work/card.img" >/dev/null || skip "mkfs.fat failed"
      mount_options="-t vfat -o utf8,shortname=mixed,tz=UTC"
      load="modprobe vfat; modprobe nls_cp437; modprobe nls_iso8859-1; modprobe nls_utf8"
      check_medium() { fsck.vfat -a "$work/card.img" >/dev/null 2>&1; [ $? -le 1 ]; }
    else
      mkfs.ext4 -q -F "$work/card.img" || skip "mkfs.ext4 failed"
      mount_options="-t ext4"
      load=":"
      check_medium() { e2fsck -fy "$work/card.img" >/dev/null 2>&1; [ $? -le 1 ]; }
    fi
    # Photos put on the medium, all of it synced: what a card holds when
    # it is put in.
    cat >"$work/fill.sh" <<STEPS
$load
mkdir -p /mnt/card && mount $mount_options /dev/ubda /mnt/card || exit 1
rm -rf /mnt/card/Rename
$(declare -f photos)
photos /mnt/card/Rename $count
umount /mnt/card
STEPS
    # A run, with the kernel writing back as often as it may (or as it
    # does by itself), then a mark for the host, which cuts the power.
    run_steps() {  # writeback centiseconds, or empty for the kernel's own
      cat <<STEPS
$load
mkdir -p /mnt/card && mount $mount_options /dev/ubda /mnt/card || exit 1
${1:+echo $1 >/proc/sys/vm/dirty_writeback_centisecs; echo $1 >/proc/sys/vm/dirty_expire_centisecs}
: >$work/started
(cd /mnt/card && TZ=UTC $build/stampname)
echo \$? >$work/ran
sleep 30
STEPS
    }
    # After the cut: the medium checked on this machine, then listed and a
    # run again; every photo whole, once, under its name.
    cat >"$work/rerun.sh" <<STEPS
$load
mkdir -p /mnt/card && mount $mount_options /dev/ubda /mnt/card || exit 1
(cd /mnt/card && TZ=UTC $build/stampname) || echo "rerun status \$?"
cd /mnt/card/Rename && for f in *; do
  printf '%s\t%s\t%s\n' "\$f" "\$(head -n 1 "\$f")" "\$(stat -c %s "\$f")"
done >$work/listing
cd /; umount /mnt/card
STEPS
    cut() {  # what, writeback, when: during or after, seconds to wait
      local what=$1
      boot "$work/fill.sh" "$work/card.img" 120
      await_guest >/dev/null || { fail "$what: the photos could not be made"; return; }
      run_steps "$2" >"$work/run.sh"
      rm -f "$work/started" "$work/ran"
      boot "$work/run.sh" "$work/card.img" 120
      for _ in $(seq 600); do
        [ -e "$work/$3" ] && break
        kill -0 "$guest" 2>/dev/null || break
        sleep 0.05
      done
      sleep "$4"
      for pid in $(guest_pids); do kill -9 "$pid" 2>/dev/null; done
      wait "$guest" 2>/dev/null
      stop_guest
      [ "$3" = ran ] && [ "$(cat "$work/ran" 2>/dev/null)" != 0 ] &&
        fail "$what: the run ended with status $(cat "$work/ran" 2>/dev/null)"
      check_medium || fail "$what: the medium could not be mended"
      boot "$work/rerun.sh" "$work/card.img" 120
      await_guest >/dev/null || fail "$what: the rerun failed: $(cat "$work/guest.log")"
      whole "$what" "$work/listing" "$count"
    }
    cuts=${STAMPNAME_CUTS:-3}
    for n in $(seq "$cuts"); do
      cut "cut $n right after a run" "" ran "0.$((RANDOM % 5))"
      cut "cut $n during a run" 10 started "0.$((RANDOM % 10))"
    done
    finish "$kind: $cuts cuts during runs and $cuts right after, no photo lost" ;;
  *)
    echo "unknown kind $kind"; exit 2 ;;
esac
