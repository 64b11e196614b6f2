#ifndef STAMPNAME_TESTS_PROGRAM_RUN_H_
#define STAMPNAME_TESTS_PROGRAM_RUN_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

/// A run of the built program, started as a user would start it.
struct ProgramRun {
  std::intptr_t id = -1;  // the process: its id, or its handle on Windows
};

/// Starts the program in `folder` with TZ set to `tz` and both output
/// streams added to `output.txt` beside the folder's `Rename`: the one
/// built, or a copy of it at `binary`.
ProgramRun Start(const std::filesystem::path& folder, const std::string& tz,
                 const std::vector<std::string>& args = {},
                 const std::filesystem::path& binary = {});

/// The run's exit status once it has ended; -1 where it did not exit.
int Wait(ProgramRun run);

/// Stops the run at once, as a power cut or a kill would.
void Kill(ProgramRun run);

/// Whether Start's `tz` sets the run's time zone. Windows takes the
/// system's zone, and Wine the one of the shell that started it: a Windows
/// process cannot hand one to the program it starts.
bool StartSetsTimeZone();

#endif  // STAMPNAME_TESTS_PROGRAM_RUN_H_
