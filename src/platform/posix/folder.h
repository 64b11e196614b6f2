#ifndef STAMPNAME_PLATFORM_POSIX_FOLDER_H_
#define STAMPNAME_PLATFORM_POSIX_FOLDER_H_

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix/identity.h"
#include "platform/posix/rename_ways.h"

// What the POSIX platform's sources share: the state of one run in its
// folder, and the steps each way is made of. Each concern defines its part
// in a source of its own:
//
//   listing.cpp         the listing, the lock, and which mount it is
//   file_status.cpp     what a name holds, read past the caches
//   identity.cpp        the program's own hidden names; whether two names
//                       are one file
//   mark.cpp            the proof of one file where numbers name names
//   times_record.cpp    a file's times kept aside while a rename resets them
//   no_replace_way.cpp  the kernel's rename that refuses a taken name
//   link_way.cpp        a link by a hidden name
//   reserve_way.cpp     a reservation, then a rename onto it
//   system_platform.cpp the platform's operations, and the way taken

/// What became of a removal of a run's empty reservation.
enum class Emptied {
  kGone,      // nothing is left under the name
  kNotEmpty,  // it held a file (someone else's): that file is back
  kStays,     // it could not be taken away, and is left for later
};

// file_status.cpp
Outcome OutcomeOf(int error);
bool SameInode(const struct stat& a, const struct stat& b);
bool SameAttributes(const struct stat& a, const struct stat& b);
bool EmptyFile(const struct stat& st);
bool GoneNow(int dirFd, const char* name);
int ToLocal(time_t when, DateTime* modified);
bool StillStamped(const struct stat& st, const DateTime& stampedFrom);
int StatNow(int dirFd, const char* name, struct stat* st);
int TimesNow(int dirFd, const char* name, FileTimes* times);
int SetTimesAt(int dirFd, const char* name, const FileTimes& times);

// listing.cpp
/// Which kind of mount the folder is on, read once a run.
struct Mount {
  bool fuse = false;  // answers may come from a cache; numbers may be names'
  std::string type;   // the FUSE kind ("fuse.sshfs", say); empty elsewhere
};
Mount MountOf(int dirFd);
bool ReservesAtOnce(const Mount& mount);

// no_replace_way.cpp
int RenameNoReplace(int dirFd, const char* from, const char* to);
bool RefusesNoReplace(int error);

struct SystemPlatform::Folder {
  DIR* listing = nullptr;
  // How two names are proven to hold one file, learnt before the first
  // judgement that needs it. Most file systems number files; sshfs and
  // mergerfs make up a number per name, even for two links of one file, so
  // there a mark set through one name must show through the other.
  enum class Identity { kUnknown, kInode, kMark };
  Identity identity = Identity::kUnknown;
  enum class Links { kUnknown, kMade, kRefused };
  Links links = Links::kUnknown;
  // Private names whose removal failed; tried again before the run ends.
  // With `empty`, a reservation to remove only while it is empty; else an
  // extra link of a file that bears its new name.
  std::vector<std::pair<std::string, bool>> leftovers;
  // Reservations of other runs, maybe in flight, as first seen and when:
  // removed at the end where they stayed as they were.
  struct Sighting {
    std::string name;
    struct stat seen;
    struct timespec when;
  };
  std::vector<Sighting> sightings;
  int inFlightSeconds = kInFlightSeconds;
  enum class Reserving { kUnknown, kMay, kNever };
  Reserving reserving = Reserving::kUnknown;
  bool reserveByOpen = false;  // mknod makes no plain files here
  bool lock = true;            // false: as through a mount of its own
  bool timesUnknown = false;   // true: not even on a kernel file system
  bool changed = false;        // a name was made or taken away
  bool finished = false;       // the end of the run's work is done
  std::optional<Mount> mount;  // read at the first question
  std::string timesRecord;     // of the file in hand, while it may be reset
  // Puts the folder on the medium: 0 or the failure.
  std::function<int(int)> flush = [](int fd) {
    return fsync(fd) == 0 ? 0 : errno;
  };
  RenameTier tier = RenameTier::kNoReplaceRename;
  std::uint64_t nonce = 0;  // drawn at the first private name
  unsigned asides = 0;
  std::function<void(RenameStep)> between = [](RenameStep) {};

  ~Folder();

  int fd() const { return dirfd(listing); }

  // listing.cpp
  const Mount& Kind();
  std::string NameByDigest(std::uint64_t digest);
  bool MayReserve();

  // identity.cpp
  std::string Aside(HiddenRole role, std::string_view recorded = {});
  Outcome Learn();
  Outcome LearnOnce();
  bool Proven(const struct stat& a, const struct stat& b) const;
  Sameness Judge(const char* name, const struct stat& a, const char* other,
                 const struct stat& b);
  Outcome DropSecondName(const char* name, const char* other, bool ours);
  void DropAside(const std::string& aside);

  // link_way.cpp
  Outcome LinkThenUnlink(const char* from, const char* to,
                         const DateTime& stampedFrom);
  Outcome LinkFirst(const char* from, const char* to,
                    const DateTime& stampedFrom);
  Outcome Unlinked(const std::string& aside, const char* from, const char* to,
                   const DateTime& stampedFrom, int error);
  Outcome PutBack(const std::string& hidden, const char* name, Outcome outcome);

  // mark.cpp
  bool MarkShows(const char* name, const char* other);

  // system_platform.cpp
  Outcome Finish();

  // times_record.cpp
  bool TimesBack(const char* record, const char* name);

  // reserve_way.cpp
  Outcome ReserveThenRename(const char* from, const char* to,
                            const DateTime& stampedFrom);
  Outcome Reserve(const char* name, struct stat* reserved);
  Outcome Recorded(const char* name, struct stat* reserved);
  bool SameReservation(const struct stat& st,
                       const struct stat& reserved) const;
  Outcome OntoReservation(const char* from, const char* to,
                          const struct stat& reserved);
  Emptied RemoveEmpty(const char* name);
  Emptied DropEmptyAside(const std::string& aside, const char* name);
  bool VoidGone(const char* name);
  Reservation Sighted(const char* name);
  bool Fresh(const struct stat& st) const;
  bool WaitedOut(const struct stat& st) const;
  bool InFlight(const char* name, const struct stat& st);
  void SightProbe(const char* name);
  void RemoveStaleSightings();
};

#endif  // STAMPNAME_PLATFORM_POSIX_FOLDER_H_
