// The fetch command: the job run behind "Fetch ODBC Data into XLS" and the unattended run.
#pragma once

#include <functional>
#include <string>

#include "app/view.h"
#include "db/odbc_session.h"
#include "job/job_settings.h"

namespace rowpress {

struct FetchResult {
  RunOutcome outcome = RunOutcome::NoConnection;
  // When the fetch ended before the export: the line it added to the status list after the
  // SQL text (a refused value, or the session step that failed), if any. A failed connect
  // adds its diagnostic line below it.
  std::string failureLine;
  // When the connect failed: the connection's diagnostic line.
  std::string connectDiagnostic;
  // Whether the export ran (the session opened); its result is the dialog's last export.
  bool exported = false;
};

// The export run, given the open session and the working copy of the SQL text.
using ExportStep = std::function<RunOutcome(const OdbcSession& session, std::string& sql)>;

// Clears the status list, shows the SQL box's text as its first line, takes it as the job's
// SQL, opens a session with the job's latched data source and credentials, runs the export
// and releases the session.
FetchResult runFetch(JobSettings& job, View& view, const ExportStep& exportStep);

}  // namespace rowpress
