#include "export/export_run.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>

#include "db/odbc_session.h"
#include "export/column_type_report.h"
#include "export/delimited_writer.h"
#include "export/html_writer.h"
#include "export/output_naming.h"
#include "export/output_target.h"
#include "export/spreadsheetml_writer.h"
#include "export/stop_request.h"
#include "export/viewer.h"
#include "export/xlsx_writer.h"
#include "files/pause_point.h"

namespace rowpress {

namespace {

constexpr char kBinaryValue[] = "<BINARY>";
constexpr long long kProgressEvery = 1024;
// How often the run reports its progress for a progress line, on the coarse clock.
constexpr std::int64_t kProgressLineEveryNs = 250'000'000;

}  // namespace

std::unique_ptr<OutputWriter> makeWriter(OutputType type, const WriterOptions& options) {
  switch (type) {
    case OutputType::Csv:
    case OutputType::Tsv:
      return std::make_unique<DelimitedWriter>(type, options);
    case OutputType::Html:
      return std::make_unique<HtmlWriter>();
    case OutputType::Xlsx:
      return std::make_unique<XlsxWriter>();
    case OutputType::Xml:
      break;
  }
  return std::make_unique<SpreadsheetMlWriter>();
}

WriterOptions writerOptionsOf(const JobSettings& job) {
  WriterOptions options;
  options.quoteFields = job.quoteFields;
  options.byteOrderMark = job.byteOrderMark;
  return options;
}

void ExportRun::appendToStatusLine(std::string_view value) {
  // The status line holds at most 64 KiB; what does not fit is cut on a character boundary.
  for (std::string_view piece : {value, std::string_view(" | ")}) {
    std::size_t room = kStatusLineLimit - statusLine_.size();
    statusLine_.append(piece.substr(0, cutOnCharacterBoundary(piece, room)));
  }
}

RunOutcome ExportRun::statementFailed(ResultCursor& cursor, const char* caption) {
  std::string diagnostic = cursor.diagnostic();
  report_.statusLine("SQL statement failed.");
  report_.statusLine(diagnostic);
  message(std::move(diagnostic), caption);
  return RunOutcome::StatementFailed;
}

void ExportRun::message(std::string text, std::string caption, std::string reason) {
  result_.messages.push_back(ExportMessage{std::move(text), std::move(caption), std::move(reason)});
}

RunOutcome ExportRun::stoppedByRequest() {
  // A run that waited too long failed like a statement that the server ended.
  if (const int seconds = stop_.timedOutAfter()) {
    report_.statusLine("SQL statement failed.");
    report_.statusLine(timedOutText(seconds));
    return RunOutcome::StatementFailed;
  }
  // The user's Cancel in the window: the window stays open and the earlier file is kept.
  if (stop_.cancelled()) {
    report_.statusLine("Cancelled after " + std::to_string(result_.rows) + " rows");
    return RunOutcome::Stopped;
  }
  report_.statusLine("Stopped after " + std::to_string(result_.rows) +
                     " rows; no output file was written.");
  return RunOutcome::Stopped;
}

ExportResult ExportRun::run(const OdbcSession& session, std::string& sql) {
  OdbcResultCursor cursor(session);
  return run(cursor, sql);
}

ExportResult ExportRun::run(ResultCursor& cursor, std::string& sql) {
  result_ = ExportResult{};
  if (std::atomic<long long>* count = report_.rowCount()) count->store(0);
  // A process limit (ulimit -v, a thread that cannot start) ends the run like a file that
  // could not be written: by the time the exception arrives here, the steps' files are gone.
  try {
    result_.outcome = runSteps(cursor, sql);
  } catch (const std::bad_alloc&) {
    result_.kept = false;
    result_.outcome = outputNotWritten(std::strerror(ENOMEM));
  } catch (const std::system_error& e) {
    result_.kept = false;
    result_.outcome = outputNotWritten(e.code().message());
  }
  return std::move(result_);
}

RunOutcome ExportRun::runSteps(ResultCursor& cursor, std::string& sql) {
  if (stop_.requested()) return stoppedByRequest();
  const OutputType type = outputTypeOf(job_);
  // The output file is created before anything is executed; without it nothing runs.
  OutputTarget target;
  if (!openOutput(type, target)) return RunOutcome::OutputFile;
  std::unique_ptr<OutputWriter> writer = writerFor_(type, writerOptionsOf(job_));
  writer->begin(target.file());
  // A writer that could not start its file (the workbook library's temporary files) fails
  // like a file that could not be created: before the statement runs.
  if (target.file().error() != 0) return outputNotCreated(result_.path, target.error());
  bool stopped = false;
  {
    // A timeout bounds executing the statement and each wait for a row, not the file's end.
    WaitingFor waiting(stop_, StopRequest::Wait::Statement);
    if (std::optional<RunOutcome> failed = execute(cursor, sql)) return *failed;
    describeColumns(cursor, *writer);
    if (std::optional<RunOutcome> failed = streamRows(cursor, type, *writer, target, stopped)) {
      return *failed;
    }
  }
  return finish(type, *writer, target, stopped);
}

bool ExportRun::openOutput(OutputType type, OutputTarget& target) {
  OutputPath output = prepareOutputPath(job_, type);
  result_.path = output.path;
  // The workbook library keeps its own temporary files in the run's work directory.
  if (!output.path.empty() &&
      target.open(output.path, std::move(output.reserved), type == OutputType::Xlsx)) {
    return true;
  }
  // Without a path (no unique name could be made) the default directory is what failed.
  const std::string shown = output.path.empty() ? defaultDirectory() : output.path;
  outputNotCreated(shown, output.path.empty() ? output.error : target.error());
  return false;
}

RunOutcome ExportRun::outputNotCreated(const std::string& shown, const std::string& reason) {
  result_.outputFailure = "unable to create: " + shown + " (" + reason + ")";
  report_.statusLine(result_.outputFailure);
  message("unable to create: " + shown + " ", "Unable to Open Output File", reason);
  return RunOutcome::OutputFile;
}

RunOutcome ExportRun::outputNotWritten(const std::string& reason) {
  result_.outputFailure = "unable to write: " + result_.path + " (" + reason + ")";
  report_.statusLine(result_.outputFailure);
  message(result_.outputFailure + " ", "Unable to Write Output File");
  return RunOutcome::OutputFile;
}

std::optional<RunOutcome> ExportRun::execute(ResultCursor& cursor, std::string& sql) {
  ResultCursor::Executed executed = ResultCursor::Executed::Failed;
  {
    // The text goes to the driver as written: a "--" comment ends at its line's end. A stop
    // request cancels the statement while it executes, where the driver allows it.
    ExecutingStatement executing(stop_, cursor);
    executed = cursor.execute(sql);
  }
  if (stop_.requested()) return stoppedByRequest();
  if (executed == ResultCursor::Executed::Failed) {
    return statementFailed(cursor, "SQL statement failed.");
  }
  // An UPDATE or DELETE that touched no row has no data: a statement without result
  // columns, like one that touched rows.
  columnCount_ = 0;
  if (executed == ResultCursor::Executed::Result) {
    const std::optional<int> count = cursor.columnCount();
    if (!count) return statementFailed(cursor, "Could not retrieve number of columns.");
    columnCount_ = *count;
  }
  if (columnCount_ == 0) {
    result_.noResultSet = "the statement returned no result set";
    if (const auto affected = cursor.affectedRows()) {
      result_.noResultSet += " (" + std::to_string(*affected) + " rows affected)";
    }
    report_.statusLine(result_.noResultSet);
  }
  if (columnCount_ > kColumnTableSize) {
    std::string text = "Column Count Greater than " + std::to_string(kColumnTableSize);
    report_.statusLine(text);
    message(text, "TOO BIG");
    return RunOutcome::Limit;
  }
  return std::nullopt;
}

void ExportRun::describeColumns(ResultCursor& cursor, OutputWriter& writer) {
  writer.beginHeaderRow();
  ColumnTypeReport report;
  // A statement without a result set has no columns to report: the last report stays.
  // Without a default directory the report has nowhere to go: never the working directory.
  const std::string directory = defaultDirectory();
  if (columnCount_ > 0 && !directory.empty()) {
    report.open(directory);
  } else if (columnCount_ > 0) {
    result_.typeReportSkipped =
        noDefaultDirectoryReason() + "; the column type report was not written.";
    report_.statusLine(result_.typeReportSkipped);
  }
  columns_ = cursor.describe(columnCount_);
  statusLine_.clear();
  statusLine_.reserve(kStatusLineLimit + 1);
  for (int k = 1; k <= columnCount_; ++k) {
    const ColumnInfo& column = columns_[static_cast<std::size_t>(k - 1)];
    report.addColumn(k, column);
    writer.headerCell(column);
    appendToStatusLine(column.name);
  }
  report.close();
  // A report that could not be replaced is left as it was, which the run says: it no longer
  // belongs to this query. The run goes on.
  if (!report.problem().empty()) {
    result_.typeReportSkipped = report.problem();
    report_.statusLine(result_.typeReportSkipped);
  }
  writer.endHeaderRow();
  report_.statusLine(statusLine_);
  statusLine_.clear();
}

std::optional<RunOutcome> ExportRun::streamRows(ResultCursor& cursor, OutputType type,
                                                OutputWriter& writer, OutputTarget& target,
                                                bool& stopped) {
  StopRequest& stop = stop_;
  std::atomic<long long>* const rowCount = report_.rowCount();
  std::int64_t nextProgress = coarseNow() + kProgressLineEveryNs;
  const long long rowLimit = job_.excel2007 ? kWorkbook2007RowLimit : kWorkbookRowLimit;
  const bool workbook = type == OutputType::Xml;
  result_.rows = 0;
  // A statement without result columns (an UPDATE) has no rows to fetch.
  while (columnCount_ > 0) {
    if (stop.requested()) return stoppedByRequest();
    const ResultCursor::Fetched fetched = cursor.fetch();
    if (fetched == ResultCursor::Fetched::End) break;
    // A fetch that failed under a stop request (the driver's own timeout ended it, or a
    // cancel) ends as the request says.
    if (fetched == ResultCursor::Fetched::Failed) {
      return stop.requested() ? stoppedByRequest()
                              : statementFailed(cursor, "SQL statement failed.");
    }
    ++result_.rows;
    // The wait for the next row starts now; the clock is coarse, as cheap as a load.
    const std::int64_t now = coarseNow();
    stop.rowArrived(now);
    if (rowCount != nullptr) rowCount->store(result_.rows, std::memory_order_relaxed);
    if (now >= nextProgress) {
      report_.progress(result_.rows);
      nextProgress = now + kProgressLineEveryNs;
    }
    const bool showRow = result_.rows < 12;
    if (!writeRow(cursor, workbook, writer, showRow, stopped)) {
      return stop.requested() ? stoppedByRequest()
                              : statementFailed(cursor, "SQL statement failed.");
    }
    if (stopped) break;
    if (showRow) {
      report_.statusLine(statusLine_);
      statusLine_.clear();
    }
    if (workbook && result_.rows + 1 > rowLimit) {
      message("Row Count Larger than " + std::to_string(rowLimit) + " ", "TOO BIG");
      stopped = true;
      break;
    }
    if (target.file().error() != 0) break;  // the disk is full: stop fetching
    if (result_.rows % kProgressEvery == 0) report_.rowsDone(result_.rows);
  }
  report_.rowsDone(result_.rows);
  return std::nullopt;
}

bool ExportRun::writeRow(ResultCursor& cursor, bool workbook, OutputWriter& writer, bool showRow,
                         bool& stopped) {
  writer.beginRow();
  for (int k = 1; k <= columnCount_; ++k) {
    if (workbook && k > kWorkbookColumnLimit) {
      message("Column Count Greater than 255", "TOO BIG");
      stopped = true;
      break;
    }
    const ColumnInfo& column = columns_[static_cast<std::size_t>(k - 1)];
    CellValue value;
    if (isBinaryType(column.sqlType)) {
      value = CellValue{kBinaryValue};
    } else if (!cursor.value(k, value)) {
      return false;
    }
    if (showRow) appendToStatusLine(value.text);
    writer.cell(value, column, job_.forceFullLength);
  }
  writer.endRow();
  return true;
}

RunOutcome ExportRun::finish(OutputType type, OutputWriter& writer, OutputTarget& target,
                             bool stopped) {
  // A stopped workbook is closed properly as well, so that it opens.
  writer.finish(columnCount_, result_.rows + 1);
  // A stop requested while the file was being finished (a large workbook is assembled at
  // its end) removes it once it is done.
  if (stop_.requested()) {
    target.discard();
    return stoppedByRequest();
  }
  if (result_.rows == 0 && !stopped) {
    target.discard();
    if (!job_.silent) message("No Results Found", "SQL statement failed.");
    return RunOutcome::NoRows;
  }
  // From the start of the publication a stop no longer undoes the run: the file replaces
  // the target and the run says so; a stop that came before it replaces nothing.
  PublishingStep publishing(stop_);
  if (!publishing.begun()) {
    target.discard();
    return stoppedByRequest();
  }
  if (!target.keep()) return outputNotWritten(target.error());
  publishing.published();
  result_.kept = true;
  pausePoint(kPauseAfterKeeping);
  if (stopped) return RunOutcome::Limit;
  // Asked to stop, the run opens nothing more.
  if (stop_.requested()) return RunOutcome::Exported;
  // A viewer that could not start leaves the export as it is: the file was written.
  result_.viewerFailure = launchViewer(job_, type, result_.path, launcher_);
  if (!result_.viewerFailure.empty()) report_.statusLine(result_.viewerFailure);
  return RunOutcome::Exported;
}

}  // namespace rowpress
