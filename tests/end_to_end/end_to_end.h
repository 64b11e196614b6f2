#ifndef STAMPNAME_TESTS_END_TO_END_H_
#define STAMPNAME_TESTS_END_TO_END_H_

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "program_run.h"
#include "scratch_folder.h"

using Names = std::map<std::string, std::string>;

/// Starts the program once the files written for it have their times.
inline ProgramRun StartRun(const fs::path& folder, const std::string& tz,
                           const std::vector<std::string>& args = {}) {
  SettleWrites();
  return Start(folder, tz, args);
}

inline int RunProgram(const fs::path& folder, const std::string& tz = "UTC",
                      const std::vector<std::string>& args = {}) {
  return Wait(StartRun(folder, tz, args));
}

/// All the program printed, to either stream, in `folder`.
inline std::string Output(const fs::path& folder) {
  return ReadFile(folder / "output.txt");
}

/// The stamp of a UTC time: "2009-03-05 07-08-09".
inline std::string UtcStamp(time_t when) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H-%M-%S", std::gmtime(&when));
  return text;
}

#endif  // STAMPNAME_TESTS_END_TO_END_H_
