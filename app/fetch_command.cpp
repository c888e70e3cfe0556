#include "app/fetch_command.h"

#include <utility>

#include "app/status_list.h"
#include "export/output_naming.h"
#include "export/stop_request.h"

namespace rowpress {

FetchResult runFetch(JobSettings& job, View& view, const ExportStep& exportStep) {
  BusyCursor busy(view);
  ClearStatusLines(view);
  job.sql = view.text(ControlId::SqlBox);
  AddStatusLine(view, job.sql);

  FetchResult result;
  if (auto problem = findLimitProblem(job)) {
    AddStatusLine(view, problem->message);
    result.outcome = problem->outcome;
    result.failureLine = problem->message;
    return result;
  }

  // A run that would write to a default name cannot start without a default directory; it
  // ends before connecting. (The 2007 box decides, as in the export run, which sets the job's
  // flag from it too: the job is not copied, it holds the password.)
  const bool excel2007 = std::exchange(job.excel2007, view.isChecked(ControlId::Excel2007));
  const OutputType type = outputTypeOf(job);
  std::optional<std::string> refused;
  if (needsDefaultName(job, type) && defaultDirectory().empty()) {
    refused = noDefaultDirectoryReason() + "; name the output file.";
  } else {
    // The output and the type report never replace a file that the job was read from.
    refused = jobFileInTheWay(job, type);
  }
  job.excel2007 = excel2007;
  if (refused) {
    result.failureLine = std::move(*refused);
    AddStatusLine(view, result.failureLine);
    result.outcome = RunOutcome::OutputFile;
    return result;
  }

  // The export works on a copy of the text; the SQL box and the job keep theirs.
  std::string working = job.sql;
  SessionFailure failure;
  std::optional<OdbcSession> session;
  {
    WaitingFor connecting(StopRequest::Wait::Connect);
    session = OpenSession(job, kFetchSessionMessages, &failure);
  }
  if (!session) {
    if (!failure.line.empty()) AddStatusLine(view, failure.line);
    // Why: the driver's diagnostic line, as the unattended run logs it.
    if (!failure.connectDiagnostic.empty()) AddStatusLine(view, failure.connectDiagnostic);
    result.outcome = RunOutcome::NoConnection;
    result.failureLine = std::move(failure.line);
    result.connectDiagnostic = std::move(failure.connectDiagnostic);
    return result;
  }
  result.outcome = exportStep(*session, working);
  result.exported = true;
  CloseSession(*session);
  return result;
}

}  // namespace rowpress
