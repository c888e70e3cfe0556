// The interface through which the export run emits a file, with the options of the writers;
// the columns and values it hands them come from db/result_columns.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/result_columns.h"
#include "export/value_account.h"

namespace rowpress {

class OutputFile;

// The job's choices that change how the CSV and TSV writer writes; all unset give the
// delimited output of every earlier version, byte for byte.
struct WriterOptions {
  // Standard CSV: a field that holds the separator, a double quote, CR or LF is quoted, with
  // its double quotes doubled; every value is written as it is; no separator ends a line; a
  // NULL is an empty field and the empty string "".
  bool quoteFields = false;
  // A UTF-8 byte order mark (EF BB BF) starts the file.
  bool byteOrderMark = false;
  // Standard CSV's separator in place of the comma (0: the comma); TSV keeps the tab.
  char separator = 0;
  // The values of numeric columns are written with "," for their decimal point.
  bool decimalComma = false;
  // The file's character encoding, a name iconv knows; "" (or UTF-8) writes UTF-8 as is.
  std::string encoding;
};

// What a cell holds in place of a binary value, and of a value longer than a workbook's cell
// holds.
inline constexpr char kBinaryText[] = "<BINARY>";
inline constexpr char kTooLargeText[] = "<Too Large>";

// The export run calls these in this order for a job with one result: begin;
// beginHeaderRow; headerCell per column; endHeaderRow; then per row beginRow, cell per column,
// endRow; finish once. Such a run never calls planSheets, beginSheet or endSheet, and the
// file holds what every earlier version wrote.
//
// A report holds several named sheets, each with its own statement and columns. The run
// calls begin; planSheets once with every sheet's name; then per sheet, in order,
// beginSheet(name), the header row and the rows as above, and endSheet(columnCount,
// tableRows) with that sheet's counts; finish once. A report has at least one sheet. The
// names are ones a workbook can hold (see job/sheet_names.h), no two the same
// (sameSheetName). In a report finish's columnCount is the widest sheet's and tableRows the
// sum of every sheet's; a writer takes each sheet's counts from endSheet.
class OutputWriter {
 public:
  virtual ~OutputWriter() = default;
  virtual void begin(OutputFile& out) = 0;
  // The names of all the sheets of a report, before the first beginSheet: a writer that
  // names sheets of its own (one that goes on with a full sheet's rows) keeps clear of them.
  virtual void planSheets(const std::vector<std::string>& names) { (void)names; }
  // Starts the sheet `name` of a report. A writer of one table per file (CSV, TSV) writes
  // nothing: the run writes each sheet of a report to a file of its own.
  virtual void beginSheet(std::string_view name) { (void)name; }
  virtual void beginHeaderRow() = 0;
  // Writes a column's name; returns the rules by which the name was changed to fit the file,
  // which the run counts with its column's values (none when it is written as it is).
  virtual ValueChanges headerCell(const ColumnInfo& column) = 0;
  virtual void endHeaderRow() = 0;
  virtual void beginRow() = 0;
  // Writes one value; returns the rules by which the value was changed to fit the file (none
  // when it is written as it is). A value the run already changed (cut at its limit, or
  // "<BINARY>") is the run's to count.
  virtual ValueChanges cell(const CellValue& value, const ColumnInfo& column,
                            bool forceFullLength) = 0;
  // A value longer than one part, for a writer that takesParts() (standard CSV and TSV, which
  // hold values of any length): in place of cell, beginCellParts, cellPart for each part of
  // the value in order, endCellParts. The parts are the value's bytes, cut anywhere.
  // endCellParts returns the rules by which the value was changed, as cell does.
  virtual bool takesParts() const { return false; }
  virtual void beginCellParts() {}
  virtual void cellPart(std::string_view part) { (void)part; }
  virtual ValueChanges endCellParts() { return 0; }
  virtual void endRow() = 0;
  // Ends the sheet that beginSheet started; tableRows counts its header row.
  virtual void endSheet(int columnCount, long long tableRows) {
    (void)columnCount;
    (void)tableRows;
  }
  // tableRows counts the header row.
  virtual void finish(int columnCount, long long tableRows) = 0;
};

}  // namespace rowpress
