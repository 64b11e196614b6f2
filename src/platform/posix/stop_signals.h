#ifndef STAMPNAME_PLATFORM_POSIX_STOP_SIGNALS_H_
#define STAMPNAME_PLATFORM_POSIX_STOP_SIGNALS_H_

/// Ctrl-C, a shell's hang-up and a polite kill ask the run to stop: it
/// finishes the file in hand, never stopping between two steps of a
/// rename, and then ends as the signal would have ended it.
void CatchStopSignals();

/// The stop signal caught so far, or 0.
int CaughtStopSignal();

/// Ends the process by the signal caught, as if it had not been caught, so
/// that shells and scripts see what stopped it. Returns where none was.
void EndByCaughtSignal();

#endif  // STAMPNAME_PLATFORM_POSIX_STOP_SIGNALS_H_
