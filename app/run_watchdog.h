// The timeout of an unattended run: a timer that looks at what the run waits for and acts
// when one wait takes longer than the limit. Connecting cannot be interrupted, and no output
// file exists yet, so a connect past the limit ends the process with the status of a run that
// could not connect. Executing the statement or waiting for the next row past the limit sends
// the stop request: the run then ends by itself as a failed statement, or, when the driver
// cannot be interrupted, its temporary files are removed for it and the process ends with that
// status. Each row restarts the limit, so an export that keeps delivering rows runs as long as
// it needs; the timer fires about once per limit while it does.
#pragma once

#include <string>

namespace rowpress {

// The log lines of a run that timed out, connecting or in the statement.
std::string connectTimedOutLines(int seconds);
std::string statementTimedOutLine(int seconds);

// Starts watching with a limit of `seconds` (more than 0); a process that the timeout ends
// ends with the run's summary line too when `summary` is set. Call after startSignalStop.
// When the timer cannot be made, only the drivers' own timeouts bound the run; the reason is
// returned, empty otherwise.
std::string startRunWatchdog(int seconds, bool summary);

}  // namespace rowpress
