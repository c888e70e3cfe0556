#include "app/startup.h"

#include "app/job_controls.h"
#include "app/run_watchdog.h"
#include "export/stop_request.h"

namespace rowpress {

void applyDefaults(JobSettings& job, View& view) {
  job.launchApplication.clear();
  view.setText(ControlId::LaunchApplication, "");
  view.setChecked(ControlId::LaunchOnFinish, true);
  job.noAutoOpen = false;
  job.outFileName.clear();
  view.setText(ControlId::OutFileName, "");
  setOutputType(job, OutputType::Xml);
  showOutputType(view, OutputType::Xml);
  job.settingsFile.clear();
}

std::vector<std::string> applyCommandLine(const CommandLine& line, JobSettings& job, View& view) {
  std::vector<std::string> problems;
  for (const std::string& file : line.settingsFiles) {
    job.settingsFile = file;
    if (file.empty()) continue;
    SettingsLoadResult loaded = loadSettingsFile(job, view, file);
    if (!loaded.opened) problems.push_back(file + ": " + loaded.error);
    for (auto& problem : loaded.problems) problems.push_back(file + ": " + problem);
  }
  if (line.noAutoOpen) job.noAutoOpen = true;
  if (line.openWith) job.launchApplication = *line.openWith;
  if (line.outFile) job.outFileName = *line.outFile;
  if (line.silent) job.silent = true;
  if (line.timeout) {
    std::optional<int> seconds = parseTimeoutSeconds(*line.timeout);
    if (seconds) job.timeoutSeconds = *seconds;
    if (!seconds) problems.push_back("-timeout=" + *line.timeout + ": " + kTimeoutRefused);
  }

  // The controls show the job as the files and switches made it.
  showJob(job, view);
  return problems;
}

int refuseUnreadableJob(const std::vector<std::string>& problems, std::ostream& err) {
  for (const std::string& problem : problems) err << "rowpress: " << problem << '\n';
  err << "rowpress: the job could not be read; nothing was run\n";
  err.flush();
  return static_cast<int>(RunOutcome::JobUnreadable);
}

int runUnattended(MainDialog& dialog, std::ostream& out, std::ostream& err) {
  FetchResult result = dialog.OnFetch();
  const ExportResult& summary = dialog.lastExport();
  // Nobody sees the status list: what it says about a failure goes to the log.
  if (result.outcome == RunOutcome::NoConnection) {
    if (!result.failureLine.empty()) err << "rowpress: " << result.failureLine << '\n';
    if (!result.connectDiagnostic.empty()) err << "rowpress: " << result.connectDiagnostic;
  }
  if (result.outcome == RunOutcome::OutputFile) {
    // The message names the file; this line also says why.
    const std::string& why =
        result.failureLine.empty() ? summary.outputFailure : result.failureLine;
    if (!why.empty()) err << "rowpress: " << why << '\n';
  }
  // A path only for a file that is there: a run refused at a limit before writing keeps none.
  if ((result.outcome == RunOutcome::Exported || result.outcome == RunOutcome::Limit) &&
      summary.kept) {
    out << summary.path << '\n';
  } else if (result.outcome == RunOutcome::NoRows) {
    err << "rowpress: the query returned no rows; no file was written\n";
  }
  StopRequest& stop = StopRequest::instance();
  if (result.outcome == RunOutcome::StatementFailed && stop.timedOutAfter() > 0) {
    // Said once: the watchdog may be ending the process at the same moment.
    if (stop.claimReport()) err << statementTimedOutLine(stop.timedOutAfter());
  }
  out.flush();
  err.flush();
  if (result.outcome == RunOutcome::Stopped) {
    // The run ended by itself after the request; the thread that took the signal may not
    // have said so yet.
    if (stop.claimReport()) err << stopLogLine(stop.signal()) << std::flush;
    return 128 + stop.signal();
  }
  return static_cast<int>(result.outcome);
}

}  // namespace rowpress
