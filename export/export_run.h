// The export run: executes the job's statement, describes its columns, streams every row
// into the writer of the job's output type, enforces the workbook limits, keeps or discards
// the file, and returns what happened. The run of a job (run/run_job.h) opens a kept file.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/odbc_session.h"
#include "db/result_cursor.h"
#include "export/column_type_report.h"
#include "export/export_report.h"
#include "export/output_target.h"
#include "export/output_writer.h"
#include "export/value_account.h"
#include "job/job_settings.h"

namespace rowpress {

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

// One statement of a run: the sheet it fills and the text that goes to the driver, with the
// values bound to its parameter markers.
struct RunStatement {
  std::string sheet;  // the sheet of a report job; empty for the job's one statement
  std::string shown;  // the text as the job holds it, markers and all, for the status list
  std::string sql;    // the text sent: each marker replaced by '?'
  std::vector<std::string> values;  // bound to the '?' of the markers, in order
};

// What an export run did.
struct ExportResult {
  RunOutcome outcome = RunOutcome::Exported;
  std::string path;    // the output path the run chose (a report's first); empty when none
  long long rows = 0;  // data rows written, of every sheet
  bool kept = false;   // the files were kept at their paths
  // Every path the run chose, in sheet order: one, or a file per sheet of a CSV or TSV report.
  std::vector<std::string> paths;
  int sheets = 0;  // the sheets of a report job that were written; 0 for a job of one statement
  // Why the output file could not be created or written, as the status list says it.
  std::string outputFailure;
  // Why the column type report was not written (there is no default directory, or the
  // report there could not be replaced), as the status list says it; empty otherwise.
  std::string typeReportSkipped;
  // For a statement without a result set (DROP, INSERT, UPDATE, DELETE): the line that says
  // so, with the rows it affected where the driver tells them; empty otherwise.
  std::string noResultSet;
  // "could not start VIEWER: REASON" when the run of the job could not start the viewer of
  // the kept file, as the status list says it; empty otherwise.
  std::string viewerFailure;
  // The message boxes to show, in order (a run shows one at most, rarely two).
  std::vector<ExportMessage> messages;
  // Each statement that gave columns, in order: its columns, rows and the values changed to
  // fit the output.
  std::vector<SheetAccount> accounts;
  // Lines about the data that the account's lines do not say ("note: ..."), for the status
  // list and the unattended run's log after them, when the files were kept.
  std::vector<std::string> notes;
  // The manifest kept beside the output (-manifest); empty when none.
  std::string manifestPath;
  // "the 2007 format ignores the output name: written to PATH" when a 2007 workbook was kept
  // under its default name although the job names an output file; empty otherwise.
  std::string outputNameIgnored;
};

class ExportRun {
 public:
  // The rows are written by the writer that `writerFor` makes for the job's output type.
  // The run answers to `stop`: it checks it at every row, registers its executing statement
  // and its publication with it, and ends as it asks.
  ExportRun(const JobSettings& job, ExportReport& report, StopRequest& stop,
            WriterMaker writerFor = makeWriter)
      : job_(job), report_(report), stop_(stop), writerFor_(writerFor) {}

  // One run on the session's statement through its result cursor: its statements one after
  // the other (a report job's sheets; else one).
  ExportResult run(const OdbcSession& session, const std::vector<RunStatement>& statements);
  // One run on `cursor`. Nothing is thrown: a run that runs out of memory or threads ends as
  // a file that could not be written, its temporary files removed. A report's statements all
  // write, or nothing is published: a failure in any sheet keeps every earlier file.
  ExportResult run(ResultCursor& cursor, const std::vector<RunStatement>& statements);
  // A run of one statement, its text executed as written.
  ExportResult run(ResultCursor& cursor, const std::string& sql);
  ExportResult run(const OdbcSession& session, const std::string& sql);

 private:
  // An output file and the writer that writes it.
  struct Output {
    OutputTarget target;
    std::unique_ptr<OutputWriter> writer;
  };

