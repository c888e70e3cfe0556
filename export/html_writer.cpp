#include "export/html_writer.h"

#include "export/output_file.h"
#include "export/text_rules.h"

namespace rowpress {

void HtmlWriter::begin(OutputFile& out) {
  out_ = &out;
  out_->write("<table border=\"1\">\n<tr>\n");
}

void HtmlWriter::beginHeaderRow() {}  // begin opened the header row

void HtmlWriter::headerCell(const ColumnInfo& column) {
  if (!out_) return;
  out_->write("<th>");
  writeHtmlEscaped(*out_, column.name);
  out_->write("</th>\n");
}

void HtmlWriter::endHeaderRow() {
  if (out_) out_->write("</tr>\n");
}

void HtmlWriter::beginRow() {
  if (out_) out_->write("<tr>\n");
}

void HtmlWriter::cell(const CellValue& cellValue, const ColumnInfo& column, bool forceFullLength) {
  // NULL is written like the empty string.
  const std::string_view value = cellValue.text;
  if (!out_) return;
  out_->write("<td>");
  if (forceFullLength) {
    const FixedWidth fixed = fixedWidth(value, column.declaredSize);
    writeHtmlEscaped(*out_, fixed.text);
    writeSpaces(*out_, fixed.padding);
  } else {
    writeHtmlEscaped(*out_, value);
  }
  out_->write("</td>\n");
}

void HtmlWriter::endRow() {
  if (out_) out_->write("</tr>\n");
}

void HtmlWriter::finish(int, long long) {
  if (out_) out_->write("</table>\n");
}

}  // namespace rowpress
