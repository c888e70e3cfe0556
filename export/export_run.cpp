#include "export/export_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <system_error>

#include "db/odbc_session.h"
#include "export/column_type_report.h"
#include "export/delimited_writer.h"
#include "export/html_writer.h"
#include "export/manifest.h"
#include "export/output_naming.h"
#include "export/output_target.h"
#include "export/spreadsheetml_writer.h"
#include "export/stop_request.h"
#include "export/xlsx_writer.h"
#include "files/pause_point.h"
#include "files/run_files.h"

namespace rowpress {

namespace {

// A CSV report without an output name registers a reserved name and a temporary file for each
// sheet, the type report one more file and the manifest one: the stop's table holds them all.
static_assert(RunFiles::kCapacity >= 2 * kMaxReportSheets + 2);

constexpr long long kProgressEvery = 1024;
// How often the run reports its progress for a progress line, on the coarse clock.
constexpr std::int64_t kProgressLineEveryNs = 250'000'000;

}  // namespace

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

ExportResult ExportRun::run(const OdbcSession& session,
                            const std::vector<RunStatement>& statements) {
  timeZone_ = session.timeZone();
  std::unique_ptr<ResultCursor> cursor = openResultCursor(session);
  return run(*cursor, statements);
}

ExportResult ExportRun::run(const OdbcSession& session, const std::string& sql) {
  timeZone_ = session.timeZone();
  std::unique_ptr<ResultCursor> cursor = openResultCursor(session);
  return run(*cursor, sql);
}

ExportResult ExportRun::run(ResultCursor& cursor, const std::string& sql) {
  std::vector<RunStatement> statements(1);
  statements[0].sql = sql;
  return run(cursor, statements);
}

ExportResult ExportRun::run(ResultCursor& cursor, const std::vector<RunStatement>& statements) {
  result_ = ExportResult{};
  refused_ = {};
  started_ = std::chrono::system_clock::now();
  if (std::atomic<long long>* count = report_.rowCount()) count->store(0);
  // A process limit (ulimit -v, a thread that cannot start) ends the run like a file that
  // could not be written: by the time the exception arrives here, the steps' files are gone.
  try {
    result_.outcome = runSteps(cursor, statements);
  } catch (const std::bad_alloc&) {
    discardAll();
    result_.outcome = outputNotWritten(std::strerror(ENOMEM));
  } catch (const std::system_error& e) {
    discardAll();
    result_.outcome = outputNotWritten(e.code().message());
  }
  outputs_.clear();
  manifest_.reset();
  typeReport_.reset();  // one that a failed report left open is dropped: the last one stays
  // The values of timestamps with a time zone carry no offset: the zone they are in is said
  // once for the run.
  if (!timeZone_.empty() && zonedColumns(result_.accounts)) {
    result_.notes.push_back("note: timestamps with a time zone are in the session's time zone " +
                            timeZone_);
  }
  return std::move(result_);
}

bool ExportRun::zonedColumns(const std::vector<SheetAccount>& sheets) {
  return std::any_of(sheets.begin(), sheets.end(), [](const SheetAccount& sheet) {
    return std::any_of(sheet.columns.begin(), sheet.columns.end(),
                       [](const ColumnInfo& column) { return column.zoned; });
  });
}

void ExportRun::discardAll() {
  result_.kept = false;
  for (const auto& output : outputs_) output->target.discard();
  if (manifest_) manifest_->discard();
}

void ExportRun::planSheets(const std::vector<RunStatement>& statements) {
  std::vector<std::string> names;
  for (const RunStatement& statement : statements) names.push_back(statement.sheet);
  for (const auto& output : outputs_) output->writer->planSheets(names);
}

void ExportRun::beginSheet(const RunStatement& statement, OutputWriter& writer) {
  report_.statusLine("Sheet \"" + statement.sheet + "\"");
  report_.statusLine(statement.shown);
  report_.sheetStarted(statement.sheet);
  writer.beginSheet(statement.sheet);
  ++result_.sheets;
}

bool ExportRun::headerChanged() {
  for (int k = 1; k <= columnCount_; ++k) {
    if (columns_[static_cast<std::size_t>(k - 1)].nameCut) {
      refused_ = {k, ValueRule::ColumnName};
      break;
    }
  }
  if (refused_.column == 0) return false;
  sheetRows_ = 0;
  return true;
}

RunOutcome ExportRun::runSteps(ResultCursor& cursor, const std::vector<RunStatement>& statements) {
  if (stop_.requested()) return stoppedByRequest();
  const OutputType type = outputTypeOf(job_);
  reportJob_ = !statements.front().sheet.empty();
  widestColumns_ = 0;
  // The output files are created before anything is executed; without them nothing runs.
  if (!openOutputs(type)) return RunOutcome::OutputFile;
  // How far values are read: whole, in parts, where the output holds any length; as far as a
  // cell can hold for the .xlsx; else to the limit that a value keeps.
  inParts_ = !job_.forceFullLength && outputs_.front()->writer->takesParts();
  cutCounts_ = type != OutputType::Xlsx;
  cursor.result().setValueLimit(type == OutputType::Xlsx ? XlsxWriter::kValueBytes : kValueLimit,
                                inParts_);
  if (reportJob_) planSheets(statements);
  bool stopped = false;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    const RunStatement& statement = statements[i];
    Output& output = *outputs_[outputs_.size() == 1 ? 0 : i];
    if (reportJob_) beginSheet(statement, *output.writer);
    {
      // A timeout bounds executing the statement and each wait for a row, not the file's end.
      WaitingFor waiting(stop_, StopRequest::Wait::Statement);
      if (std::optional<RunOutcome> failed = execute(cursor, statement)) return *failed;
      // Each sheet of a report is the result of its statement.
      if (reportJob_ && columnCount_ == 0) {
        std::string text = "The sheet \"" + statement.sheet + "\" has no result set.";
        report_.statusLine(text);
        message(std::move(text), "SQL statement failed.");
        return RunOutcome::StatementFailed;
      }
      describeColumns(cursor.result(), *output.writer, statement.sheet, i + 1 == statements.size());
      if (job_.strict && headerChanged()) return refuseChange(statement.sheet);
      std::optional<RunOutcome> failed = streamRows(cursor, type, output, stopped);
      if (columnCount_ > 0) {
        result_.accounts.push_back(
            {statement.sheet, columns_, sheetRows_, account_.changes(columns_)});
      }
      if (refused_.column != 0) return refuseChange(statement.sheet);
      if (failed) return *failed;
    }
    if (reportJob_) {
      output.writer->endSheet(columnCount_, sheetRows_ + 1);
      widestColumns_ = std::max(widestColumns_, columnCount_);
    }
    if (stopped) {
      // A report stopped at a workbook limit is not the report, nor a strict run's file:
      // nothing is published.
      if (reportJob_ || job_.strict) {
        discardAll();
        return RunOutcome::Limit;
      }
      break;
    }
  }
  return finish(type, stopped);
}

