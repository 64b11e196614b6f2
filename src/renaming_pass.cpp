#include "renaming_pass.h"

#include <string>

#include "known_names.h"
#include "new_name.h"
#include "platform/platform.h"

namespace {

enum class Outcome {
  kMoved,    // the file took its new name
  kNamed,    // the file bore its new name already
  kKept,     // a failure kept the file under its name
  kGone,     // the file vanished
  kChanged,  // the file changed after its time was read
};

/// Times of reading a file that keeps changing while it is being named.
constexpr int kMaxTimings = 3;

Outcome NameOnce(Platform& platform, KnownNames& known,
                 const std::string& fileName, const std::string& extension) {
  DateTime modified;
  if (const ErrorState error = platform.ModifiedTime(fileName, &modified))
    return platform.Classify(error) == Failure::kGone ? Outcome::kGone
                                                      : Outcome::kKept;
  if (!Stampable(modified))
    return Outcome::kKept;
  const std::string stamp = Stamp(modified);

  for (int attempt = 1; attempt <= kMaxAttempts; ++attempt) {
    const std::string newName = NewName(stamp, attempt, extension);
    // A file that already bears this name is done; asking for the rename
    // would only report the name as taken and push the file on to (02).
    if (newName == fileName)
      return Outcome::kNamed;
    if (known.Taken(newName))
      continue;

    const ErrorState error = platform.Rename(fileName, newName);
    if (error == 0) {
      known.Moved(fileName, newName);
      return Outcome::kMoved;
    }
    switch (platform.Classify(error)) {
      case Failure::kTaken:
        known.ReportedTaken(newName);
        continue;
      case Failure::kGone:
        return Outcome::kGone;
      case Failure::kChanged:
        return Outcome::kChanged;
      case Failure::kOther:
        // A refusal that is not about the new name would only repeat for
        // every further name; the file keeps its own.
        return Outcome::kKept;
    }
  }
  return Outcome::kKept;
}

Outcome RenameFile(Platform& platform, KnownNames& known,
                   const std::string& fileName) {
  const std::string extension = Extension(fileName);
  for (int timing = 1; timing <= kMaxTimings; ++timing) {
    const Outcome outcome = NameOnce(platform, known, fileName, extension);
    if (outcome != Outcome::kChanged)
      return outcome;
  }
  return Outcome::kKept;  // it would not hold still long enough
}

}  // namespace

ExitStatus Main(Platform& platform) {
  std::string fileName;
  if (platform.ListFirst(&fileName) != 0)
    return kNoFolder;

  KnownNames known;
  bool keptAny = false;
  while (!fileName.empty()) {
    // Some file systems list a renamed file again under its new name; each
    // file is handled once per run.
    if (!known.Handled(fileName)) {
      switch (RenameFile(platform, known, fileName)) {
        case Outcome::kMoved:
          break;
        case Outcome::kKept:
        case Outcome::kChanged:  // RenameFile gives up as kKept
          keptAny = true;
          known.Stayed(fileName);
          break;
        case Outcome::kNamed:
          known.Stayed(fileName);
          break;
        case Outcome::kGone:
          // Someone else moved the file between listing and handling (another
          // run, say); it kept nothing, so it is no failure, and its old
          // name is free again.
          known.Vanished(fileName);
          break;
      }
    }
    if (platform.ListNext(&fileName) != 0) {
      keptAny = true;  // the rest of the folder could not be read
      break;
    }
  }
  return keptAny ? kSomeKept : kAllNamed;
}
