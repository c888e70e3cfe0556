#include "export/delimited_writer.h"

#include "export/output_file.h"
#include "export/text_rules.h"

namespace rowpress {

DelimitedWriter::DelimitedWriter(OutputType type)
    : DelimitedWriter(type == OutputType::Tsv ? '\t' : ',') {}

DelimitedWriter::DelimitedWriter(char separator) : separator_(separator) {
  valueSpecial_[static_cast<unsigned char>(separator)] = true;
  valueSpecial_['\r'] = true;
  valueSpecial_['\n'] = true;
}

void DelimitedWriter::begin(OutputFile& out) { out_ = &out; }

void DelimitedWriter::beginHeaderRow() {}

void DelimitedWriter::headerCell(const ColumnInfo& column) {
  if (!out_) return;
  writeReplaced(column.name, false);
  out_->put(separator_);
}

void DelimitedWriter::endHeaderRow() {
  if (out_) out_->endLine();
}

void DelimitedWriter::beginRow() {}

void DelimitedWriter::cell(const CellValue& cellValue, const ColumnInfo& column,
                           bool forceFullLength) {
  // NULL is written like the empty string.
  const std::string_view value = cellValue.text;
  if (!out_) return;
  if (forceFullLength) {
    // The replacements swap single ASCII bytes, so the cut computed on the value is the cut
    // of the prepared value.
    const FixedWidth fixed = fixedWidth(value, column.declaredSize);
    writeReplaced(fixed.text, true);
    writeSpaces(*out_, fixed.padding);
  } else {
    writeReplaced(value, true);
  }
  out_->put(separator_);
}

void DelimitedWriter::endRow() {
  if (out_) out_->endLine();
}

void DelimitedWriter::finish(int, long long) {}

void DelimitedWriter::writeReplaced(std::string_view text, bool lineBreaks) {
  if (!lineBreaks) {
    // A header name: only the separator is replaced, and a line break in it stays one.
    std::size_t runStart = 0;
    for (std::size_t i = text.find(separator_); i != std::string_view::npos;
         i = text.find(separator_, runStart)) {
      out_->write(text.substr(runStart, i - runStart));
      out_->put(';');
      runStart = i + 1;
    }
    out_->write(text.substr(runStart));
    return;
  }
  // A value: the runs between replaced characters hold no line feed, so they go to the file
  // without another scan.
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!valueSpecial_[c]) continue;
    out_->writeWithoutLineFeed(text.substr(runStart, i - runStart));
    out_->put(c == static_cast<unsigned char>(separator_) ? ';' : '|');
    runStart = i + 1;
  }
  out_->writeWithoutLineFeed(text.substr(runStart));
}

}  // namespace rowpress
