#include "run/run_job.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>

#include "db/connection_string.h"
#include "db/odbc_session.h"
#include "db/sql_markers.h"
#include "export/delimited_writer.h"
#include "export/output_naming.h"
#include "export/stop_request.h"
#include "export/value_account.h"
#include "job/job_fields.h"

namespace rowpress {

std::optional<std::string> boundStatements(const JobSettings& job, SqlDialect dialect,
                                           std::vector<RunStatement>& statements) {
  std::vector<bool> used(job.parameters.size(), false);
  for (const JobSheet& sheet : sheetsOf(job)) {
    const std::string where =
        sheet.name.empty() ? "The SQL text" : "The SQL of sheet \"" + sheet.name + "\"";
    MarkedStatement marked = findMarkers(sheet.sql, dialect);
    if (marked.mixesQuestionMarks()) {
      return where + " holds both :name markers and a bare \"?\"; use markers alone.";
    }
    RunStatement& statement = statements.emplace_back();
    statement.sheet = sheet.name;
    statement.shown = sheet.sql;
    statement.sql = std::move(marked.text);
    for (const std::string& name : marked.names) {
      const auto given =
          std::find_if(job.parameters.begin(), job.parameters.end(),
                       [&](const JobParameter& parameter) { return parameter.name == name; });
      if (given == job.parameters.end()) {
        return where + " has the marker :" + name +
               ", which no Param key or -param= switch gives a value.";
      }
      used[static_cast<std::size_t>(given - job.parameters.begin())] = true;
      statement.values.push_back(given->value);
    }
  }
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!used[i]) {
      return "The parameter " + job.parameters[i].name +
             " has a value but no statement of the job has the marker :" + job.parameters[i].name +
             ".";
    }
  }
  return std::nullopt;
}

namespace {

// A run that ends before connecting: `line` in the status list, and the outcome.
RunResult refusedRun(RunReport& report, RunOutcome outcome, std::string line) {
  report.statusLine(line);
  RunResult result;
  result.outcome = outcome;
  result.failureLine = std::move(line);
  return result;
}

// The checks of a job before its run connects: the output name that its placeholders make (it
// replaces the job's), the limits of the record, the options of delimited output and the time
// zone, the default directory and the files that the run may not replace. The run that ends
// there; nothing when the job may connect.
std::optional<RunResult> refusedBeforeConnecting(JobSettings& job, RunReport& report) {
  // The output name's placeholders take the date and time once, as the run starts; the limit
  // of the name applies to what they make.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  ExpandedName named = expandOutputName(job.outFileName, job.parameters, local);
  if (named.refusal) return refusedRun(report, RunOutcome::JobUnreadable, *named.refusal);
  // A name that its placeholders made too long is not a name the job can give.
  const JobField& outFile = fieldOf(SettingKey::OutFileName);
  if (named.name != job.outFileName) {
    if (auto refusal = refusalOf(named.name, outFile.limit, outFile.name)) {
      return refusedRun(report, RunOutcome::JobUnreadable, *refusal);
    }
  }
  job.outFileName = std::move(named.name);
  if (auto problem = findLimitProblem(job)) {
    return refusedRun(report, problem->outcome, problem->message);
  }
  for (const std::optional<std::string>& problem :
       {delimitedOptionsProblem(job), timeZoneProblem(job)}) {
    if (problem) return refusedRun(report, RunOutcome::JobUnreadable, *problem);
  }
  // A run that would write to a default name cannot start without a default directory, the
  // output and the type report never replace a file that the job was read from, and no two
  // files of the run are one file: each ends the run before connecting.
  const OutputType type = outputTypeOf(job);
  std::optional<std::string> refused;
  if (needsDefaultName(job, type) && defaultDirectory().empty()) {
    refused = noDefaultDirectoryReason() + "; name the output file.";
  } else {
    refused = runFilesInTheWay(job, type);
  }
  if (refused) return refusedRun(report, RunOutcome::OutputFile, *refused);
  return std::nullopt;
}

}  // namespace

RunResult runJob(JobSettings job, RunReport& report, Launcher& launcher, StopRequest& stop) {
  // A report's texts are shown sheet by sheet as the export reaches them.
  if (job.sheets.empty()) report.statusLine(job.sql);
  if (std::optional<RunResult> refused = refusedBeforeConnecting(job, report)) return *refused;

  RunResult result;
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
  // The markers are found by the rules of the database the driver names; a job whose markers
  // and values do not fit is refused before anything is executed.
  std::vector<RunStatement> statements;
  if (std::optional<std::string> refusal =
          boundStatements(job, dialectOfDbms(session->dbmsName()), statements)) {
    CloseSession(*session);
    return refusedRun(report, RunOutcome::JobUnreadable, std::move(*refusal));
  }
  ExportRun run(job, report, stop);
  result.export_ = run.run(*session, statements);
  // The viewer opens the first file of an export that ended as asked; a run asked to stop
  // opens nothing more. One that could not start leaves the export as it is.
  if (result.export_.outcome == RunOutcome::Exported && result.export_.kept && !stop.requested()) {
    result.export_.viewerFailure =
        launchViewer(job, outputTypeOf(job), result.export_.path, launcher);
    if (!result.export_.viewerFailure.empty()) report.statusLine(result.export_.viewerFailure);
  }
  result.outcome = result.export_.outcome;
  result.exported = true;
  if (session->timeZoneUnused()) {
    result.export_.notes.push_back("note: " + session->dbmsName() +
                                   " has no time zone of a session; the time zone \"" +
                                   job.timeZone + "\" was not used");
  }
  CloseSession(*session);
  // The values the kept files hold changed to fit them, a line for each column and rule; then
  // what else the files' data needs said.
  if (result.export_.kept) {
    for (const std::string& line : noteLines(result.export_.accounts)) report.statusLine(line);
    for (const std::string& line : result.export_.notes) report.statusLine(line);
  }
  for (const ExportMessage& message : result.export_.messages) report.message(message);
  return result;
}

}  // namespace rowpress
