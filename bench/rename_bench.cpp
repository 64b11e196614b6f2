// Measures the program against a minimal baseline on large folders.
//
//   rename_bench [folder-for-scratch-files] [files]
//
// Folders are built and renamed twice each, once by the program and once by
// the baseline: `files` files with distinct times (default 100000; 1000000
// for the large case), 100 bursts of 99 files that share their second, and
// a rerun over `files` files already named. The baseline is the plain
// approach: the whole listing first, then one stat and one no-replace
// rename per file, trying the numbered names in order until one is free.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

/// `flushEach`: each renamed file flushed after its rename, as the program
/// does on the kernel's FAT, where a folder's flush leaves renamed entries
/// without their data.
int Baseline(bool flushEach) {
  DIR* dir = opendir("Rename");
  if (dir == nullptr)
    return 2;
  const int fd = dirfd(dir);
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.' && entry->d_type == DT_REG)
      names.emplace_back(entry->d_name);
  int status = 0;
  for (const std::string& listed : names) {
    const char* name = listed.c_str();
    struct stat st;
    if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    struct tm local;
    localtime_r(&st.st_mtime, &local);
    char stamp[64];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S", &local);
    const char* dot = std::strchr(name, '.');
    const std::string extension = dot != nullptr ? dot : "";
    for (int attempt = 1; attempt <= 99; ++attempt) {
      char newName[512];
      if (attempt == 1)
        snprintf(newName, sizeof newName, "%s%s", stamp, extension.c_str());
      else
        snprintf(newName, sizeof newName, "%s (%02d)%s", stamp, attempt,
                 extension.c_str());
      if (std::strcmp(newName, name) == 0)
        break;
      if (renameat2(fd, name, fd, newName, RENAME_NOREPLACE) == 0) {
        if (flushEach) {
          const int file = openat(fd, newName, O_RDONLY | O_NOFOLLOW);
          if (file >= 0)
            fsync(file), close(file);
        }
        break;
      }
      if (errno != EEXIST) {
        status = 1;
        break;
      }
    }
  }
  closedir(dir);
  return status;
}

/// Empty files: renaming does not look at contents, and a million of them
/// then fit any scratch file system.
void Fill(const fs::path& folder, int files, int burst) {
  fs::remove_all(folder);
  fs::create_directories(folder / "Rename");
  const time_t base = 1262304000;  // 2010-01-01
  for (int i = 0; i < files; ++i) {
    const std::string path =
        (folder / "Rename" / ("IMG_" + std::to_string(i) + ".jpg")).string();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      perror(path.c_str());
      std::exit(1);
    }
    const time_t when = base + i / burst;
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    futimens(fd, times);
    close(fd);
  }
}

struct Result {
  double seconds = 0;
  double peakMiB = 0;
  int status = -1;
};

/// Runs `program` in `folder` and measures it as a process of its own;
/// `baseline`: the baseline's mode ("--baseline" or "--baseline-flushed").
Result Measure(const fs::path& folder, const char* program,
               const char* baseline) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0)
      _exit(127);
    if (baseline)
      execl(program, program, baseline, nullptr);
    else
      execl(program, program, nullptr);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  Result result;
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  result.peakMiB = usage.ru_maxrss / 1024.0;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

/// Seconds one flush of the folder takes right after the baseline's renames:
/// what stampname pays at its end so that its names are on the medium.
double FlushSeconds(const fs::path& folder) {
  const int fd = open((folder / "Rename").c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0)
    return 0;
  const auto start = std::chrono::steady_clock::now();
  fsync(fd);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  close(fd);
  return seconds;
}

/// Renames a fresh folder with each, `rounds` times in turn, and keeps each
/// one's best time: the machine's other work only ever slows a run down.
/// `rerun`: over a folder already named.
void Scenario(const char* title, const fs::path& folder, const char* self,
              int files, int burst, int rounds, bool rerun = false) {
  Result base, ours;
  double flush = 0;
  const auto best = [](Result& kept, const Result& run) {
    if (kept.status < 0 || run.seconds < kept.seconds)
      kept.seconds = run.seconds, kept.status = run.status;
    kept.peakMiB = std::max(kept.peakMiB, run.peakMiB);
  };
  for (int round = 0; round < rounds; ++round) {
    Fill(folder, files, burst);
    if (rerun)
      Measure(folder, STAMPNAME_BINARY, nullptr);
    best(base, Measure(folder, self, "--baseline"));
    if (!rerun)
      flush = std::max(flush, FlushSeconds(folder));
    if (!rerun)
      Fill(folder, files, burst);
    best(ours, Measure(folder, STAMPNAME_BINARY, nullptr));
  }
  fs::remove_all(folder);
  std::printf("%s, %d files, best of %d\n", title, files, rounds);
  std::printf("  %-10s %12.0f files/s  peak %6.1f MiB  exit %d\n", "baseline",
              files / base.seconds, base.peakMiB, base.status);
  std::printf("  %-10s %12.0f files/s  peak %6.1f MiB  exit %d\n", "stampname",
              files / ours.seconds, ours.peakMiB, ours.status);
  std::printf("  speed ratio stampname/baseline: %.2f\n",
              base.seconds / ours.seconds);
  if (!rerun)
    std::printf("  flush of the folder at the end (stampname's, not the "
                "baseline's): %.2f ms, %.1f%% of the baseline's run\n",
                flush * 1000, 100 * flush / base.seconds);
}

/// What a flush of each renamed file costs over the baseline's plain
/// renames on the scratch folder's file system: the program pays it on the
/// kernel's FAT (run the benchmark on a card to see it there).
void FlushEach(const fs::path& folder, const char* self, int files) {
  Fill(folder, files, 1);
  const Result plain = Measure(folder, self, "--baseline");
  Fill(folder, files, 1);
  const Result flushed = Measure(folder, self, "--baseline-flushed");
  Fill(folder, files, 1);
  const Result ours = Measure(folder, STAMPNAME_BINARY, nullptr);
  fs::remove_all(folder);
  std::printf("each renamed file flushed, %d files\n", files);
  std::printf("  %-10s %12.0f files/s\n", "baseline", files / plain.seconds);
  std::printf("  %-10s %12.0f files/s\n", "flushed", files / flushed.seconds);
  std::printf("  %-10s %12.0f files/s\n", "stampname", files / ours.seconds);
  std::printf("  speed ratio flushed baseline/baseline: %.2f\n",
              plain.seconds / flushed.seconds);
  std::printf("  speed ratio stampname/flushed baseline: %.2f\n",
              flushed.seconds / ours.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--baseline") == 0)
    return Baseline(false);
  if (argc > 1 && std::strcmp(argv[1], "--baseline-flushed") == 0)
    return Baseline(true);
  const fs::path root =
      argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const int files = argc > 2 ? std::atoi(argv[2]) : 100000;
  const fs::path folder =
      root / ("stampname-bench-" + std::to_string(getpid()));
  setenv("TZ", "UTC", 1);
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  // Fewer rounds where one takes long.
  const int rounds = files > 200000 ? 1 : 3;
  Scenario("distinct times", folder, self.c_str(), files, 1, rounds);
  Scenario("100 bursts of 99 same-second files", folder, self.c_str(), 9900,
           99, 5);
  Scenario("rerun over a named folder", folder, self.c_str(), files, 1, rounds,
           true);
  FlushEach(folder, self.c_str(), std::min(files, 5000));
  return 0;
}
