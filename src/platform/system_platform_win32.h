#ifndef STAMPNAME_PLATFORM_SYSTEM_PLATFORM_WIN32_H_
#define STAMPNAME_PLATFORM_SYSTEM_PLATFORM_WIN32_H_

#include <memory>
#include <string>

#include "platform.h"
#include "system_platform.h"

/// The real folder `Rename` beneath the current directory, on Windows. One
/// way to rename: a move that refuses a taken name is the system's own.
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
  bool SameFile(const std::string& a, const std::string& b) override;
  Outcome RemoveSecondName(const std::string& name,
                           const std::string& other) override;
  Outcome Rename(const std::string& from, const std::string& to,
                 const DateTime& stampedFrom) override;
  Outcome ReadTimes(const std::string& fileName, FileTimes* times) override;
  Outcome SetTimes(const std::string& fileName,
                   const FileTimes& times) override;

 private:
  struct Folder;
  std::unique_ptr<Folder> folder_;
};

#endif  // STAMPNAME_PLATFORM_SYSTEM_PLATFORM_WIN32_H_
