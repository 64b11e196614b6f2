#ifndef STAMPNAME_PLATFORM_POSIX_PROOF_H_
#define STAMPNAME_PLATFORM_POSIX_PROOF_H_

#include <functional>

#include "platform/posix/link_probe.h"
#include "platform/posix/mark.h"
#include "platform/posix/open_folder.h"

/// Whether two names are one file, by a proof the mount gives and never by
/// likeness: what a run may drop, and what it must leave.
class Proof {
 public:
  Proof(OpenFolder& folder, LinkProbe& probe)
      : folder_(folder), probe_(probe) {}

  /// What the names `a` and `b` hold, each read past the cache.
  Sameness SameFile(const char* a, const char* b);

  /// What `name`, read as `a`, and `other`, read as `b`, hold: kSame only
  /// where dropping `name` takes away no file's last name.
  Sameness Judge(const char* name, const struct stat& a, const char* other,
                 const struct stat& b);

  /// Whether `st` is still the reservation made as `reserved`: the same
  /// empty file, unchanged since.
  bool SameReservation(const struct stat& st,
                       const struct stat& reserved) const;

  /// How a mark is set and read, where numbers name names.
  std::function<Marked(int fd, const char* name, const char* other)> mark =
      [](int fd, const char* name, const char* other) {
        return MarkShows(fd, name, other);
      };

 private:
  OpenFolder& folder_;
  LinkProbe& probe_;
};

#endif  // STAMPNAME_PLATFORM_POSIX_PROOF_H_
