#include "export/html_writer.h"

#include "export/output_file.h"
#include "export/text_rules.h"

namespace rowpress {

namespace {
constexpr std::string_view kTableStart = "<table border=\"1\">\n";
}  // namespace

void HtmlWriter::begin(OutputFile& out) {
  out_ = &out;
  tableOpen_ = false;
  tables_ = 0;
}

void HtmlWriter::beginSheet(std::string_view name) {
  if (!out_) return;
  endSheet(0, 0);
  out_->write("<h2>");
  writeHtmlEscaped(*out_, name);
  out_->write("</h2>\n");
  startTable();
}

void HtmlWriter::startTable() {
  out_->write(kTableStart);
  tableOpen_ = true;
  ++tables_;
}

std::vector<ValueChanges> HtmlWriter::writeHeader(const std::vector<ColumnInfo>& columns) {
  if (!out_) return std::vector<ValueChanges>(columns.size(), 0);
  // A job with one result has one table, without a heading.
  if (!tableOpen_) startTable();
  out_->write("<tr>\n");
  for (const ColumnInfo& column : columns) {
    out_->write("<th>");
    writeHtmlEscaped(*out_, column.name);
    out_->write("</th>\n");
  }
  out_->write("</tr>\n");
  return std::vector<ValueChanges>(columns.size(), 0);
}

void HtmlWriter::startRow() {
  if (out_) out_->write("<tr>\n");
}

ValueChanges HtmlWriter::writeCell(const CellValue& cellValue, const ColumnInfo& column) {
  // NULL is written like the empty string.
  const std::string_view value = cellValue.text;
  if (!out_) return 0;
  out_->write("<td>");
  ValueChanges changes = 0;
  std::string_view written = value;
  if (forceFullLength()) {
    const FixedWidth fixed = fixedWidth(value, column.declaredSize);
    written = fixed.text;
    writeHtmlEscaped(*out_, written);
    writeSpaces(*out_, fixed.padding);
    if (fixed.text.size() < value.size()) changes = changeOf(ValueRule::FixedWidth);
  } else {
    writeHtmlEscaped(*out_, value);
  }
  // The file is text whose lines end in CR LF, a value's line feeds included.
  if (written.find('\n') != std::string_view::npos) changes |= changeOf(ValueRule::LineBreak);
  out_->write("</td>\n");
  return changes;
}

void HtmlWriter::endRow() {
  if (out_) out_->write("</tr>\n");
}

void HtmlWriter::endSheet(int, long long) {
  if (!out_ || !tableOpen_) return;
  out_->write("</table>\n");
  tableOpen_ = false;
}

void HtmlWriter::finish(int columnCount, long long tableRows) {
  if (!out_) return;
  // A job with one result that ended before its header row still gets its table.
  if (tables_ == 0) {
    startTable();
    out_->write("<tr>\n");
  }
  endSheet(columnCount, tableRows);
}

}  // namespace rowpress
