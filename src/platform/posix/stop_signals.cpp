#include "platform/posix/stop_signals.h"

#include <signal.h>

namespace {

volatile sig_atomic_t caught = 0;

void Catch(int signal) {
  if (caught == 0)
    caught = signal;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = Catch;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a run waiting for another's lock stops waiting.
  action.sa_flags = 0;
  for (const int signal : kStopSignals) {
    struct sigaction before;
    // A signal ignored where the run was started (nohup) stays ignored.
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
      continue;
    sigaction(signal, &action, nullptr);
  }
}

int CaughtStopSignal() { return caught; }

void EndByCaughtSignal() {
  const int signal = caught;
  if (signal == 0)
    return;
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, signal);
  sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  raise(signal);
}
