// The export run: executes the job's statement, describes its columns, streams every row
// into the writer of the job's output type, enforces the workbook limits, keeps, discards or
// launches the file, and returns what happened.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/odbc_session.h"
#include "db/result_cursor.h"
#include "export/export_report.h"
#include "export/output_writer.h"
#include "export/viewer.h"
#include "job/job_settings.h"

namespace rowpress {

class OutputTarget;
class StopRequest;

inline constexpr int kColumnTableSize = 256;      // columns a run can hold
inline constexpr int kWorkbookColumnLimit = 255;  // cells a workbook data row may hold
inline constexpr long long kWorkbookRowLimit = 65534;
inline constexpr long long kWorkbook2007RowLimit = 1048576;
inline constexpr std::size_t kStatusLineLimit = 65535;

// The writer of an output type, writing with the job's `options` where the type has any.
std::unique_ptr<OutputWriter> makeWriter(OutputType type, const WriterOptions& options = {});
// What makes the writer of an output type (tests record the cells instead).
using WriterMaker = std::unique_ptr<OutputWriter> (*)(OutputType type,
                                                      const WriterOptions& options);
// The writer options that `job` chooses.
WriterOptions writerOptionsOf(const JobSettings& job);

// A message box for the user: its text and caption.
struct ExportMessage {
  std::string text;
  std::string caption;
  std::string reason;  // why it failed, when the text does not say
};

// What an export run did.
struct ExportResult {
  RunOutcome outcome = RunOutcome::Exported;
  std::string path;    // the output path the run chose; empty when none could be made
  long long rows = 0;  // data rows written
  bool kept = false;   // a file was kept at the path
  // Why the output file could not be created or written, as the status list says it.
  std::string outputFailure;
  // Why the column type report was not written (there is no default directory, or the
  // report there could not be replaced), as the status list says it; empty otherwise.
  std::string typeReportSkipped;
  // For a statement without a result set (DROP, INSERT, UPDATE, DELETE): the line that says
  // so, with the rows it affected where the driver tells them; empty otherwise.
  std::string noResultSet;
  // "could not start VIEWER: REASON" when the viewer of a kept file could not be started, as
  // the status list says it; empty otherwise.
  std::string viewerFailure;
  // The message boxes to show, in order (a run shows one at most, rarely two).
  std::vector<ExportMessage> messages;
};

class ExportRun {
 public:
  // The finished file is handed to the viewer through `launcher`; the rows are written by
  // the writer that `writerFor` makes for the job's output type.
  // The run answers to `stop`: it checks it at every row, registers its executing statement
  // and its publication with it, and ends as it asks.
  ExportRun(const JobSettings& job, ExportReport& report, StopRequest& stop,
            Launcher& launcher = processLauncher(), WriterMaker writerFor = makeWriter)
      : job_(job), report_(report), stop_(stop), launcher_(launcher), writerFor_(writerFor) {}

  // One run on the session's statement with the working copy of the SQL text, executed as
  // written, through an OdbcResultCursor.
  ExportResult run(const OdbcSession& session, std::string& sql);
  // One run on `cursor`. Nothing is thrown: a run that runs out of memory or threads ends as
  // a file that could not be written, its temporary file removed.
  ExportResult run(ResultCursor& cursor, std::string& sql);

 private:
  // The steps of a run, in order. Each records what went wrong itself; a step that ends the
  // run returns its outcome.
  // Chooses the path and opens the output file; false when it cannot be created.
  bool openOutput(OutputType type, OutputTarget& target);
  // Executes the statement and reads its column count.
  std::optional<RunOutcome> execute(ResultCursor& cursor, std::string& sql);
  // Describes every column: the header row, the type report and the column line.
  void describeColumns(ResultCursor& cursor, OutputWriter& writer);
  // Fetches every row into the writer; `stopped` when a workbook limit stopped it.
  std::optional<RunOutcome> streamRows(ResultCursor& cursor, OutputType type, OutputWriter& writer,
                                       OutputTarget& target, bool& stopped);
  // One fetched row's cells; false when the driver failed to deliver a value.
  bool writeRow(ResultCursor& cursor, bool workbook, OutputWriter& writer, bool showRow,
                bool& stopped);
  // Finishes the file and keeps, discards or launches it.
  RunOutcome finish(OutputType type, OutputWriter& writer, OutputTarget& target, bool stopped);

  // The steps in order; returns the outcome.
  RunOutcome runSteps(ResultCursor& cursor, std::string& sql);
  RunOutcome statementFailed(ResultCursor& cursor, const char* caption);
  // The output file at `shown` could not be created, for `reason`.
  RunOutcome outputNotCreated(const std::string& shown, const std::string& reason);
  // The output file could not be written, for `reason`.
  RunOutcome outputNotWritten(const std::string& reason);
  void message(std::string text, std::string caption, std::string reason = {});
  // The run was asked to stop: its temporary file goes, an existing file stays.
  RunOutcome stoppedByRequest();
  void appendToStatusLine(std::string_view value);
  const JobSettings& job_;
  ExportReport& report_;
  StopRequest& stop_;
  Launcher& launcher_;
  WriterMaker writerFor_;
  ExportResult result_;
  std::vector<ColumnInfo> columns_;
  std::string statusLine_;
  int columnCount_ = 0;
};

}  // namespace rowpress
