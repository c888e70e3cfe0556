// The signals that stop rowpress: SIGINT, SIGTERM and SIGHUP. They are blocked in every
// thread and taken by one thread of their own, which asks the running export to stop (it
// then removes its temporary file and leaves an existing file as it was), waits a moment for
// it, removes the temporary files itself when the driver could not be interrupted, and ends
// the process with exit status 128 plus the signal number. Signals that were ignored when
// rowpress started (as under nohup) stay ignored.
#pragma once

#include <chrono>
#include <string>

namespace rowpress {

// How long a stopped export may take to end by itself before its files are removed for it.
inline constexpr std::chrono::milliseconds kStopGrace{2000};

// Call first in main, before any other thread exists: threads started later inherit the
// blocked signals. A process that the stop ends ends with the run's summary line too when
// `summary` is set (an unattended run that is not quiet). When the thread cannot start (a
// limit on threads or on memory), the signals are left as they were, so that they still end
// the process (without removing a temporary file: a later run takes it once it is
// abandoned), and the reason is returned; empty otherwise.
std::string startSignalStop(bool summary = false);

}  // namespace rowpress
