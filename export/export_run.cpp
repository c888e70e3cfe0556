#include "export/export_run.h"

#include <sqlext.h>

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
// The buffer of the first SQLGetData call of each value.
constexpr std::size_t kFirstPiece = 512;
// Columns declared at most this many characters wide are bound with room for all of them.
constexpr std::int32_t kBindLimit = 1024;

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

RunOutcome ExportRun::statementFailed(SQLHSTMT statement, const char* caption) {
  std::string diagnostic = GetStatementDiagnostic(statement);
  report_.statusLine("SQL statement failed.");
  report_.statusLine(diagnostic);
  message(std::move(diagnostic), caption);
  return RunOutcome::StatementFailed;
}

void ExportRun::message(std::string text, std::string caption, std::string reason) {
  result_.messages.push_back(ExportMessage{std::move(text), std::move(caption), std::move(reason)});
}

bool ExportRun::fetchValue(SQLHSTMT statement, int k, CellValue& value) {
  // Most values are short: ask for them with a small buffer first, because drivers spend
  // time in proportion to the buffer they are handed, and fetch a long value's remaining
  // pieces only when the first one came back cut, up to the 65,536-byte limit.
  char* buffer = value_.data();
  const auto column = static_cast<SQLUSMALLINT>(k);
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(statement, column, SQL_C_CHAR, buffer, kFirstPiece, &indicator);
  if (rc == SQL_NO_DATA || (succeeded(rc) && indicator == SQL_NULL_DATA)) {
    value = CellValue{std::string_view(), rc != SQL_NO_DATA};
    return true;
  }
  if (!succeeded(rc)) return false;
  if (indicator >= 0 && indicator < static_cast<SQLLEN>(kFirstPiece)) {
    value = CellValue{std::string_view(buffer, static_cast<std::size_t>(indicator))};
    return true;
  }
  std::size_t length = kFirstPiece - 1;
  bool cut = true;  // until a piece says that the value ended
  while (rc == SQL_SUCCESS_WITH_INFO && length < kValueLimit) {
    const std::size_t room = value_.size() - length;  // the rest of the limit plus its NUL
    rc = SQLGetData(statement, column, SQL_C_CHAR, buffer + length, static_cast<SQLLEN>(room),
                    &indicator);
    if (rc == SQL_NO_DATA) {
      cut = false;
      break;
    }
    if (!succeeded(rc)) return false;
    const bool whole = indicator >= 0 && static_cast<std::size_t>(indicator) < room;
    length += whole ? static_cast<std::size_t>(indicator) : room - 1;
    cut = !whole;
  }
  // Only a value cut at the limit loses a character that the cut split; any other value
  // passes through byte for byte.
  if (cut)
    length = cutOnCharacterBoundary(std::string_view(buffer, length), length, TextEnd::CutOff);
  value = CellValue{std::string_view(buffer, length)};
  return true;
}

bool ExportRun::bindColumns(SQLHSTMT statement) {
  bindings_.assign(columns_.size(), Binding{});
  if (connection_ == SQL_NULL_HDBC) return false;
  SQLUINTEGER extensions = 0;
  if (!succeeded(SQLGetInfo(connection_, SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions,
                            nullptr))) {
    return false;
  }
  const SQLUINTEGER needed = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
  if ((extensions & needed) != needed) return false;
  // A column of a small declared size gets room for that many characters of up to four
  // bytes; a long or unsized one gets the first piece's room, and its longer values are read
  // again with SQLGetData. Binary columns are never fetched.
  std::size_t total = 0;
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const ColumnInfo& column = columns_[i];
    if (isBinaryType(column.sqlType)) continue;
    const bool sized = column.declaredSize > 0 && column.declaredSize <= kBindLimit;
    const std::size_t room =
        sized ? 4 * static_cast<std::size_t>(column.declaredSize) + 1 : kFirstPiece;
    bindings_[i] = Binding{total, std::max<std::size_t>(room, 64)};
    total += bindings_[i].size;
  }
  if (total == 0) return false;
  bound_.assign(total, 0);
  indicators_.assign(columns_.size(), 0);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (bindings_[i].size == 0) continue;
    if (!succeeded(SQLBindCol(statement, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR,
                              bound_.data() + bindings_[i].offset,
                              static_cast<SQLLEN>(bindings_[i].size), &indicators_[i]))) {
      SQLFreeStmt(statement, SQL_UNBIND);
      bindings_.assign(columns_.size(), Binding{});
      return false;
    }
  }
  return true;
}

