// The run of a job: the job is complete before the run starts and is handed to it by value;
// the run checks it, connects, runs the export and reports what it does through a RunReport.
// It knows no window and no view: the window and the unattended run each give it their own
// report and show the result it returns.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/sql_markers.h"
#include "export/export_report.h"
#include "export/export_run.h"
#include "export/stop_request.h"
#include "job/job_settings.h"
#include "run/viewer.h"

namespace rowpress {

// What a run tells whoever started it: the status lines and row counts of the export, and
// the message boxes for the user, in the order the run gives them.
class RunReport : public ExportReport {
 public:
  virtual void message(const ExportMessage& message) = 0;
};

struct RunResult {
  RunOutcome outcome = RunOutcome::NoConnection;
  // When the run ended before the export: the line it added to the status list after the SQL
  // text (a refused value, or the session step that failed), if any. A failed connect adds its
  // diagnostic line below it.
  std::string failureLine;
  // When the connect failed: the connection's diagnostic line.
  std::string connectDiagnostic;
  // Whether the export ran (the session opened); `export_` is then what it did.
  bool exported = false;
  ExportResult export_;
};

// The statements that a run of `job` executes, the markers of each found by the rules of
// `dialect` and bound to the job's parameter values. The line that refuses the job otherwise:
// a statement holding markers beside a bare "?", a marker without a value, or a value for a
// name that no statement has.
std::optional<std::string> boundStatements(const JobSettings& job, SqlDialect dialect,
                                           std::vector<RunStatement>& statements);

// Runs `job`: the SQL text as the first status line, the limits of the record, the default
// directory and the files that the output may not replace, then a session with the job's data
// source and credentials, the export on it, its messages, and the session released. Nothing is
// asked of anyone while it runs; the viewer of a kept file is started through `launcher`; the
// run answers to `stop` (a signal, a timeout, the window's Cancel).
RunResult runJob(JobSettings job, RunReport& report, Launcher& launcher, StopRequest& stop);

}  // namespace rowpress
