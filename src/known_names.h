#ifndef STAMPNAME_KNOWN_NAMES_H_
#define STAMPNAME_KNOWN_NAMES_H_

#include <string>
#include <unordered_map>

/// What the pass has learnt of the names in its folder during one run.
/// A name it knows is certainly taken (as far as this run can tell), so the
/// attempts skip it without asking the file system; a name it does not know
/// may still be taken, which the no-replace rename reports.
class KnownNames {
 public:
  /// Records a name the listing yielded. False when this run has handled
  /// that file already: listed before, or given that name itself.
  bool FirstSight(const std::string& fileName);

  bool Taken(const std::string& name) const { return names_.contains(name); }

  /// The file moved from one name to the other.
  void Moved(const std::string& from, std::string to);

  /// The file system reported this name as taken.
  void ReportedTaken(std::string name);

  /// The file under this name is gone.
  void Vanished(const std::string& name);

 private:
  enum class Mark {
    kListed,    // an original file the pass handled
    kCreated,   // a name the pass gave to a file
    kReported,  // taken by something the pass has not listed (yet)
  };

  /// A name is free again, and so are reported names that differ from it
  /// only in case: on a file system that folds case they may have been
  /// taken by this very name.
  void Freed(const std::string& name);

  static std::string Folded(const std::string& name);

  std::unordered_map<std::string, Mark> names_;
  std::unordered_multimap<std::string, std::string> reportedByFold_;
};

#endif  // STAMPNAME_KNOWN_NAMES_H_
