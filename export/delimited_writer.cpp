#include "export/delimited_writer.h"

#include "export/output_file.h"
#include "export/text_rules.h"

namespace rowpress {

DelimitedWriter::DelimitedWriter(OutputType type)
    : separator_(type == OutputType::Tsv ? '\t' : ',') {}

DelimitedWriter::DelimitedWriter(char separator) : separator_(separator) {}

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

void DelimitedWriter::cell(std::string_view value, const ColumnInfo& column, bool forceFullLength) {
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
  const char sep = separator_;
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    char replacement;
    if (c == sep) {
      replacement = ';';
    } else if (lineBreaks && (c == '\r' || c == '\n')) {
      replacement = '|';
    } else {
      continue;
    }
    if (i > runStart) out_->write(text.substr(runStart, i - runStart));
    out_->put(replacement);
    runStart = i + 1;
  }
  if (text.size() > runStart) out_->write(text.substr(runStart));
}

}  // namespace rowpress
