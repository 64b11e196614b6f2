#ifndef STAMPNAME_KNOWN_NAMES_H_
#define STAMPNAME_KNOWN_NAMES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "name_table.h"

/// What the pass has learnt of the names in its folder during one run.
/// A name it knows is certainly taken (as far as this run can tell), so the
/// attempts skip it without asking the file system; a name it does not know
/// may still be taken, which the no-replace rename reports.
class KnownNames {
 public:
  /// Whether this run has handled the file the listing yields under this
  /// name already: it kept the name, or the run gave it that name.
  bool Handled(const std::string& fileName) const;

  /// The file was handled and still bears this name.
  void Stayed(const std::string& fileName);

  bool Taken(std::string_view name) const {
    return names_.Find(name) != nullptr;
  }

  /// The file moved from one name to the other.
  void Moved(const std::string& from, std::string_view to);

  /// The file system reported this name as taken.
  void ReportedTaken(std::string_view name);

  /// The file under this name is gone.
  void Vanished(const std::string& name);

 private:
  enum class Mark : std::uint8_t {
    kListed,    // an original file the pass handled that kept its name
    kCreated,   // a name the pass gave to a file
    kReported,  // taken by something the pass has not listed (yet)
  };

  /// Marks `name`, whatever it was marked before.
  void Set(std::string_view name, Mark mark);

  /// A name is free again, and so are reported names that differ from it
  /// only in case: on a file system that folds case they may have been
  /// taken by this very name.
  void Freed(std::string_view name);

  static std::string Folded(std::string_view name);

  NameTable names_;
  std::unordered_multimap<std::string, std::string> reportedByFold_;
};

#endif  // STAMPNAME_KNOWN_NAMES_H_