std::optional<RunOutcome> ExportRun::execute(ResultCursor& cursor, const RunStatement& statement) {
  ResultCursor::Executed executed = ResultCursor::Executed::Failed;
  {
    // The text goes to the driver as written: a "--" comment ends at its line's end. A stop
    // request cancels the statement while it executes, where the driver allows it.
    ExecutingStatement executing(stop_, cursor);
    // No statement runs that a stop could not end.
    if (!executing.failure().empty()) {
      result_.outputFailure = executing.failure();
      report_.statusLine(result_.outputFailure);
      discardAll();
      return RunOutcome::OutputFile;
    }
    executed = cursor.execute(statement.sql, statement.values);
  }
  if (stop_.requested()) return stoppedByRequest();
  if (executed == ResultCursor::Executed::Failed) {
    return statementFailed(cursor, "SQL statement failed.");
  }
  // An UPDATE or DELETE that touched no row has no data: a statement without result
  // columns, like one that touched rows.
  columnCount_ = 0;
  if (executed == ResultCursor::Executed::Result) {
    const std::optional<int> count = cursor.result().columnCount();
    if (!count) return statementFailed(cursor, "Could not retrieve number of columns.");
    columnCount_ = *count;
  }
  if (columnCount_ == 0) {
    result_.noResultSet = "the statement returned no result set";
    if (const auto affected = cursor.result().affectedRows()) {
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

void ExportRun::describeColumns(ResultRows& rows, OutputWriter& writer, const std::string& sheet,
                                bool last) {
  // A statement without a result set has no columns to report: the last report stays. One
  // report holds the columns of every sheet of a report job.
  // Without a default directory the report has nowhere to go: never the working directory.
  const std::string directory = defaultDirectory();
  if (columnCount_ > 0 && !directory.empty()) {
    if (!typeReport_) typeReport_.emplace().open(directory);
  } else if (columnCount_ > 0 && result_.typeReportSkipped.empty()) {
    result_.typeReportSkipped =
        noDefaultDirectoryReason() + "; the column type report was not written.";
    report_.statusLine(result_.typeReportSkipped);
  }
  if (typeReport_ && !sheet.empty()) typeReport_->beginSheet(sheet);
  columns_ = rows.describe(columnCount_);
  account_.reset(columnCount_);
  statusLine_.clear();
  statusLine_.reserve(kStatusLineLimit + 1);
  const std::vector<ValueChanges> headerChanges = writer.header(columns_);
  for (int k = 1; k <= columnCount_; ++k) {
    const ColumnInfo& column = columns_[static_cast<std::size_t>(k - 1)];
    if (typeReport_) typeReport_->addColumn(k, column);
    // A name changed to fit the file counts with its column's values; strict refuses it
    // before any row.
    if (const ValueChanges changes = headerChanges[static_cast<std::size_t>(k - 1)]; changes != 0) {
      account_.add(k, changes);
      if (job_.strict && refused_.column == 0) refused_ = {k, firstRule(changes)};
    }
    appendToStatusLine(column.name);
  }
  // A strict run replaces nothing before it knows that no value was changed: its report
  // waits for the rows.
  if (last && !job_.strict) typeReportDone();
  report_.statusLine(statusLine_);
  statusLine_.clear();
}

void ExportRun::typeReportDone() {
  if (!typeReport_) return;
  typeReport_->close();
  // A report that could not be replaced is left as it was, which the run says: it no longer
  // belongs to this query. The run goes on.
  if (!typeReport_->problem().empty()) {
    result_.typeReportSkipped = typeReport_->problem();
    report_.statusLine(result_.typeReportSkipped);
  }
  typeReport_.reset();
}

std::optional<RunOutcome> ExportRun::streamRows(ResultCursor& cursor, OutputType type,
                                                Output& output, bool& stopped) {
  OutputWriter& writer = *output.writer;
  ResultRows& rows = cursor.result();
  OutputTarget& target = output.target;
  StopRequest& stop = stop_;
  std::atomic<long long>* const rowCount = report_.rowCount();
  std::int64_t nextProgress = coarseNow() + kProgressLineEveryNs;
  const long long rowLimit = job_.excel2007 ? kWorkbook2007RowLimit : kWorkbookRowLimit;
  const bool workbook = type == OutputType::Xml;
  // An .xlsx cell and a standard CSV or TSV field tell NULL from a value: a binary column's
  // NULL is asked of the driver there.
  binaryNulls_ = type == OutputType::Xlsx ||
                 (job_.quoteFields && (type == OutputType::Csv || type == OutputType::Tsv));
  sheetRows_ = 0;
  // A statement without result columns (an UPDATE) has no rows to fetch.
  while (columnCount_ > 0) {
    if (stop.requested()) return stoppedByRequest();
    const ResultRows::Fetched fetched = rows.fetch();
    if (fetched == ResultRows::Fetched::End) break;
    // A fetch that failed under a stop request (the driver's own timeout ended it, or a
    // cancel) ends as the request says.
    if (fetched == ResultRows::Fetched::Failed) {
      return stop.requested() ? stoppedByRequest()
                              : statementFailed(cursor, "SQL statement failed.");
    }
    ++result_.rows;
    ++sheetRows_;
    // The wait for the next row starts now; the clock is coarse, as cheap as a load.
    const std::int64_t now = coarseNow();
    stop.rowArrived(now);
    if (rowCount != nullptr) rowCount->store(result_.rows, std::memory_order_relaxed);
    if (now >= nextProgress) {
      report_.progress(result_.rows);
      nextProgress = now + kProgressLineEveryNs;
    }
    const bool showRow = sheetRows_ < 12;
    if (!writeRow(rows, workbook, writer, showRow, stopped)) {
      if (refused_.column != 0) break;
      return stop.requested() ? stoppedByRequest()
                              : statementFailed(cursor, "SQL statement failed.");
    }
    if (stopped) break;
    if (showRow) {
      report_.statusLine(statusLine_);
      statusLine_.clear();
    }
    if (workbook && sheetRows_ + 1 > rowLimit) {
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

bool ExportRun::writeRow(ResultRows& rows, bool workbook, OutputWriter& writer, bool showRow,
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
    ValueChanges changes = 0;
    bool written = false;  // in parts
    if (isBinaryType(column.sqlType)) {
      // The bytes are never read; the .xlsx cell of a NULL stays empty.
      bool null = false;
      if (binaryNulls_ && !rows.isNull(k, null)) return false;
      value = null ? CellValue{std::string_view(), true} : CellValue{kBinaryText};
      if (!null) changes = changeOf(ValueRule::Binary);
    } else if (!rows.value(k, value)) {
      return false;
    } else if (value.cut && inParts_) {
      // A value longer than one part is written whole, part by part.
      if (showRow) appendToStatusLine(value.text);
      writer.beginCellParts();
      writer.cellPart(value.text);
      while (value.cut) {
        // A long value answers a stop request between its parts.
        if (stop_.requested() || !rows.nextPart(k, value)) return false;
        writer.cellPart(value.text);
      }
      changes = writer.endCellParts();
      written = true;
    } else if (value.cut && cutCounts_) {
      changes = changeOf(ValueRule::Cut);
    }
    if (!written) {
      if (showRow) appendToStatusLine(value.text);
      changes |= writer.cell(value);
    }
    if (changes != 0) {
      account_.add(k, changes);
      if (job_.strict) {
        refused_ = {k, firstRule(changes)};
        return false;
      }
    }
  }
  writer.endRow();
  return true;
}

RunOutcome ExportRun::refuseChange(const std::string& sheet) {
  const ColumnInfo& column = columns_[static_cast<std::size_t>(refused_.column - 1)];
  discardAll();
  std::string text = strictLine(sheet, refused_.column, column.name, sheetRows_, refused_.rule);
  report_.statusLine(text);
  message(std::move(text), "Strict");
  return RunOutcome::Changed;
}

}  // namespace rowpress
