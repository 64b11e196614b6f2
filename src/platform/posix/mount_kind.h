#ifndef STAMPNAME_PLATFORM_POSIX_MOUNT_KIND_H_
#define STAMPNAME_PLATFORM_POSIX_MOUNT_KIND_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// Which kind of mount a folder is on.
struct Mount {
  bool fuse = false;  // answers may come from a cache; numbers may be names'
  std::string type;   // "ext4", "vfat", "cifs", "fuse.sshfs"...; empty where
                      // the mount table does not tell
  // The kernel's own FAT keeps the card's wall-clock times and shows them
  // as instants shifted by a zone of its own: the seconds it added. Unset
  // on every other file system.
  std::optional<std::int64_t> cardShift;
  // What the mount table says is mounted: a device, a folder, a server's
  // address ("http://…"). Empty where it does not tell.
  std::string source;
};

/// The mount of the open folder `dirFd`.
Mount MountOf(int dirFd);

/// The mount of file system `type` with the options the mount table shows
/// for it, on a kernel whose own zone lies `kernelMinutesWest` minutes
/// west of UTC.
Mount MountFrom(std::string_view type, std::string_view options,
                int kernelMinutesWest);

/// Whether an exclusive create makes the file at once where every other
/// client sees it, so that a reservation holds its name.
bool ReservesAtOnce(const Mount& mount);

/// Whether the kernel's rename that refuses a taken name is only the
/// client's own look at a cache of the share (the kernel's SMB client asks
/// the server to replace), so that another machine's new file is replaced.
bool RefusesByCacheOnly(const Mount& mount);

/// Whether no rename there is known to be safe, whatever the probe finds:
/// the desktops' share mounts.
bool ServesNoWay(const Mount& mount);

/// Whether runs there take turns by a file on the share itself: the
/// network shares and the FUSE kinds over a server's or a disk's own files,
/// where a folder's lock reaches this machine's runs only and an exclusive
/// create is refused by what holds the files, whoever asks.
bool TakesTurns(const Mount& mount);

/// Whether a renamed file must itself be flushed for its new name to
/// survive a power cut: the kernel's FAT writes a renamed entry's start
/// and size only with the file, not with the folder.
inline bool FlushesEachFile(const Mount& mount) {
  return mount.cardShift.has_value();
}

#endif  // STAMPNAME_PLATFORM_POSIX_MOUNT_KIND_H_
