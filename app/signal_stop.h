// The signals that stop rowpress: SIGINT, SIGTERM and SIGHUP, and the timers of a stop and of
// -timeout. No thread takes them: a handler asks the running export to stop and arms the
// stop's grace timer. The export sees the request at its next row, removes its temporary file,
// leaves an existing file as it was and ends the process with exit status 128 plus the signal
// number. When the grace runs out first (the driver is inside one long call), the timer's
// handler removes the registered temporary files itself and ends the process under the run.
// Everything the handlers do is async-signal-safe: atomics, the fixed table of the run's
// files, unlinkat, write and _exit. Signals that were ignored when rowpress started (as under
// nohup) stay ignored.
#pragma once

#include <chrono>
#include <string>

namespace rowpress {

// How long a stopped export may take to end by itself before its files are removed for it.
inline constexpr std::chrono::milliseconds kStopGrace{2000};

// Installs the handlers, early in main. A process that the stop ends ends with the run's
// summary line too when `summary` is set (an unattended run that is not quiet). When the
// grace timer cannot be made, the signals are left as they were, so that they still end the
// process (without removing a temporary file: a later run takes it once it is abandoned), and
// the reason is returned; empty otherwise.
std::string startSignalStop(bool summary = false);

// A run that a stop signal asked to end has ended by itself (the window's export): ends the
// process as the signal asks, with its log line and exit status 128 plus its number. Returns
// when no signal asked.
void endAfterStopSignal();

// Bounds each wait of the run (the connect, executing the statement, the next row) by
// `seconds` (more than 0) with a timer of its own; see app/run_watchdog.h for what a run past
// the limit does. The process ends with the run's summary line too when `summary` is set.
// Call after startSignalStop. When the timer cannot be made, the reason is returned.
std::string startStopTimeout(int seconds, bool summary);

}  // namespace rowpress
