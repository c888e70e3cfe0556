#include "export/delimited_writer.h"

#include "export/output_file.h"
#include "export/text_rules.h"

namespace rowpress {

DelimitedWriter::DelimitedWriter(OutputType type, const WriterOptions& options)
    : DelimitedWriter(type == OutputType::Tsv ? '\t' : ',', options) {}

DelimitedWriter::DelimitedWriter(char separator, const WriterOptions& options)
    : separator_(separator), options_(options) {
  valueSpecial_[static_cast<unsigned char>(separator)] = true;
  valueSpecial_['\r'] = true;
  valueSpecial_['\n'] = true;
  if (options.quoteFields) valueSpecial_['"'] = true;
}

void DelimitedWriter::begin(OutputFile& out) {
  out_ = &out;
  if (options_.byteOrderMark) out_->writeWithoutLineFeed("\xEF\xBB\xBF");
}

void DelimitedWriter::beginHeaderRow() { firstField_ = true; }

void DelimitedWriter::headerCell(const ColumnInfo& column) {
  if (!out_) return;
  if (options_.quoteFields) {
    writeStandardField(column.name, 0, false);
    return;
  }
  writeReplaced(column.name, false);
  out_->put(separator_);
}

void DelimitedWriter::endHeaderRow() {
  if (out_) out_->endLine();
}

void DelimitedWriter::beginRow() { firstField_ = true; }

ValueChanges DelimitedWriter::cell(const CellValue& cellValue, const ColumnInfo& column,
                                   bool forceFullLength) {
  const std::string_view value = cellValue.text;
  if (!out_) return 0;
  if (options_.quoteFields) {
    // The fixed-width form is made of the value, then quoted as a whole. NULL and the empty
    // string keep their own forms, an empty field and "", which padding would make the same.
    const bool pad = forceFullLength && !value.empty();
    const FixedWidth fixed = pad ? fixedWidth(value, column.declaredSize) : FixedWidth{value, 0};
    writeStandardField(fixed.text, fixed.padding, cellValue.null);
    return fixed.text.size() < value.size() ? changeOf(ValueRule::FixedWidth) : 0;
  }
  // NULL is written like the empty string.
  ValueChanges changes = 0;
  if (forceFullLength) {
    // The replacements swap single ASCII bytes, so the cut computed on the value is the cut
    // of the prepared value.
    const FixedWidth fixed = fixedWidth(value, column.declaredSize);
    if (writeReplaced(fixed.text, true)) changes = changeOf(ValueRule::Replaced);
    writeSpaces(*out_, fixed.padding);
    if (fixed.text.size() < value.size()) changes |= changeOf(ValueRule::FixedWidth);
  } else if (writeReplaced(value, true)) {
    changes = changeOf(ValueRule::Replaced);
  }
  out_->put(separator_);
  return changes;
}

void DelimitedWriter::endRow() {
  if (out_) out_->endLine();
}

void DelimitedWriter::finish(int, long long) {}

void DelimitedWriter::writeStandardField(std::string_view text, std::size_t padding, bool null) {
  if (!firstField_) out_->put(separator_);
  firstField_ = false;
  // The empty string is quoted so that a reader can tell it from NULL.
  bool quoted = text.empty() && padding == 0 && !null;
  for (std::size_t i = 0; i < text.size() && !quoted; ++i) {
    quoted = valueSpecial_[static_cast<unsigned char>(text[i])];
  }
  if (!quoted) {
    // Nothing special in it: no line feed either.
    out_->writeWithoutLineFeed(text);
    writeSpaces(*out_, padding);
    return;
  }
  out_->put('"');
  writeQuoted(text);
  writeSpaces(*out_, padding);
  out_->put('"');
}

void DelimitedWriter::writeQuoted(std::string_view text) {
  // Inside the quotes every byte stays as it is, a line feed too: it is part of the value,
  // not a line end. Each double quote is written twice.
  std::size_t runStart = 0;
  for (std::size_t i = text.find('"'); i != std::string_view::npos; i = text.find('"', runStart)) {
    out_->writeWithoutLineFeed(text.substr(runStart, i + 1 - runStart));
    out_->put('"');
    runStart = i + 1;
  }
  out_->writeWithoutLineFeed(text.substr(runStart));
}

void DelimitedWriter::beginCellParts() {
  if (!out_) return;
  if (!firstField_) out_->put(separator_);
  firstField_ = false;
  out_->put('"');
}

void DelimitedWriter::cellPart(std::string_view part) {
  if (!out_) return;
  writeQuoted(part);
  // The line may grow past any buffer: what it holds so far goes to the file.
  out_->flushAll();
}

void DelimitedWriter::endCellParts() {
  if (out_) out_->put('"');
}

bool DelimitedWriter::writeReplaced(std::string_view text, bool lineBreaks) {
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
    return runStart != 0;
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
  return runStart != 0;
}

}  // namespace rowpress
