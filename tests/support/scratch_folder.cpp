#include "scratch_folder.h"

#include "test_environment.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

/// Files whose time is set again by SettleWrites.
std::vector<std::pair<fs::path, time_t>> unsettled;

}  // namespace

void SetModified(const fs::path& path, time_t modified) {
#if defined(_WIN32)
  fs::last_write_time(path, std::chrono::file_clock::from_sys(
                                std::chrono::system_clock::from_time_t(modified)));
#else
  // Access time too: FAT through FUSE ignores a modification time set alone.
  const struct timespec times[2] = {{modified, 0}, {modified, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw fs::filesystem_error("cannot set the time", path,
                               std::error_code(errno, std::generic_category()));
#endif
}

ScratchFolder::ScratchFolder() {
  const std::string& root = Environment().root;
  const fs::path under =
      !root.empty() ? fs::path(root) : fs::temp_directory_path();
  // A name no other test or run is using: created, not found.
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int tries = 0; tries < 100; ++tries) {
    path_ = under / ("stampname-test-" + std::to_string(random() % 1000000000));
    if (fs::create_directory(path_))
      return;
  }
  throw std::runtime_error("cannot create a scratch folder in " +
                           under.string());
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

time_t Utc(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date = std::chrono::year(year) / month / day;
  return system_clock::to_time_t(date + hours(hour) + minutes(minute) +
                                 seconds(second));
}

void WriteFile(const fs::path& path, const std::string& content,
               time_t modified) {
  {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out)
      throw std::runtime_error("cannot write " + path.string());
  }
  if (!Environment().lateClose) {
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

bool StickyBitKept() {
  static const bool kept = [] {
    const ScratchFolder scratch;
    const fs::path probe = scratch.path() / "probe";
    std::ofstream{probe};
    std::error_code error;
    fs::permissions(probe, fs::perms::sticky_bit, fs::perm_options::add, error);
    return !error && (fs::status(probe).permissions() &
                      fs::perms::sticky_bit) != fs::perms::none;
  }();
  return kept;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

time_t ModifiedOf(const fs::path& path) {
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(path, error);
  if (error)
    return -1;
  return std::chrono::system_clock::to_time_t(
      std::chrono::file_clock::to_sys(time));
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
