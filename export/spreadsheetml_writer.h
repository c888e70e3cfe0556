// The writer of the Xml output type: an Excel XML Spreadsheet 2003 (SpreadsheetML) workbook
// with one worksheet "rowpress" holding a header row of String cells and one row per data row.
// `begin` writes a placeholder table tag at byte offset 1052; `finish` writes the trailer and
// rewrites that tag in place with the real column and row counts. The writer never closes
// the file: the export run does.
#pragma once

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

  SpreadsheetMlWriter() = default;

  // The file must be empty when `begin` is called: the tag offset counts from its start.
  void begin(OutputFile& out) override;
  void beginHeaderRow() override;
  void headerCell(const ColumnInfo& column) override;
  void endHeaderRow() override;
  void beginRow() override;
  void cell(const CellValue& value, const ColumnInfo& column, bool forceFullLength) override;
  void endRow() override;
  // Writes the trailer and rewrites the table tag. Counts whose tag would not fit the
  // placeholder's line (more than ten digits together) leave the placeholder as it is.
  void finish(int columnCount, long long tableRows) override;

  // A Number cell is written only for these SQL types (and numeric text).
  static bool isNumericType(int sqlType);

 private:
  void writeStringContent(std::string_view value, const ColumnInfo& column, bool forceFullLength);

  OutputFile* out_ = nullptr;
};

}  // namespace rowpress
