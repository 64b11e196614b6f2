// Whether two names are one file: by the file system's numbers for files,
// or, where it numbers names (sshfs, mergerfs), by a mark. Likeness is
// never a proof: a copy holds the same bytes and times, and is another file.
#include "platform/posix/proof.h"

#include "platform/posix/file_status.h"

using Identity = LinkProbe::Identity;

Sameness Proof::SameFile(const char* a, const char* b) {
  struct stat first, second;
  if (StatNow(folder_.fd(), a, &first) != 0 ||
      StatNow(folder_.fd(), b, &second) != 0)
    return Sameness::kOther;
  // The kernel's own file systems number files; FUSE ones are asked.
  if (probe_.identity == Identity::kUnknown) {
    if (folder_.Kind().fuse)
      probe_.Learn();
    else
      probe_.identity = Identity::kInode;
  }
  return Judge(a, first, b, second);
}

/// Proven by numbers, where they number files: the same file with another
/// name besides. Without links no two names are one file. Names that
/// differ in what the file system keeps are not marked: they cannot be one
/// file.
Sameness Proof::Judge(const char* name, const struct stat& a, const char* other,
                      const struct stat& b) {
  if (probe_.identity == Identity::kInode)
    return SameInode(a, b) && a.st_nlink > 1 ? Sameness::kSame
                                             : Sameness::kOther;
  if (probe_.links == LinkProbe::Links::kRefused || !S_ISREG(a.st_mode) ||
      !SameAttributes(a, b))
    return Sameness::kOther;
  switch (mark(folder_.fd(), name, other)) {
    case Marked::kShows:
      return Sameness::kSame;
    case Marked::kNotShown:
      return Sameness::kOther;
    case Marked::kNoMark:
      break;
  }
  return Sameness::kUnproven;
}

bool Proof::SameReservation(const struct stat& st,
                            const struct stat& reserved) const {
  return EmptyFile(st) &&
         (probe_.identity == Identity::kMark || SameInode(st, reserved)) &&
         SameAttributes(st, reserved);
}
