// The writer of the Csv and Tsv output types: one line per row, ended by CR LF. By default
// every field is followed by the separator (the last one too) and nothing is quoted: in
// values the separator becomes ";" and CR and LF become "|"; header names get only the
// separator replacement. With WriterOptions::quoteFields the lines are standard CSV
// (RFC 4180, whose line end is CR LF too): fields are separated, not ended, by the
// separator; a field that holds the separator, a double quote, CR or LF is put in double
// quotes with its double quotes doubled, and every other byte, line breaks included, is
// written as it is; a NULL is an empty field, the empty string "". Header names follow the
// same rules. A file holds one table: the run writes each sheet of a report to a file of its
// own, so a writer never sees a second sheet, and beginSheet and endSheet write nothing.
// With WriterOptions::decimalComma the values of numeric columns have "," for their decimal
// point; nothing else of them changes. With WriterOptions::encoding the file is written in
// that encoding (see text_encoding.h); a value with a character the encoding cannot hold
// meets the rule "unencodable".
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "export/output_writer.h"
#include "export/text_encoding.h"
#include "job/job_settings.h"

namespace rowpress {

class DelimitedWriter final : public OutputWriter {
 public:
  // OutputType::Tsv separates with a tab; every other type (Csv) with a comma, or with
  // standard CSV the options' separator when they give one.
  explicit DelimitedWriter(OutputType type, const WriterOptions& options = {});
  explicit DelimitedWriter(char separator, const WriterOptions& options = {});

  char separator() const { return separator_; }

  void begin(OutputFile& out) override;
  // Standard CSV takes a long value in parts, always quoted (a separator may come late).
  bool takesParts() const override { return options_.quoteFields; }
  void cellPart(std::string_view part) override;
  ValueChanges endCellParts() override;
  void endRow() override;
  void finish(int columnCount, long long tableRows) override;

 private:
  std::vector<ValueChanges> writeHeader(const std::vector<ColumnInfo>& columns) override;
  void startRow() override;
  ValueChanges writeCell(const CellValue& value, const ColumnInfo& column) override;
  void startCellParts() override;
  // Writes `text` with each double quote doubled.
  void writeQuoted(std::string_view text);
  // Writes `text` with the separator turned into ";" and, with `lineBreaks`, CR and LF
  // turned into "|"; true when a character was replaced.
  bool writeReplaced(std::string_view text, bool lineBreaks);
  // Standard CSV: writes the separator before every field but the first of its line, then
  // `text` followed by `padding` spaces, in double quotes when `text` needs them. An empty
  // field that is not `null` is written as "".
  void writeStandardField(std::string_view text, std::size_t padding, bool null);
  // A numeric column's value with "," for its decimal point, held in scratch_.
  std::string_view withDecimalComma(std::string_view value);

  OutputFile* out_ = nullptr;
  char separator_;
  WriterOptions options_;
  std::string scratch_;
  // The file's encoder when it is not UTF-8 (the file owns it); checks each value.
  TextEncoder* encoder_ = nullptr;
  // A value in parts: the bytes of a character cut at the end of the last part, and whether a
  // character the encoding cannot hold was met.
  std::string partTail_;
  bool partsUnencodable_ = false;
  bool firstField_ = true;  // standard CSV: no field of the line is written yet
  // The bytes that a value cannot hold as they are: the separator, CR and LF; in standard
  // CSV the double quote too.
  bool valueSpecial_[256] = {};
};

// Why the job's separator, decimal comma or encoding cannot be used for its output: the run
// refuses the job before connecting. Nothing when they can.
std::optional<std::string> delimitedOptionsProblem(const JobSettings& job);

}  // namespace rowpress