bool ExportRun::columnValue(SQLHSTMT statement, int k, CellValue& value) {
  const Binding& binding = bindings_[static_cast<std::size_t>(k - 1)];
  if (binding.size == 0) return fetchValue(statement, k, value);
  const SQLLEN indicator = indicators_[static_cast<std::size_t>(k - 1)];
  if (indicator == SQL_NULL_DATA) {
    value = CellValue{std::string_view(), true};
    return true;
  }
  if (indicator >= 0 && static_cast<std::size_t>(indicator) < binding.size) {
    value = CellValue{
        std::string_view(bound_.data() + binding.offset, static_cast<std::size_t>(indicator))};
    return true;
  }
  // Longer than its buffer (a long column, or SQLite, which does not enforce declared sizes):
  // read it again.
  return fetchValue(statement, k, value);
}

RunOutcome ExportRun::stoppedByRequest() {
  // A run that waited too long failed like a statement that the server ended.
  if (const int seconds = StopRequest::instance().timedOutAfter()) {
    report_.statusLine("SQL statement failed.");
    report_.statusLine(timedOutText(seconds));
    return RunOutcome::StatementFailed;
  }
  // The user's Cancel in the window: the window stays open and the earlier file is kept.
  if (StopRequest::instance().cancelled()) {
    report_.statusLine("Cancelled after " + std::to_string(result_.rows) + " rows");
    return RunOutcome::Stopped;
  }
  report_.statusLine("Stopped after " + std::to_string(result_.rows) +
                     " rows; no output file was written.");
  return RunOutcome::Stopped;
}

ExportResult ExportRun::run(const OdbcSession& session, std::string& sql) {
  result_ = ExportResult{};
  if (std::atomic<long long>* count = report_.rowCount()) count->store(0);
  connection_ = session.connection();
  // A process limit (ulimit -v, a thread that cannot start) ends the run like a file that
  // could not be written: by the time the exception arrives here, the steps' files are gone.
  try {
    result_.outcome = runSteps(session.statement(), sql);
  } catch (const std::bad_alloc&) {
    result_.kept = false;
    result_.outcome = outputNotWritten(std::strerror(ENOMEM));
  } catch (const std::system_error& e) {
    result_.kept = false;
    result_.outcome = outputNotWritten(e.code().message());
  }
  return std::move(result_);
}

