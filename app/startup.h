// Start-up: the defaults, the settings files and switches of the command line, the controls
// brought into line with the job, and the unattended run.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/credentials.h"
#include "app/view.h"
#include "export/export_run.h"
#include "export/stop_request.h"
#include "job/job_settings.h"
#include "run/run_job.h"
#include "run/viewer.h"
#include "settings/settings_file.h"

namespace rowpress {

// The default state of the job and the controls before the command line applies.
void applyDefaults(JobSettings& job, View& view);

// The job that the command line gives: the named settings files read in order, then the
// switches and the credentials from outside. `loaded`, when given, is told of each settings
// file that could be read, for a window to show what it applied. Returns the problems as
// applyCommandLine does.
std::vector<std::string> jobFromCommandLine(
    const CommandLine& line, JobSettings& job, const OutsideCredentials& outside = {},
    const std::function<void(const SettingsLoadResult&)>& loaded = {});

// The window's start-up: the job that the command line gives (jobFromCommandLine), then shown
// in the controls once, each control given its value at most once; the data source list shows
// the data sources of the last settings file that was read. Returns the problems of the settings
// files, each line naming its file: a file that could not be read, a refused value, an over-long
// line. Any problem means that the job is not the one that was written. The credentials from
// outside the job file (`outside`) beat the files; a password file that could not be used is one of
// the problems.
std::vector<std::string> applyCommandLine(const CommandLine& line, JobSettings& job, View& view,
                                          const OutsideCredentials& outside = {});

// An unattended run whose settings files had problems does not run at all: writes each
// problem to `err` and returns the exit status of a job that could not be read.
int refuseUnreadableJob(const std::vector<std::string>& problems, std::ostream& err);

// What an unattended run tells its operator besides its failure lines.
struct RunLog {
  bool quiet = false;         // neither the progress line nor the summary line
  int progressTerminal = -1;  // the terminal that shows the progress line; -1: none
  bool outputClosed = false;  // standard output was closed at start: no path line reaches it
};

// The last line of an unattended run: "rowpress: N rows to PATH in S s", or what failed.
std::string summaryLine(const RunResult& result, const ExportResult& exported, int signal,
                        std::chrono::duration<double> elapsed);

// Runs `job` as start-up made it, with no window: reports on `err` (message boxes as
// "CAPTION: TEXT", the lines of a failure, the progress line and the summary line, paths and
// the driver's words with their control characters escaped) and the path of a kept file on
// `out`, as its own bytes; the viewer is started through `launcher`. Returns the exit status:
// the outcome of the run, or 7 when the file was kept but `out` could not take its path (a
// failure of `err` changes nothing). `stop` is the request that stops the run, which the stop
// signals' handlers and the timeout make.
int runUnattended(JobSettings job, StopRequest& stop, std::ostream& out, std::ostream& err,
                  const RunLog& log = {}, Launcher& launcher = processLauncher());

}  // namespace rowpress
