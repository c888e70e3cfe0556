#include "app/startup.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "app/job_controls.h"
#include "app/progress_line.h"
#include "app/run_watchdog.h"
#include "db/connection_string.h"
#include "export/delimited_writer.h"
#include "export/output_naming.h"
#include "export/stop_request.h"
#include "export/value_account.h"
#include "job/job_fields.h"
#include "job/shown_text.h"
#include "run/viewer.h"

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
  // The separator choice shows the job's (the comma) from the start, never an empty box.
  showSeparatorChoice(job, view);
  job.settingsFile.clear();
}

namespace {

// The job's switches of the command line over what the settings files said; a value refused
// goes to `problems`.
void applySwitches(const CommandLine& line, JobSettings& job, std::vector<std::string>& problems) {
  // A switch value is refused like a settings file's: whole, never cut.
  auto takeSwitch = [&](const char* name, const std::optional<std::string>& value,
                        const JobField& field) {
    if (!value) return;
    const std::string named = std::string(field.name) + " of " + name;
    if (auto refusal = refusalOf(*value, field.limit, named.c_str())) {
      problems.push_back(std::move(*refusal));
    } else {
      job.*field.text = *value;
    }
  };
  if (line.noAutoOpen) job.noAutoOpen = true;
  takeSwitch("-openwith=", line.openWith, fieldOf(SettingKey::LaunchApplication));
  // The application is split into words as a shell would: an unclosed quote would start
  // another program than the one written.
  if (line.openWith && !quotesClosed(*line.openWith)) {
    problems.push_back("-openwith=: a quote in the application is not closed");
  }
  takeSwitch("-outfile=", line.outFile, fieldOf(SettingKey::OutFileName));
  if (line.silent) job.silent = true;
  if (line.strict) job.strict = true;
  takeSwitch("-separator=", line.separator, fieldOf(SettingKey::Separator));
  if (line.decimalComma) job.decimalComma = true;
  takeSwitch("-encoding=", line.encoding, fieldOf(SettingKey::Encoding));
  takeSwitch("-timezone=", line.timeZone, fieldOf(SettingKey::TimeZone));
  if (line.manifest) {
    job.manifest = true;
    job.manifestValues = *line.manifest == "values";
    if (!line.manifest->empty() && !job.manifestValues) {
      problems.push_back("-manifest=" + *line.manifest +
                         ": the manifest takes no value but \"values\"");
    }
  }
}

// The switches that give the run's values (the timeout, the parameters), and the arguments
// that the command line refused, after the credentials from outside.
void applyValueSwitches(const CommandLine& line, JobSettings& job,
                        std::vector<std::string>& problems) {
  if (line.timeout) {
    std::optional<int> seconds = parseTimeoutSeconds(*line.timeout);
    if (seconds) job.timeoutSeconds = *seconds;
    if (!seconds)
      problems.push_back("-timeout=" + *line.timeout + ": " + timeoutRefusal(*line.timeout));
  }
  for (const std::string& parameter : line.parameters) {
    if (auto refusal = applyParameter(job, parameter)) {
      // The value is not repeated: it may be one that should not show in a log.
      problems.push_back("-param=" + parameter.substr(0, parameter.find('=')) + ": " + *refusal);
    }
  }
  for (const std::string& argument : line.refused)
    problems.push_back(refusedArgumentLine(argument));
  for (const std::string& name : line.emptyValues) problems.push_back(emptyValueLine(name));
}

}  // namespace

std::vector<std::string> jobFromCommandLine(
    const CommandLine& line, JobSettings& job, const OutsideCredentials& outside,
    const std::function<void(const SettingsLoadResult&)>& shown) {
  std::vector<std::string> problems;
  for (const std::string& file : line.settingsFiles) {
    job.settingsFile = file;
    SettingsLoadResult loaded = loadSettings(job, file);
    if (loaded.opened && shown) shown(loaded);
    if (loaded.holdsNoSettings) {
      problems.push_back(file + " holds no rowpress settings");
    } else if (!loaded.opened) {
      problems.push_back(file + ": " + loaded.error);
    }
    for (auto& problem : loaded.problems) problems.push_back(file + ": " + problem);
  }
  applySwitches(line, job, problems);
  applyOutsideCredentials(outside, job, problems);
  applyValueSwitches(line, job, problems);
  // Said once the files and switches have made the job, which the run checks again.
  if (auto problem = delimitedOptionsProblem(job); problem && problems.empty()) {
    problems.push_back(std::move(*problem));
  }
  if (auto problem = timeZoneProblem(job); problem && problems.empty()) {
    problems.push_back(std::move(*problem));
  }
  return problems;
}

