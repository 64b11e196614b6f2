#include "scratch_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

/// Files whose time is set again by SettleWrites.
std::vector<std::pair<fs::path, time_t>> unsettled;

void SetModified(const fs::path& path, time_t modified) {
  const struct timespec times[2] = {{modified, 0}, {modified, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
    throw std::runtime_error("cannot set time of " + path.string() + ": " +
                             std::strerror(errno));
}

}  // namespace

ScratchFolder::ScratchFolder() {
  const char* root = std::getenv("STAMPNAME_TEST_ROOT");
  std::string pattern =
      (root != nullptr && *root != '\0' ? fs::path(root)
                                        : fs::temp_directory_path()) /
      "stampname-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot create scratch folder " + pattern);
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

time_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm parts {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  return timegm(&parts);
}

void WriteFile(const fs::path& path, const std::string& content,
               time_t modified) {
  {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out)
      throw std::runtime_error("cannot write " + path.string());
  }
  if (std::getenv("STAMPNAME_LATE_CLOSE") == nullptr) {
    SetModified(path, modified);
    return;
  }
  // Set once the share has closed the file: until then it may refuse.
  unsettled.emplace_back(path, modified);
}

void SettleWrites() {
  if (unsettled.empty())
    return;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (const auto& [path, modified] : unsettled)
    if (fs::exists(fs::symlink_status(path)))  // not gone with its test
      SetModified(path, modified);
  unsettled.clear();
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

time_t ModifiedOf(const fs::path& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return -1;
  return st.st_mtime;
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink())
      names[name] = "<link>";
    else if (entry.is_directory())
      names[name] = "<dir>";
    else if (entry.is_regular_file())
      names[name] = ReadFile(entry.path());
    else
      names[name] = "<other>";
  }
  return names;
}
