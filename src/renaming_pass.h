#ifndef STAMPNAME_RENAMING_PASS_H_
#define STAMPNAME_RENAMING_PASS_H_

class Platform;

/// The program's exit statuses.
enum ExitStatus {
  kAllNamed = 0,  // every handled file bears its stamp name, or none was there
  kSomeKept = 1,  // at least one file kept its name because of a failure
  kNoFolder = 2,  // `Rename` is missing or cannot be opened as a folder
};

/// Goes once through the folder and renames every ordinary file after its
/// last-modified date and time.
ExitStatus Main(Platform& platform);

#endif  // STAMPNAME_RENAMING_PASS_H_