RunOutcome ExportRun::runSteps(SQLHSTMT statement, std::string& sql) {
  if (StopRequest::instance().requested()) return stoppedByRequest();
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
    WaitingFor waiting(StopRequest::Wait::Statement);
    if (std::optional<RunOutcome> failed = execute(statement, sql)) return *failed;
    describeColumns(statement, *writer);
    if (std::optional<RunOutcome> failed = streamRows(statement, type, *writer, target, stopped)) {
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

std::optional<RunOutcome> ExportRun::execute(SQLHSTMT statement, std::string& sql) {
  SQLRETURN rc = SQL_ERROR;
  {
    // The text goes to the driver as written: a "--" comment ends at its line's end. A stop
    // request cancels the statement while it executes, where the driver allows it.
    ExecutingStatement executing(statement, driverCancelsSafely(connection_));
    rc = SQLExecDirect(statement, reinterpret_cast<SQLCHAR*>(sql.data()),
                       static_cast<SQLINTEGER>(sql.size()));
  }
  if (StopRequest::instance().requested()) return stoppedByRequest();
  // An UPDATE or DELETE that touched no row returns SQL_NO_DATA: a statement without result
  // columns, like one that touched rows.
  const bool noResult = rc == SQL_NO_DATA;
  if (!noResult && !succeeded(rc)) return statementFailed(statement, "SQL statement failed.");

  columnCount_ = 0;
  if (!noResult && !succeeded(SQLNumResultCols(statement, &columnCount_))) {
    return statementFailed(statement, "Could not retrieve number of columns.");
  }
  if (columnCount_ == 0) {
    result_.noResultSet = "the statement returned no result set";
    if (const auto affected = AffectedRows(statement)) {
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

void ExportRun::describeColumns(SQLHSTMT statement, OutputWriter& writer) {
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
  columns_.assign(static_cast<std::size_t>(std::max<SQLSMALLINT>(columnCount_, 0)), ColumnInfo{});
  statusLine_.clear();
  statusLine_.reserve(kStatusLineLimit + 1);
  for (int k = 1; k <= columnCount_; ++k) {
    SQLCHAR name[256] = {0};
    SQLSMALLINT nameLength = 0, sqlType = 0, digits = 0;
    SQLULEN size = 0;
    SQLDescribeCol(statement, static_cast<SQLUSMALLINT>(k), name, sizeof name, &nameLength,
                   &sqlType, &size, &digits, nullptr);
    ColumnInfo& column = columns_[static_cast<std::size_t>(k - 1)];
    column.name = reinterpret_cast<char*>(name);
    column.name.resize(cutOnCharacterBoundary(column.name, 255));
    column.sqlType = sqlType;
    column.declaredSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(size));
    column.decimalDigits = digits;
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

std::optional<RunOutcome> ExportRun::streamRows(SQLHSTMT statement, OutputType type,
                                                OutputWriter& writer, OutputTarget& target,
                                                bool& stopped) {
  StopRequest& stop = StopRequest::instance();
  std::atomic<long long>* const rowCount = report_.rowCount();
  std::int64_t nextProgress = coarseNow() + kProgressLineEveryNs;
  const long long rowLimit = job_.excel2007 ? kWorkbook2007RowLimit : kWorkbookRowLimit;
  const bool workbook = type == OutputType::Xml;
  result_.rows = 0;
  value_.resize(kValueLimit + 1);
  // The buffers are bound only for this run: unbind them on every way out.
  struct Unbind {
    SQLHSTMT statement;
    bool bound;
    ~Unbind() {
      if (bound) SQLFreeStmt(statement, SQL_UNBIND);
    }
  } unbind{statement, columnCount_ > 0 && bindColumns(statement)};
  // A statement without result columns (an UPDATE) has no rows to fetch.
  while (columnCount_ > 0) {
    if (stop.requested()) return stoppedByRequest();
    const SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) break;
    // A fetch that failed under a stop request (the driver's own timeout ended it, or a
    // cancel) ends as the request says.
    if (!succeeded(rc)) {
      return stop.requested() ? stoppedByRequest()
                              : statementFailed(statement, "SQL statement failed.");
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
    if (!writeRow(statement, workbook, writer, showRow, stopped)) {
      return stop.requested() ? stoppedByRequest()
                              : statementFailed(statement, "SQL statement failed.");
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

bool ExportRun::writeRow(SQLHSTMT statement, bool workbook, OutputWriter& writer, bool showRow,
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
    } else if (!columnValue(statement, k, value)) {
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
  if (StopRequest::instance().requested()) {
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
  PublishingStep publishing;
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
  if (StopRequest::instance().requested()) return RunOutcome::Exported;
  // A viewer that could not start leaves the export as it is: the file was written.
  result_.viewerFailure = launchViewer(job_, type, result_.path, launcher_);
  if (!result_.viewerFailure.empty()) report_.statusLine(result_.viewerFailure);
  return RunOutcome::Exported;
}

}  // namespace rowpress
