// The writer of the Xml output type: an Excel XML Spreadsheet 2003 (SpreadsheetML) workbook.
// A job with one result gets one worksheet "rowpress", which `begin` starts; a report one
// worksheet per sheet, named by it, in order, only the first of them selected (the first
// beginSheet takes back the lines of "rowpress", still in the file's buffer). A sheet holds a
// header row of String cells and one row per data row. Each sheet's table tag starts as a
// placeholder (the first sheet's at byte offset 1052) that is rewritten in place with the sheet's
// real column and row counts when the sheet ends (`endSheet`, or `finish` for the one sheet of a
// job). The writer never closes the file: the export run does.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string_view>

#include "export/output_writer.h"

namespace rowpress {

class SpreadsheetMlWriter final : public OutputWriter {
 public:
  // Byte offset of the table tag: the 32 fixed lines before it, each with its CR LF.
  static constexpr std::size_t kTableTagOffset = 1052;
  // Room for the rewritten tag: the placeholder line with its CR LF.
  static constexpr std::size_t kTableTagRoom = 99;
  // A String value longer than this many bytes is written as "&lt;Too Large&gt;".
  static constexpr std::size_t kStringLimit = 32765;

  explicit SpreadsheetMlWriter(const WriterOptions& options = {}) : OutputWriter(options) {}

  // The file must be empty when `begin` is called: the tag offset counts from its start.
  void begin(OutputFile& out) override;
  // Starts a worksheet named `name` (escaped as XML text) with its own table.
  void beginSheet(std::string_view name) override;
  void endRow() override;
  // Ends the sheet's table and worksheet and rewrites its table tag. Counts whose tag would
  // not fit the placeholder's line (more than ten digits together) leave the placeholder as
  // it is.
  void endSheet(int columnCount, long long tableRows) override;
  // Ends a sheet still open as endSheet does (a job's one sheet, which it opens when nothing
  // did) and then the workbook.
  void finish(int columnCount, long long tableRows) override;

  // A Number cell is written only for these SQL types (and numeric text).
  static bool isNumericType(int sqlType);

 private:
  std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) override;
  void startRow() override;
  ValueChanges writeCell(const CellValue& value, const ColumnInfo& column) override;
  ValueChanges writeStringContent(std::string_view value, const ColumnInfo& column);

  // Writes the placeholder table tag of a sheet and remembers where it is.
  void startTable();
  void openDefaultSheet();

  OutputFile* out_ = nullptr;
  int sheets_ = 0;          // the sheets started
  bool sheetOpen_ = false;  // a sheet is started and not ended
  off_t tagOffset_ = 0;     // where the open sheet's table tag is
  // The default sheet "rowpress" that `begin` starts, while nothing is written to it, and
  // where it starts.
  bool defaultSheetEmpty_ = false;
  off_t defaultSheetStart_ = 0;
};

}  // namespace rowpress
