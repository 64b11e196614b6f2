#ifndef STAMPNAME_PLATFORM_SYSTEM_PLATFORM_H_
#define STAMPNAME_PLATFORM_SYSTEM_PLATFORM_H_

#include <memory>
#include <string>

#include "platform.h"

/// The folder the program works on, with the separator of the system.
extern const char folderPrefix[];

/// The real folder `Rename` beneath the current directory. Each system
/// defines it in a source of its own (posix/system_platform.cpp,
/// win32/system_platform.cpp), with the state it needs in `Folder`.
class SystemPlatform : public Platform {
 public:
  SystemPlatform();
  ~SystemPlatform() override;
  SystemPlatform(const SystemPlatform&) = delete;
  SystemPlatform& operator=(const SystemPlatform&) = delete;

  Outcome ListFirst(ListedName* entry) override;
  Outcome ListNext(ListedName* entry) override;
  Outcome ModifiedTime(const std::string& fileName,
                       DateTime* modified) override;
  Sameness SameFile(const std::string& a, const std::string& b) override;
  Outcome RemoveSecondName(const std::string& name,
                           const std::string& other) override;
  Outcome Rename(const std::string& from, const std::string& to,
                 const DateTime& stampedFrom) override;
  Outcome ReadTimes(const std::string& fileName, FileTimes* times) override;
  Outcome SetTimes(const std::string& fileName,
                   const FileTimes& times) override;
  Outcome RecordTimes(const std::string& name,
                      const FileTimes& times) override;
  void DropTimesRecord() override;
  void LeaveTimesRecord() override;
  std::int64_t Now() override;
  bool RenamesKeepTimes() override;
  Reservation ReservationAt(const std::string& name) override;
  bool Stopped() override;
  Outcome Flush() override;

 protected:
  struct Folder;
  std::unique_ptr<Folder> folder_;
};

#endif  // STAMPNAME_PLATFORM_SYSTEM_PLATFORM_H_
