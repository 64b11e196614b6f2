#ifndef STAMPNAME_TESTS_SCRATCH_FOLDER_H_
#define STAMPNAME_TESTS_SCRATCH_FOLDER_H_

#include <ctime>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

/// A fresh folder for one test, removed with everything in it afterwards.
/// It lies under $STAMPNAME_TEST_ROOT when that is set (a mounted file
/// system, say), else under the system's temporary folder.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fs::path& path() const { return path_; }
  fs::path rename() const { return path_ / "Rename"; }

 private:
  fs::path path_;
};

/// Runs a test inside a scratch folder holding an empty `Rename`, which the
/// platform finds beneath the current directory.
class InScratchFolder {
 public:
  InScratchFolder() : previous_(fs::current_path()) {
    fs::create_directory(scratch_.rename());
    fs::current_path(scratch_.path());
  }
  ~InScratchFolder() { fs::current_path(previous_); }
  InScratchFolder(const InScratchFolder&) = delete;
  InScratchFolder& operator=(const InScratchFolder&) = delete;

  fs::path rename() const { return scratch_.rename(); }

 private:
  ScratchFolder scratch_;
  fs::path previous_;
};

/// Seconds since the epoch of a UTC wall-clock time.
time_t Utc(int year, int month, int day, int hour, int minute, int second);

/// Sets the access and last-modified times of `path`, a file or folder.
void SetModified(const fs::path& path, time_t modified);

/// Writes `content` to `path` and sets its last-modified time (see
/// SettleWrites).
void WriteFile(const fs::path& path, const std::string& content,
               time_t modified);

/// Sets the times WriteFile was given where it could not set them at once:
/// a share that closes a written file on the server only some time after
/// close() returns stamps it with the time of that close (SMB through FUSE).
/// The mounted test says so with STAMPNAME_LATE_CLOSE; elsewhere WriteFile
/// sets the time itself and this does nothing.
void SettleWrites();

std::string ReadFile(const fs::path& path);

/// Whether the file system scratch folders lie on keeps a file's sticky
/// bit, the mark that proves two names one file where numbers cannot
/// (ntfs-3g, without its permissions option, keeps no mode at all).
bool StickyBitKept();

time_t ModifiedOf(const fs::path& path);

/// Name to content of every entry directly in `folder` (folders show as
/// "<dir>", other non-files as "<other>").
std::map<std::string, std::string> Snapshot(const fs::path& folder);

#endif  // STAMPNAME_TESTS_SCRATCH_FOLDER_H_