std::vector<std::string> applyCommandLine(const CommandLine& line, JobSettings& job, View& view,
                                          const OutsideCredentials& outside) {
  // The files and switches make the job first; the controls then show it once. Loading a file
  // empties the data source list and lists the data sources it named, so the list shows
  // those of the last file that was read.
  bool loadedAny = false;
  std::vector<std::string> dataSources;
  std::vector<std::string> problems =
      jobFromCommandLine(line, job, outside, [&](const SettingsLoadResult& loaded) {
        loadedAny = true;
        dataSources.clear();
        for (const AppliedSetting& setting : loaded.shown) {
          if (setting.key == SettingKey::Database) dataSources.push_back(setting.text);
        }
      });
  if (loadedAny) {
    view.clearList(ControlId::DataSourceList);
    for (const std::string& name : dataSources) {
      view.appendLine(ControlId::DataSourceList, name);
      view.selectLine(ControlId::DataSourceList, name);
    }
  }
  showJob(job, view);
  return problems;
}

int refuseUnreadableJob(const std::vector<std::string>& problems, std::ostream& err) {
  for (const std::string& problem : problems) {
    err << "rowpress: " << escapeControls(problem) << '\n';
  }
  err << "rowpress: the job could not be read; nothing was run\n";
  err.flush();
  return exitStatusOf(RunOutcome::JobUnreadable);
}

std::string summaryLine(const RunResult& result, const ExportResult& exported, int signal,
                        std::chrono::duration<double> elapsed) {
  const std::string seconds = secondsText(elapsed) + " s";
  std::string what;
  switch (result.outcome) {
    case RunOutcome::Exported:
    case RunOutcome::Limit:
    case RunOutcome::PathNotShown:
      if (exported.kept) {
        const std::string sheets =
            exported.sheets > 0 ? std::to_string(exported.sheets) + " sheets, " : "";
        return "rowpress: " + sheets + std::to_string(exported.rows) + " rows to " +
               escapeControls(exported.path) + " in " + seconds +
               (result.outcome == RunOutcome::Limit ? " (stopped at a workbook limit)" : "");
      }
      what = "the result is too large for a workbook";
      break;
    case RunOutcome::NoRows:
      return "rowpress: 0 rows in " + seconds;
    case RunOutcome::NoConnection:
      what = "could not connect";
      break;
    case RunOutcome::StatementFailed:
      what = "the statement failed";
      break;
    case RunOutcome::OutputFile:
      what = "the output file could not be written";
      break;
    case RunOutcome::JobUnreadable:
      what = "the job could not be read";
      break;
    case RunOutcome::Changed:
      what = "a value would have been changed to fit the output";
      break;
    case RunOutcome::Stopped:
      what = "stopped by signal " + std::to_string(signal);
      break;
  }
  return "rowpress: " + what + " after " + seconds;
}

namespace {

// What an unattended run reports: nobody sees a status list, so its lines go nowhere (the
// lines of a failure are logged from the result); the progress line on a terminal is redrawn
// when the run reports its progress; a message box is a line on standard error,
// "CAPTION: TEXT", on a line of its own after the progress line.
class StandardErrorReport : public RunReport {
 public:
  StandardErrorReport(std::ostream& err, std::optional<ProgressLine>& progress)
      : err_(err), progress_(progress) {}
  void statusLine(std::string_view) override {}
  void rowsDone(long long) override {}
  // A few times a second while rows arrive, from the run's own loop: the progress line.
  void progress(long long rows) override {
    if (progress_) progress_->draw(rows);
  }
  void sheetStarted(std::string_view name) override {
    if (progress_) progress_->setSheet(name);
  }
  void message(const ExportMessage& message) override {
    if (progress_) progress_->erase();
    // The line keeps its one line: the reason is logged on a line of its own.
    std::string_view shown = message.text;
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == ' ')) shown.remove_suffix(1);
    err_ << escapeControls(message.caption) << ": " << escapeControls(shown) << '\n';
    err_.flush();
  }

 private:
  std::ostream& err_;
  std::optional<ProgressLine>& progress_;
};

// Nobody sees the status list: what it says about a failure goes to the log. Lines that hold
// paths or the driver's words are shown escaped, as the status list shows them.
void logLine(std::ostream& err, const std::string& line) {
  const std::string shown = escapeControls(line);
  err << "rowpress: " << shown << (shown.ends_with('\n') ? "" : "\n");
}

