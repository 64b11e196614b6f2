#ifndef STAMPNAME_PLATFORM_SYSTEM_PLATFORM_POSIX_H_
#define STAMPNAME_PLATFORM_SYSTEM_PLATFORM_POSIX_H_

#include <memory>
#include <optional>
#include <string>

#include "platform.h"
#include "system_platform.h"

/// The real folder `Rename` beneath the current directory, on POSIX systems.
class SystemPlatform : public Platform {
 public:
  /// How a rename that never replaces is carried out. A file system that
  /// refuses one way moves the run on to the next for good, so that a run
  /// pays for the discovery once, not once per file.
  enum class RenameTier {
    kNoReplaceRename = 1,   // one atomic rename that refuses a taken name
    kLinkThenUnlink = 2,    // hard link to the new name, then drop the old
    kReserveThenRename = 3, // create the new name exclusively, rename onto it
    kNone = 4,              // a way failed halfway: no more names are made
  };

  /// `firstTier` lets tests drive the later tiers on any file system.
  explicit SystemPlatform(RenameTier firstTier = RenameTier::kNoReplaceRename);
  ~SystemPlatform() override;
  SystemPlatform(const SystemPlatform&) = delete;
  SystemPlatform& operator=(const SystemPlatform&) = delete;

  Outcome ListFirst(ListedName* entry) override;
  Outcome ListNext(ListedName* entry) override;
  Outcome ModifiedTime(const std::string& fileName,
                          DateTime* modified) override;
  bool SameFile(const std::string& a, const std::string& b) override;
  Outcome RemoveSecondName(const std::string& name,
                              const std::string& other) override;
  Outcome Rename(const std::string& from, const std::string& to,
                    const DateTime& stampedFrom) override;
  Outcome ReadTimes(const std::string& fileName, FileTimes* times) override;
  Outcome SetTimes(const std::string& fileName,
                      const FileTimes& times) override;

  /// The tier the run has settled on so far.
  RenameTier tier() const { return tier_; }

 protected:
  /// The moments between the two steps of a rename, where another program
  /// may act; tests act there.
  enum class Step { kLinked, kReserved };
  virtual void Between(Step) {}

 private:
  /// The ways beyond the kernel's own, each with the checks that keep its
  /// two steps from touching any file but this one.
  /// Nothing where the file system refuses links altogether.
  std::optional<Outcome> LinkThenUnlink(const char* from, const char* to,
                                        const DateTime& stampedFrom);
  Outcome ReserveThenRename(const char* from, const char* to,
                            const DateTime& stampedFrom);

  struct Folder;
  std::unique_ptr<Folder> folder_;
  RenameTier tier_;
  Outcome stoppedBy_;  // why the run makes no more names (kNone)
};

#endif  // STAMPNAME_PLATFORM_SYSTEM_PLATFORM_POSIX_H_
