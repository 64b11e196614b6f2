#ifndef STAMPNAME_FOLDER_NAMES_H_
#define STAMPNAME_FOLDER_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "name_table.h"

/// Where a listed name stands in the run.
enum class FileState : std::uint8_t {
  kNotOrdinary,  // a folder, link, hidden file, another run's reservation:
                 // it only takes its name
  kPending,      // an ordinary file that is still to get its name
  kOwnName,      // bears a name the run could give it already, and keeps it
  kMoved,        // took its new name in this run
  kKept,         // a failure kept it under its listed name
  kGone,         // it vanished from under its listed name
};

struct ListedFile {
  std::string_view name;   // as listed
  std::uint64_t time = 0;  // its last-modified time, Packed()
  std::uint8_t number = 0; // attempt whose name it took in this run
  FileState state = FileState::kNotOrdinary;
  bool stampShaped = false;  // has the shape of a name the run gives
  std::uint16_t dot = 0;   // where the extension begins: the first dot, or
                           // the end of the name

  /// The part before the first dot: a photo's RAW, JPEG and sidecar files
  /// share it.
  std::string_view shot() const { return name.substr(0, dot); }
  std::string_view extension() const { return name.substr(dot); }
};

/// The folder as one run knows it: every listed name, what became of each,
/// and which names are taken (but for case).
///
/// Only names of the shape the run gives (a stamp, maybe a number, an
/// extension) are entered as taken: no other name can equal one of them,
/// even but for case, so a first run over a camera's names keeps only the
/// names it gives.
class FolderNames {
 public:
  using Index = std::uint32_t;

  FolderNames();
  FolderNames(const FolderNames&) = delete;
  FolderNames& operator=(const FolderNames&) = delete;

  /// Adds a listed name, taken from now on. Its extension begins at the
  /// first dot from `privatePart` on.
  Index Add(std::string_view name, bool ordinary, std::size_t privatePart = 0);

  std::size_t size() const { return files_.size(); }
  const ListedFile& operator[](Index index) const { return files_[index]; }

  bool Taken(std::string_view name) const { return taken_.Contains(name); }

  /// Whether any listed name has the shape of a name the run gives.
  bool AnyStampedListed() const { return stampedListed_; }

  /// Whether a failure kept any file under its listed name.
  bool AnyKept() const;

  // What became of a file, one transition each.

  /// Its time was read: `time`, Packed(); with `ownName`, it bears a name
  /// the run could give it already, and keeps it.
  void Timed(Index index, std::uint64_t time, bool ownName);

  /// The file left its listed name, or the name it took before, for
  /// `newName`, the one of attempt `number`; with `taken`, the new name
  /// counts as taken from now on.
  void Moved(Index index, int number, std::string_view newName, bool taken);

  /// A failure keeps it under its listed name.
  void Kept(Index index) { files_[index].state = FileState::kKept; }

  /// It is another run's reservation: its name is left alone, and taken.
  void Reserved(Index index) {
    files_[index].state = FileState::kNotOrdinary;
  }

  /// The file is gone from under its listed name, which is free again.
  void Vanished(Index index);

  /// Something the listing did not show holds `name`.
  void ReportedTaken(std::string_view name) { Add(name, false); }

  /// The name of attempt `number` for the file: its stamp, the number's
  /// suffix and its own extension.
  std::string NewNameOf(Index index, int number) const;

 private:
  std::string_view Store(std::string_view name);
  std::string_view TextOf(NameTable::Reference reference,
                          std::string* scratch) const;

  std::deque<ListedFile> files_;  // no reallocation peak as it grows
  std::vector<std::unique_ptr<char[]>> blocks_;  // the names' text
  char* blockNext_ = nullptr;
  std::size_t blockFree_ = 0;
  bool stampedListed_ = false;
  // The table refers to a listed name as its index * 2, and to the name
  // the file took as index * 2 + 1.
  static NameTable::Reference ListedReference(Index index) {
    return index * 2;
  }
  static NameTable::Reference TakenReference(Index index) {
    return index * 2 + 1;
  }
  NameTable taken_;
};

#endif  // STAMPNAME_FOLDER_NAMES_H_
