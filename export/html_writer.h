// The writer of the Html output type: a bare table, one line per tag and cell, with "&",
// "<", ">" and '"' of names and values written as entity references so that the data shows
// as text. Line breaks inside a value are written as they are (a line feed becomes CR LF).
// A report is one page: each sheet is its name as a heading, "<h2>NAME</h2>" with the name
// escaped as a value is, followed by the sheet's table.
#pragma once

#include <string_view>

#include "export/output_writer.h"

namespace rowpress {

class HtmlWriter final : public OutputWriter {
 public:
  explicit HtmlWriter(const WriterOptions& options = {}) : OutputWriter(options) {}

  void begin(OutputFile& out) override;
  void beginSheet(std::string_view name) override;
  void endRow() override;
  void endSheet(int columnCount, long long tableRows) override;
  void finish(int columnCount, long long tableRows) override;

 private:
  std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) override;
  void startRow() override;
  ValueChanges writeCell(const CellValue& value, const ColumnInfo& column) override;
  void startTable();

  OutputFile* out_ = nullptr;
  bool tableOpen_ = false;
  int tables_ = 0;
};

}  // namespace rowpress