  // The steps of a run, in order. Each records what went wrong itself; a step that ends the
  // run returns its outcome.
  // Chooses the paths and opens the output files; false when one cannot be created.
  bool openOutputs(OutputType type);
  // Executes the statement and reads its column count.
  std::optional<RunOutcome> execute(ResultCursor& cursor, const RunStatement& statement);
  // Describes every column: the header row, the type report (closed after the `last`
  // statement's columns) and the column line.
  void describeColumns(ResultRows& rows, OutputWriter& writer, const std::string& sheet, bool last);
  // Fetches every row into the writer; `stopped` when a workbook limit stopped it.
  std::optional<RunOutcome> streamRows(ResultCursor& cursor, OutputType type, Output& output,
                                       bool& stopped);
  // One fetched row's cells; false when the driver failed to deliver a value, or in strict
  // mode at a value that the output would change (`refused_` then says which).
  bool writeRow(ResultRows& rows, bool workbook, OutputWriter& writer, bool showRow, bool& stopped);
  // The strict run refuses the change that `refused_` names: nothing is published.
  RunOutcome refuseChange(const std::string& sheet);
  // Finishes the files and keeps, discards or launches them.
  RunOutcome finish(OutputType type, bool stopped);
  // Closes the column type report once the last statement's columns are in it.
  void typeReportDone();
  // Renames the files of a report over their targets in sheet order, once all are written to
  // disk, and the manifest right after them.
  RunOutcome keepAll();
  // Opens the manifest's temporary file beside the output, under the name `reserved` for a
  // default name; false when it cannot be created.
  bool openManifest(OutputType type, OutputPath reserved);
  // Writes the manifest of the finished files and brings it to disk; false when that failed.
  bool readyManifest();
  // Two of the run's files (outputs, manifest, type report) that are one file as they are
  // now, found through the outputs' directory descriptors: a link or a hard link made since
  // the names were chosen would have one file take what was written for the other.
  std::optional<SameFile> sameFileOfRun() const;

  // The steps in order; returns the outcome.
  RunOutcome runSteps(ResultCursor& cursor, const std::vector<RunStatement>& statements);
  // A report's sheets named to each writer before the first starts.
  void planSheets(const std::vector<RunStatement>& statements);
  // A report's sheet starts: its name and SQL in the status list, a sheet of the file.
  void beginSheet(const RunStatement& statement, OutputWriter& writer);
  // Whether a strict run refuses the header just described: a column name cut to fit, or a
  // change that the header's cells recorded (refused_ says which).
  bool headerChanged();
  RunOutcome statementFailed(ResultCursor& cursor, const char* caption);
  // The output file at `shown` could not be created, for `reason`.
  RunOutcome outputNotCreated(const std::string& shown, const std::string& reason);
  // The output file at `path` could not be written, for `reason`.
  RunOutcome outputNotWritten(const std::string& reason, const std::string& path);
  RunOutcome outputNotWritten(const std::string& reason) {
    return outputNotWritten(reason, result_.path);
  }
  void discardAll();
  // Whether a column of the sheets is a timestamp with a time zone.
  static bool zonedColumns(const std::vector<SheetAccount>& sheets);
  void message(std::string text, std::string caption, std::string reason = {});
  // The run was asked to stop: its temporary file goes, an existing file stays.
  RunOutcome stoppedByRequest();
  void appendToStatusLine(std::string_view value);
  const JobSettings& job_;
  ExportReport& report_;
  StopRequest& stop_;
  WriterMaker writerFor_;
  ExportResult result_;
  std::vector<std::unique_ptr<Output>> outputs_;
  std::unique_ptr<OutputTarget> manifest_;  // with -manifest, from the outputs' opening
  std::string manifestPath_;
  bool manifestReserved_ = false;  // the manifest's name is a default name reserved by the run
  std::chrono::system_clock::time_point started_;
  std::optional<ColumnTypeReport> typeReport_;  // open from the first columns to the last
  bool reportJob_ = false;                      // the statements fill the sheets of a report
  long long sheetRows_ = 0;                     // data rows of the current sheet
  int widestColumns_ = 0;                       // of a report's sheets so far
  std::vector<ColumnInfo> columns_;
  // The session's time zone as the database reported it; empty when the job set none.
  std::string timeZone_;
  std::string statusLine_;
  int columnCount_ = 0;
  // The output tells a binary column's NULL from its values.
  bool binaryNulls_ = false;
  ValueAccount account_;  // of the current statement
  // The output takes a value longer than a part whole, in parts (standard CSV and TSV).
  bool inParts_ = false;
  // A value read only up to the cursor's limit counts as cut (the .xlsx counts it too large).
  bool cutCounts_ = true;
  // The first change that a strict run refused: its column (from 1) and rule; column 0: none.
  struct Refused {
    int column = 0;
    ValueRule rule = ValueRule::Cut;
  } refused_;
};

}  // namespace rowpress
