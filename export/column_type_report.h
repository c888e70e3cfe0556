// The report of the SQL types of the result's columns that every run leaves in the default
// directory as lasttablecolumntypeinfo.csv.
#pragma once

#include <cstdint>
#include <string>

#include "export/output_file.h"
#include "export/output_writer.h"
#include "files/atomic_file.h"
#include "files/run_files.h"

namespace rowpress {

inline constexpr char kColumnTypeReportName[] = "lasttablecolumntypeinfo.csv";

// The explanation of an ODBC SQL type code, or "*UNKNOWN COLUMN TYPE*".
const char* columnTypeDescription(std::int16_t sqlType);

class ColumnTypeReport {
 public:
  // Starts the report in `directory` with the heading line. It is written beside the old
  // report and replaces it on close(), as every file is replaced (see AtomicFile): until
  // then the old report stays as it was. When the file cannot be replaced (a directory or a
  // file with a second name has the report's name) the report stays off for this run, and
  // problem() says so.
  void open(const std::string& directory);
  bool isOpen() const { return file_.isOpen(); }
  // Starts the block of a report job's sheet: the line "Sheet,NAME" before its columns.
  void beginSheet(std::string_view name);
  void addColumn(int ordinal, const ColumnInfo& column);
  // Replaces the old report; a report that could not be written is dropped, and problem()
  // says so.
  void close();
  // Why the report was not written, as a status line says it; empty while nothing failed.
  const std::string& problem() const { return problem_; }

 private:
  void failed(const char* what, const std::string& reason);

  std::string path_;
  std::string problem_;
  // Known to the stop request while it is written.
  RegisteredTemporary registered_;
  AtomicFile atomic_;
  OutputFile file_;
};

}  // namespace rowpress
