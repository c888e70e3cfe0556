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

// The job's choices that change how the writers write; all unset give the output of every
// earlier version, byte for byte. All but forceFullLength are the CSV and TSV writer's.
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
  // Every value is padded with spaces or cut to its column's declared size, as the Force Full
  // Length setting asks (a typed workbook writes its values as they are).
  bool forceFullLength = false;
};

// What a cell holds in place of a binary value, and of a value longer than a workbook's cell
// holds.
inline constexpr char kBinaryText[] = "<BINARY>";
inline constexpr char kTooLargeText[] = "<Too Large>";

// The export run calls these in this order for a job with one result: begin; header with the
// columns; then per row beginRow and cell for each column in order; finish once. Such a run
// never calls planSheets, beginSheet or endSheet, and the file holds what every earlier
// version wrote.
//
// A report holds several named sheets, each with its own statement and columns. The run
// calls begin; planSheets once with every sheet's name; then per sheet, in order,
// beginSheet(name), the header and the rows as above, and endSheet(columnCount, tableRows)
// with that sheet's counts; finish once. A report has at least one sheet. The names are ones
// a workbook can hold (see job/sheet_names.h), no two the same (sameSheetName). In a report
// finish's columnCount is the widest sheet's and tableRows the sum of every sheet's; a writer
// takes each sheet's counts from endSheet.
//
// The job's choices are the writer's from its start (WriterOptions); the columns are the
// table's from its header on, and each cell is the next column's value.
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
  // Writes the header row of `columns`, which the rows that follow fill in this order.
  // Returns, per column, the rules by which its name was changed to fit the file, which the
  // run counts with the column's values (none when it is written as it is).
  std::vector<ValueChanges> header(const std::vector<ColumnInfo>& columns) {
    columns_ = columns;
    return writeHeader(columns_);
  }
  void beginRow() {
    next_ = 0;
    startRow();
  }
  // Writes the value of the row's next column; returns the rules by which the value was
  // changed to fit the file (none when it is written as it is). A value the run already
  // changed (cut at its limit, or "<BINARY>") is the run's to count.
  ValueChanges cell(const CellValue& value) { return writeCell(value, columns_[next_++]); }
  // A value longer than one part, for a writer that takesParts() (standard CSV and TSV, which
  // hold values of any length): in place of cell, beginCellParts, cellPart for each part of
  // the value in order, endCellParts. The parts are the value's bytes, cut anywhere.
  // endCellParts returns the rules by which the value was changed, as cell does.
  virtual bool takesParts() const { return false; }
  void beginCellParts() {
    ++next_;
    startCellParts();
  }
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

 protected:
  explicit OutputWriter(const WriterOptions& options) : forceFullLength_(options.forceFullLength) {}
  // Each value padded or cut to its column's declared size (WriterOptions::forceFullLength).
  bool forceFullLength() const { return forceFullLength_; }
  // The column (from 0) of the cell that writeCell is writing.
  int cellColumn() const { return static_cast<int>(next_) - 1; }

 private:
  // The steps behind header, beginRow, cell and beginCellParts, with the column in hand.
  virtual std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) = 0;
  virtual void startRow() = 0;
  virtual ValueChanges writeCell(const CellValue& value, const ColumnInfo& column) = 0;
  virtual void startCellParts() {}

  bool forceFullLength_;
  std::vector<ColumnInfo> columns_;
  std::size_t next_ = 0;
};

}  // namespace rowpress
