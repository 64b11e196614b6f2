// What runs stopped between two steps of a rename left, judged against
// the names they record: a second name goes only where the file system
// proves it one.
#include "stopped_runs.h"

#include "new_name.h"

std::string_view StoppedRuns::HeadedFor(FolderNames::Index index) const {
  for (const auto& [hidden, name] : headed_)
    if (hidden == index)
      return name;
  return {};
}

void StoppedRuns::DropSecondName(FolderNames::Index index) {
  // A file that already bears a name of its own under another link (left by
  // a run stopped between linking the new name and dropping the old) makes
  // no further name, which would only pile up beside it: the run drops the
  // old name, as the stopped run would have. Where that is refused, or the
  // file system cannot prove the two names one file, the file keeps both,
  // and the run says so. The link count cannot tell: FUSE file systems may
  // show a stale one. Only listed names are taken yet, and a first run over
  // a camera's names lists none of its own; the check costs a stat pair
  // where one is.
  //
  // A hidden name a stopped run left is judged against the one name it
  // records alone: the likeness of a duplicate under another number proves
  // nothing. Two names that may be one file but cannot be proven so are two
  // files: the second is named as a duplicate would be.
  if (folder_[index].state != FileState::kPending)
    return;
  const std::string name(folder_[index].name);
  const auto drop = [&](const std::string& other) {
    if (platform_.RemoveSecondName(name, other).ok())
      folder_.Vanished(index);
    else
      folder_.Kept(index);
  };
  // The name it records may be any (the old name it was being put back
  // to): asked of the folder, not of the names listed.
  if (const std::string headed(HeadedFor(index)); !headed.empty()) {
    if (platform_.SameFile(name, headed) == Sameness::kSame)
      drop(headed);
    return;
  }
  if (!folder_.AnyStampedListed())
    return;
  // A name of its own time that may be this file, where no proof can be
  // had either way, makes no further name either: the file keeps its name,
  // and the run says so.
  for (int number = 1; number <= kMaxAttempts; ++number) {
    const std::string own = folder_.NewNameOf(index, number);
    if (!folder_.Taken(own))
      continue;
    switch (platform_.SameFile(name, own)) {
      case Sameness::kSame:
        drop(own);
        return;
      case Sameness::kUnproven:
        folder_.Kept(index);
        return;
      case Sameness::kOther:
        break;
    }
  }
}