// The lines of the status list that say why a run failed, and those that say what else went
// wrong beside its file.
void logFailure(std::ostream& err, const RunResult& result) {
  const ExportResult& summary = result.export_;
  if (result.outcome == RunOutcome::JobUnreadable && !result.failureLine.empty()) {
    logLine(err, result.failureLine);
  }
  if (result.outcome == RunOutcome::NoConnection) {
    if (!result.failureLine.empty()) logLine(err, result.failureLine);
    if (!result.connectDiagnostic.empty()) logLine(err, result.connectDiagnostic);
  }
  if (result.outcome == RunOutcome::OutputFile) {
    // The message names the file; this line also says why.
    const std::string& why =
        result.failureLine.empty() ? summary.outputFailure : result.failureLine;
    if (!why.empty()) logLine(err, why);
  }
  for (const std::string* line :
       {&summary.typeReportSkipped, &summary.outputNameIgnored, &summary.viewerFailure}) {
    if (!line->empty()) logLine(err, *line);
  }
}

// The paths of the kept files on standard output, or the line that says that no file was
// written; false when standard output could not take the paths.
bool showPaths(std::ostream& out, std::ostream& err, const RunResult& result, const RunLog& log) {
  const ExportResult& summary = result.export_;
  // A path only for a file that is there: a run refused at a limit before writing keeps none.
  // The path line is the path's own bytes, for the script that reads it.
  if ((result.outcome == RunOutcome::Exported || result.outcome == RunOutcome::Limit) &&
      summary.kept) {
    std::string why = "it was closed";
    if (!log.outputClosed) {
      errno = 0;
      // Every file a report published, in sheet order.
      for (const std::string& path : summary.paths) out << path << '\n';
      out.flush();
      if (!out) why = errno != 0 ? std::strerror(errno) : "write error";
    }
    const bool shown = !log.outputClosed && out;
    if (!shown) {
      // The file stays; the log says where it is.
      logLine(err, "standard output could not take the path (" + why +
                       "); the file was written: " + summary.path);
    }
    return shown;
  }
  if (result.outcome == RunOutcome::NoRows && !summary.noResultSet.empty()) {
    err << "rowpress: " << summary.noResultSet << "; no file was written\n";
  } else if (result.outcome == RunOutcome::NoRows) {
    err << "rowpress: the query returned no rows; no file was written\n";
  }
  return true;
}

}  // namespace

int runUnattended(JobSettings job, StopRequest& stop, std::ostream& out, std::ostream& err,
                  const RunLog& log, Launcher& launcher) {
  const auto start = std::chrono::steady_clock::now();
  // The file is written as named, as the script that runs the job expects; the log says that
  // its extension names another type.
  const OutputType type = outputTypeOf(job);
  if (auto line = otherTypeNamed(job.outFileName, type);
      line && !log.quiet && !needsDefaultName(job, type)) {
    logLine(err, *line);
  }
  RunResult result;
  {
    std::optional<ProgressLine> progress;
    if (!log.quiet && log.progressTerminal >= 0) {
      progress.emplace(log.progressTerminal);
    }
    StandardErrorReport report(err, progress);
    result = runJob(std::move(job), report, launcher, stop);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const ExportResult& summary = result.export_;
  if (result.outcome == RunOutcome::NoConnection && stop.timedOutAfter() > 0 &&
      !stop.claimReport()) {
    // The connect ended as the timeout gave up on it: the timeout's handler says so and ends
    // the process; nothing more is said here.
    return exitStatusOf(RunOutcome::NoConnection);
  }
  logFailure(err, result);
  const bool pathShown = showPaths(out, err, result, log);
  if (result.outcome == RunOutcome::StatementFailed && stop.timedOutAfter() > 0) {
    // Said once: the timeout's handler may have said it, with the summary, as it ended the
    // process.
    if (!stop.claimReport()) {
      err.flush();
      return exitStatusOf(RunOutcome::StatementFailed);
    }
    err << statementTimedOutLine(stop.timedOutAfter());
  }
  out.flush();
  if (result.outcome == RunOutcome::Stopped) {
    // The run ended by itself after the request. Whichever of the run and the stop's grace
    // timer comes first says so, with the summary, and ends the process: the timer's handler
    // never returns once it has said it, so the summary is never cut off nor said twice.
    if (!stop.claimReport()) {
      err.flush();
      return exitStatusOf(RunOutcome::Stopped, stop.signal());
    }
    err << stopLogLine(stop.signal());
  }
  if (!log.quiet) err << summaryLine(result, summary, stop.signal(), elapsed) << '\n';
  // What the file holds differently from the data source is said even with -quiet: it is
  // about the data, not the run.
  if (summary.kept) {
    for (const std::string& line : noteLines(summary.accounts)) logLine(err, line);
    for (const std::string& line : summary.notes) logLine(err, line);
  }
  err.flush();
  if (result.outcome != RunOutcome::Stopped && !pathShown) {
    return exitStatusOf(RunOutcome::PathNotShown);
  }
  return exitStatusOf(result.outcome, stop.signal());
}

}  // namespace rowpress
