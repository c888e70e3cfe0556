// The exit statuses of an unattended run, which are also the outcomes of one run of the job
// in the window.
#pragma once

namespace rowpress {

// How one run of the job ended. The values are the exit statuses of an unattended run.
enum class RunOutcome {
  Exported = 0,         // rows were written and the file kept
  NoRows = 1,           // the query returned no rows; no file kept
  NoConnection = 2,     // a session step failed
  StatementFailed = 3,  // execute, column count or a fetch failed
  OutputFile = 4,       // the output file could not be created or written
  Limit = 5,            // stopped at a workbook limit; the partial workbook is kept
  JobUnreadable = 6,    // a settings file could not be read or held a refused value; nothing ran
  PathNotShown = 7,     // the file was written but standard output could not take its path
  Changed = 8,          // strict: a value would have been changed to fit the output; nothing kept
  Stopped = 128,        // stopped by a request (a signal: the status is 128 + its number)
};

// The exit status of a run that ended with `outcome`: a run stopped by the signal `signal`
// ends with 128 + its number, as a shell reports a process that the signal ended; any other
// outcome is its own value. Safe in a signal handler.
constexpr int exitStatusOf(RunOutcome outcome, int signal = 0) {
  if (outcome == RunOutcome::Stopped && signal > 0) return 128 + signal;
  return static_cast<int>(outcome);
}

}  // namespace rowpress
