#ifndef STAMPNAME_STOPPED_RUNS_H_
#define STAMPNAME_STOPPED_RUNS_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "folder_names.h"
#include "platform/platform.h"

/// What stopped runs left: files under hidden names of their own, headed
/// for a name, and files under a second name beside their own.
class StoppedRuns {
 public:
  using Headed = std::vector<std::pair<FolderNames::Index, std::string>>;

  StoppedRuns(Platform& platform, FolderNames& folder)
      : platform_(platform), folder_(folder) {}

  /// The file listed at `index` is under a hidden name that records
  /// `headedFor`.
  void Listed(FolderNames::Index index, std::string headedFor) {
    headed_.emplace_back(index, std::move(headedFor));
  }

  /// The files under hidden names, with the names they were headed for.
  const Headed& headed() const { return headed_; }

  /// Drops the file's listed name where it is proven a second name of a
  /// file that bears a name of its own already.
  void DropSecondName(FolderNames::Index index);

 private:
  std::string_view HeadedFor(FolderNames::Index index) const;

  Platform& platform_;
  FolderNames& folder_;
  // Rare: a vector searched in order.
  Headed headed_;
};

#endif  // STAMPNAME_STOPPED_RUNS_H_
