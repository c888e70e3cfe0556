#include "run/run_job.h"

#include <ctime>
#include <optional>
#include <utility>

#include "db/odbc_session.h"
#include "export/output_naming.h"
#include "export/stop_request.h"

namespace rowpress {

RunResult runJob(JobSettings job, RunReport& report, Launcher& launcher, StopRequest& stop) {
  // A report's texts are shown sheet by sheet as the export reaches them.
  if (job.sheets.empty()) report.statusLine(job.sql);

  RunResult result;
  // The output name's placeholders take the date and time once, as the run starts; the limit
  // of the name applies to what they make.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  ExpandedName named = expandOutputName(job.outFileName, job.parameters, local);
  if (named.refusal) {
    report.statusLine(*named.refusal);
    result.outcome = RunOutcome::JobUnreadable;
    result.failureLine = std::move(*named.refusal);
    return result;
  }
  job.outFileName = std::move(named.name);
  if (auto problem = findLimitProblem(job)) {
    report.statusLine(problem->message);
    result.outcome = problem->outcome;
    result.failureLine = problem->message;
    return result;
  }

  // A run that would write to a default name cannot start without a default directory, and
  // the output and the type report never replace a file that the job was read from: both end
  // the run before connecting.
  const OutputType type = outputTypeOf(job);
  std::optional<std::string> refused;
  if (needsDefaultName(job, type) && defaultDirectory().empty()) {
    refused = noDefaultDirectoryReason() + "; name the output file.";
  } else {
    refused = jobFileInTheWay(job, type);
  }
  if (refused) {
    result.failureLine = std::move(*refused);
    report.statusLine(result.failureLine);
    result.outcome = RunOutcome::OutputFile;
    return result;
  }

  SessionFailure failure;
  std::optional<OdbcSession> session;
  {
    WaitingFor connecting(stop, StopRequest::Wait::Connect);
    session = OpenSession(job, kFetchSessionMessages, &failure);
  }
  if (!session) {
    if (!failure.line.empty()) report.statusLine(failure.line);
    // Why: the driver's diagnostic line, as the unattended run logs it.
    if (!failure.connectDiagnostic.empty()) report.statusLine(failure.connectDiagnostic);
    result.outcome = RunOutcome::NoConnection;
    result.failureLine = std::move(failure.line);
    result.connectDiagnostic = std::move(failure.connectDiagnostic);
    return result;
  }
  // The export works on copies of the texts; the job keeps its own.
  std::vector<RunStatement> statements;
  for (const JobSheet& sheet : sheetsOf(job)) {
    RunStatement& statement = statements.emplace_back();
    statement.sheet = sheet.name;
    statement.shown = sheet.sql;
    statement.sql = sheet.sql;
  }
  ExportRun run(job, report, stop, launcher);
  result.export_ = run.run(*session, statements);
  result.outcome = result.export_.outcome;
  result.exported = true;
  CloseSession(*session);
  for (const ExportMessage& message : result.export_.messages) report.message(message);
  return result;
}

}  // namespace rowpress
