#include "export/delimited_writer.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include "export/output_file.h"
#include "export/spreadsheetml_writer.h"
#include "export/text_rules.h"

namespace rowpress {

DelimitedWriter::DelimitedWriter(OutputType type, const WriterOptions& options)
    : DelimitedWriter(type == OutputType::Tsv                         ? '\t'
                      : options.quoteFields && options.separator != 0 ? options.separator
                                                                      : ',',
                      options) {}

DelimitedWriter::DelimitedWriter(char separator, const WriterOptions& options)
    : OutputWriter(options), separator_(separator), options_(options) {
  valueSpecial_[static_cast<unsigned char>(separator)] = true;
  valueSpecial_['\r'] = true;
  valueSpecial_['\n'] = true;
  if (options.quoteFields) valueSpecial_['"'] = true;
}

void DelimitedWriter::begin(OutputFile& out) {
  out_ = &out;
  if (!isUtf8Encoding(options_.encoding)) {
    std::unique_ptr<TextEncoder> encoder = TextEncoder::open(options_.encoding);
    if (!encoder) {
      out.fail(EINVAL, "the encoding \"" + options_.encoding + "\" is not one that iconv knows");
      return;
    }
    encoder_ = encoder.get();
    out.encodeWith(std::move(encoder));
    // U+FEFF, which the encoder writes in the file's byte order.
    if (needsByteOrderMark(options_.encoding)) out.writeWithoutLineFeed("\xEF\xBB\xBF");
  }
  if (options_.byteOrderMark) out_->writeWithoutLineFeed("\xEF\xBB\xBF");
}

std::vector<ValueChanges> DelimitedWriter::writeHeader(const std::vector<ColumnInfo>& columns) {
  std::vector<ValueChanges> changes(columns.size(), 0);
  if (!out_) return changes;
  firstField_ = true;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const std::string& name = columns[k].name;
    if (options_.quoteFields) {
      writeStandardField(name, 0, false);
    } else {
      writeReplaced(name, false);
      out_->put(separator_);
    }
    if (encoder_ && !encoder_->holds(name)) changes[k] = changeOf(ValueRule::Unencodable);
  }
  out_->endLine();
  return changes;
}

void DelimitedWriter::startRow() { firstField_ = true; }

ValueChanges DelimitedWriter::writeCell(const CellValue& cellValue, const ColumnInfo& column) {
  std::string_view value = cellValue.text;
  if (!out_) return 0;
  if (options_.decimalComma && SpreadsheetMlWriter::isNumericType(column.sqlType)) {
    value = withDecimalComma(value);
  }
  if (options_.quoteFields) {
    // The fixed-width form is made of the value, then quoted as a whole. NULL and the empty
    // string keep their own forms, an empty field and "", which padding would make the same.
    const bool pad = forceFullLength() && !value.empty();
    const FixedWidth fixed = pad ? fixedWidth(value, column.declaredSize) : FixedWidth{value, 0};
    writeStandardField(fixed.text, fixed.padding, cellValue.null);
    ValueChanges changes = fixed.text.size() < value.size() ? changeOf(ValueRule::FixedWidth) : 0;
    if (encoder_ && !encoder_->holds(fixed.text)) changes |= changeOf(ValueRule::Unencodable);
    return changes;
  }
  // NULL is written like the empty string.
  ValueChanges changes = 0;
  if (forceFullLength()) {
    // The replacements swap single ASCII bytes, so the cut computed on the value is the cut
    // of the prepared value.
    const FixedWidth fixed = fixedWidth(value, column.declaredSize);
    if (writeReplaced(fixed.text, true)) changes = changeOf(ValueRule::Replaced);
    writeSpaces(*out_, fixed.padding);
    if (fixed.text.size() < value.size()) changes |= changeOf(ValueRule::FixedWidth);
    if (encoder_ && !encoder_->holds(fixed.text)) changes |= changeOf(ValueRule::Unencodable);
  } else {
    if (writeReplaced(value, true)) changes = changeOf(ValueRule::Replaced);
    if (encoder_ && !encoder_->holds(value)) changes |= changeOf(ValueRule::Unencodable);
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

std::string_view DelimitedWriter::withDecimalComma(std::string_view value) {
  if (value.find('.') == std::string_view::npos) return value;
  scratch_.assign(value);
  std::replace(scratch_.begin(), scratch_.end(), '.', ',');
  return scratch_;
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

void DelimitedWriter::startCellParts() {
  if (!out_) return;
  if (!firstField_) out_->put(separator_);
  firstField_ = false;
  out_->put('"');
  partTail_.clear();
  partsUnencodable_ = false;
}

void DelimitedWriter::cellPart(std::string_view part) {
  if (!out_) return;
  writeQuoted(part);
  if (encoder_) {
    // A character cut between two parts is checked whole, with the next part.
    partTail_.append(part);
    const std::size_t whole = wholeCharactersOf(partTail_);
    if (!encoder_->holds(std::string_view(partTail_).substr(0, whole))) partsUnencodable_ = true;
    partTail_.erase(0, whole);
  }
  // The line may grow past any buffer: what it holds so far goes to the file.
  out_->flushAll();
}

ValueChanges DelimitedWriter::endCellParts() {
  if (!out_) return 0;
  out_->put('"');
  if (encoder_ && !partTail_.empty() && !encoder_->holds(partTail_)) partsUnencodable_ = true;
  return partsUnencodable_ ? changeOf(ValueRule::Unencodable) : 0;
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

std::optional<std::string> delimitedOptionsProblem(const JobSettings& job) {
  const std::string& separator = job.separator;
  if (!separator.empty() && separator != "," && separator != ";" && separator != "|") {
    return "The separator \"" + separator + "\" is not one of , ; | and was refused.";
  }
  if (!isUtf8Encoding(job.encoding) && !TextEncoder::open(job.encoding)) {
    return "The encoding \"" + job.encoding + "\" is not one that iconv knows and was refused.";
  }
  const OutputType type = outputTypeOf(job);
  // The other outputs have no separator and write numbers as numbers.
  if (type != OutputType::Csv && type != OutputType::Tsv) return std::nullopt;
  const bool otherSeparator = !separator.empty() && separator != ",";
  if (otherSeparator && type == OutputType::Tsv) {
    return "The separator \"" + separator + "\" was refused: TSV output is separated by the tab.";
  }
  if (otherSeparator && !job.quoteFields) {
    return "The separator \"" + separator +
           "\" was refused without Quote Fields: the classic CSV replaces a comma in a value, "
           "not another separator; standard CSV quotes it.";
  }
  if (job.byteOrderMark && !isUtf8Encoding(job.encoding)) {
    return "The UTF-8 byte order mark was refused with the encoding \"" + job.encoding +
           "\": it starts UTF-8 files only (UTF-16 has a mark of its own).";
  }
  if (job.decimalComma && type == OutputType::Csv && !otherSeparator) {
    return std::string(
        "The decimal comma was refused with the comma as separator: a reader could not tell "
        "a number's comma from the separator; set the separator to ; or |.");
  }
  return std::nullopt;
}

}  // namespace rowpress
