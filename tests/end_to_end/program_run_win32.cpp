#include "program_run.h"

#include <windows.h>

namespace fs = std::filesystem;

namespace {

HANDLE HandleOf(ProgramRun run) { return reinterpret_cast<HANDLE>(run.id); }

std::wstring Quoted(const std::wstring& argument) {
  return L"\"" + argument + L"\"";
}

}  // namespace

// `tz` goes unused: see StartSetsTimeZone.
ProgramRun Start(const fs::path& folder, const std::string&,
                 const std::vector<std::string>& args, const fs::path& binary) {
  // Built where the test is built; its path given in the build's own terms.
  const fs::path program =
      fs::absolute(binary.empty() ? fs::path(STAMPNAME_BINARY) : binary);
  std::wstring commandLine = Quoted(program.wstring());
  for (const std::string& argument : args)
    commandLine += L" " + Quoted(fs::path(argument).wstring());

  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const HANDLE output = CreateFileW(
      (folder / "output.txt").c_str(), FILE_APPEND_DATA,
      FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(
      nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
      folder.c_str(), &startup, &process);
  if (output != INVALID_HANDLE_VALUE)
    CloseHandle(output);
  if (!started)
    return {};
  CloseHandle(process.hThread);
  return {reinterpret_cast<std::intptr_t>(process.hProcess)};
}

int Wait(ProgramRun run) {
  if (run.id == -1)
    return -1;
  DWORD status = 0;
  const bool ended =
      WaitForSingleObject(HandleOf(run), INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(HandleOf(run), &status);
  CloseHandle(HandleOf(run));
  return ended ? static_cast<int>(status) : -1;
}

void Kill(ProgramRun run) {
  if (run.id == -1)
    return;
  TerminateProcess(HandleOf(run), 137);
  WaitForSingleObject(HandleOf(run), INFINITE);
  CloseHandle(HandleOf(run));
}

bool StartSetsTimeZone() { return false; }
