// The link probe: whether the folder takes links, and whether its numbers
// number files, learnt from an empty file of the run's own, where the
// kernel's rename that refuses a taken name is missing or a judgement
// needs it.
#include "platform/posix/link_probe.h"

#include <unistd.h>

#include <cerrno>

#include "platform/posix/file_status.h"

Outcome LinkProbe::Learn() {
  // A probe taken away meanwhile (by a run of an earlier version, which
  // knew no probes, or one that found it stale) says nothing of links:
  // another is made.
  Outcome learnt;
  for (int tries = 0; tries < 3; ++tries)
    if (learnt = LearnOnce(); learnt.failure != Failure::kGone)
      break;
  return learnt;
}

Outcome LinkProbe::LearnOnce() {
  if (links != Links::kUnknown && identity != Identity::kUnknown)
    return {};
  const int fd = folder_.fd();
  const std::string first = folder_.Aside(HiddenRole::kProbe),
                    second = folder_.Aside(HiddenRole::kProbe);
  struct stat made, a, b, folder;
  bool madeIt;
  if (const int error = folder_.MakeEmpty(first.c_str(), &made, &madeIt);
      error != 0) {
    if (madeIt)
      folder_.DropAside(first);
    return OutcomeOf(error);
  }
  folder_.between(RenameStep::kProbe);
  // Between two fresh names of the run's own, any refusal means no links
  // here, whatever it says (EPERM, ENOSYS, EIO on cloud drives...), but
  // for a full disk or quota, which says nothing of links: asked again at
  // the next file.
  const int linked = link(fd, first.c_str(), second.c_str());
  if (linked == ENOSPC || linked == EDQUOT || linked == ENOENT) {
    folder_.DropAside(first);
    return OutcomeOf(linked);
  }
  if (linked != 0) {
    links = Links::kRefused;
    if (identity == Identity::kUnknown)
      identity = folder_.Kind().fuse ? Identity::kMark : Identity::kInode;
  } else {
    links = Links::kMade;
    // Two links of one file must show one number, and another file
    // another.
    const bool tells = statNow(fd, first.c_str(), &a) == 0 &&
                       statNow(fd, second.c_str(), &b) == 0 &&
                       fstat(fd, &folder) == 0 && SameInode(a, b) &&
                       !SameInode(a, folder);
    if (identity == Identity::kUnknown)
      identity = tells ? Identity::kInode : Identity::kMark;
    folder_.DropAside(second);
  }
  folder_.DropAside(first);  // names only this run knows
  return {};
}
