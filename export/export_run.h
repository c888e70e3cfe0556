// The export run: executes the job's statement, describes its columns, streams every row
// into the writer of the job's output type, enforces the workbook limits, reports in the
// status list and message boxes, and keeps, discards or launches the file.
#pragma once

#include <sql.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "export/export_report.h"
#include "export/output_writer.h"
#include "export/viewer.h"
#include "job/job_settings.h"

namespace rowpress {

class OutputTarget;

inline constexpr int kColumnTableSize = 256;      // columns a run can hold
inline constexpr int kWorkbookColumnLimit = 255;  // cells a workbook data row may hold
inline constexpr long long kWorkbookRowLimit = 65534;
inline constexpr long long kWorkbook2007RowLimit = 1048576;
inline constexpr std::size_t kValueLimit = 65536;  // bytes of one value
inline constexpr std::size_t kStatusLineLimit = 65535;

std::unique_ptr<OutputWriter> makeWriter(OutputType type);

class ExportRun {
 public:
  // With the statement's connection, the columns are bound when the driver allows reading a
  // cut value again with SQLGetData: one call per row instead of one per cell.
  // The finished file is handed to the viewer through `launcher`.
  ExportRun(const JobSettings& job, ExportReport& report, SQLHDBC connection = SQL_NULL_HDBC,
            Launcher& launcher = processLauncher())
      : job_(job), report_(report), connection_(connection), launcher_(launcher) {}

  // One run on an open statement with the working copy of the SQL text, executed as written.
  RunOutcome run(SQLHSTMT statement, std::string& sql);

  // After the run: the output path it chose, the data rows it wrote and whether the file
  // was kept at that path.
  const std::string& outputPath() const { return outputPath_; }
  // The status line that says why the output file could not be created or written.
  const std::string& outputFailure() const { return outputFailure_; }
  long long dataRows() const { return dataRows_; }
  bool keptFile() const { return kept_; }

 private:
  // The steps of a run, in order. Each reports what went wrong itself; a step that ends the
  // run returns its outcome.
  // Chooses the path and opens the output file; false when it cannot be created.
  bool openOutput(OutputType type, OutputTarget& target);
  // Executes the statement and reads its column count.
  std::optional<RunOutcome> execute(SQLHSTMT statement, std::string& sql);
  // Describes every column: the header row, the type report and the column line.
  void describeColumns(SQLHSTMT statement, OutputWriter& writer);
  // Fetches every row into the writer; `stopped` when a workbook limit stopped it.
  std::optional<RunOutcome> streamRows(SQLHSTMT statement, OutputType type, OutputWriter& writer,
                                       OutputTarget& target, bool& stopped);
  // One fetched row's cells; false when the driver failed to deliver a value.
  bool writeRow(SQLHSTMT statement, bool workbook, OutputWriter& writer, bool showRow,
                bool& stopped);
  // Finishes the file and keeps, discards or launches it.
  RunOutcome finish(OutputType type, OutputWriter& writer, OutputTarget& target, bool stopped);

  RunOutcome statementFailed(SQLHSTMT statement, const char* caption);
  // The run was asked to stop: its temporary file goes, an existing file stays.
  RunOutcome stoppedByRequest();
  void appendToStatusLine(std::string_view value);
  // Reads column k of the current row into value_; false when the driver failed.
  bool fetchValue(SQLHSTMT statement, int k, std::string_view& value);
  // Binds every column that is fetched; returns whether any was bound.
  bool bindColumns(SQLHSTMT statement);
  // Column k's value of the current row from its bound buffer, or through fetchValue when it
  // is not bound or came back cut.
  bool columnValue(SQLHSTMT statement, int k, std::string_view& value);

  struct Binding {
    std::size_t offset = 0;
    std::size_t size = 0;  // 0: not bound
  };

  const JobSettings& job_;
  ExportReport& report_;
  SQLHDBC connection_;
  Launcher& launcher_;
  std::vector<Binding> bindings_;
  std::vector<char> bound_;
  std::vector<SQLLEN> indicators_;
  std::vector<ColumnInfo> columns_;
  std::vector<char> value_;
  std::string statusLine_;
  std::string outputPath_;
  std::string outputFailure_;
  SQLSMALLINT columnCount_ = 0;
  long long dataRows_ = 0;
  bool kept_ = false;
};

}  // namespace rowpress
