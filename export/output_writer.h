// The interface through which the export run emits a file, with the options of the writers;
// the columns and values it hands them come from db/result_columns.h.
#pragma once

#include <string_view>

#include "db/result_columns.h"

namespace rowpress {

class OutputFile;

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
  virtual void beginSheet(std::string_view) {}
  virtual void endSheet(int, long long) {}
};

}  // namespace rowpress
