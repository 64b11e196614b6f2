#ifndef STAMPNAME_EXIT_STATUS_H_
#define STAMPNAME_EXIT_STATUS_H_

/// The program's exit statuses, its only answer: it prints nothing. The
/// manual page lists each one; its test reads them here.
enum ExitStatus {
  kAllNamed = 0,  // every handled file bears its stamp name, or none was there
  kSomeKept = 1,  // at least one file kept its name because of a failure
  kNoFolder = 2,  // `Rename` is missing or cannot be opened as a folder
};

#endif  // STAMPNAME_EXIT_STATUS_H_
