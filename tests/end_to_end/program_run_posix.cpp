#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

ProgramRun Start(const std::filesystem::path& folder, const std::string& tz,
                 const std::vector<std::string>& args,
                 const std::filesystem::path& binary) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::string(*e).rfind("TZ=", 0) != 0)
      env.emplace_back(*e);
  env.push_back("TZ=" + tz);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore{binary.empty() ? STAMPNAME_BINARY
                                                  : binary.string()};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string output = (folder / "output.txt").string();

  const pid_t pid = fork();
  if (pid == 0) {
    // As from a user's shell, whose Ctrl-C reaches it: a test started in
    // the background would hand it an ignored SIGINT.
    for (const int stop : {SIGINT, SIGTERM, SIGHUP})
      signal(stop, SIG_DFL);
    // Added to at its end, without O_APPEND, which SMB through FUSE refuses.
    const int out = open(output.c_str(), O_WRONLY | O_CREAT, 0600);
    if (out < 0 || lseek(out, 0, SEEK_END) < 0 || chdir(folder.c_str()) != 0 ||
        dup2(out, 1) < 0 || dup2(out, 2) < 0)
      _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return {pid};
}

int Wait(ProgramRun run) {
  int status = 0;
  const auto pid = static_cast<pid_t>(run.id);
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

void Kill(ProgramRun run) {
  const auto pid = static_cast<pid_t>(run.id);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool StartSetsTimeZone() { return true; }
