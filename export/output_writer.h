// The interface through which the export run emits a file, and the column description that
// it hands to the writers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rowpress {

class OutputFile;

// One result column as SQLDescribeCol describes it.
struct ColumnInfo {
  std::string name;               // at most 255 bytes
  std::int16_t sqlType = 0;       // ODBC SQL type code
  std::int32_t declaredSize = 0;  // compared as a signed value
  std::int16_t decimalDigits = 0;
};

// One value of a row as the driver delivered it: its text, and whether it was NULL (the
// text is then empty). The writers of today write both alike; a writer may tell them apart.
struct CellValue {
  std::string_view text;
  bool null = false;
};

// The job's choices that change how the CSV and TSV writer writes; both off give the
// delimited output of every earlier version, byte for byte.
struct WriterOptions {
  // Standard CSV: a field that holds the separator, a double quote, CR or LF is quoted, with
  // its double quotes doubled; every value is written as it is; no separator ends a line; a
  // NULL is an empty field and the empty string "".
  bool quoteFields = false;
  // A UTF-8 byte order mark (EF BB BF) starts the file.
  bool byteOrderMark = false;
};

// Binary columns (SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY) are never fetched; their
// value is "<BINARY>".
inline bool isBinaryType(int sqlType) { return sqlType == -2 || sqlType == -3 || sqlType == -4; }

// The export run calls these in this order: begin; beginHeaderRow; headerCell per column;
// endHeaderRow; then per row beginRow, cell per column, endRow; finish once.
class OutputWriter {
 public:
  virtual ~OutputWriter() = default;
  virtual void begin(OutputFile& out) = 0;
  virtual void beginHeaderRow() = 0;
  virtual void headerCell(const ColumnInfo& column) = 0;
  virtual void endHeaderRow() = 0;
  virtual void beginRow() = 0;
  virtual void cell(const CellValue& value, const ColumnInfo& column, bool forceFullLength) = 0;
  virtual void endRow() = 0;
  // tableRows counts the header row.
  virtual void finish(int columnCount, long long tableRows) = 0;
};

}  // namespace rowpress
