// The writer of the Csv and Tsv output types: one line per row, every field followed by the
// separator (the last one too), no quoting. In values the separator becomes ";" and CR and
// LF become "|"; header names get only the separator replacement.
#pragma once

#include <string_view>

#include "export/output_writer.h"
#include "job/job_settings.h"

namespace rowpress {

class DelimitedWriter final : public OutputWriter {
 public:
  // OutputType::Tsv separates with a tab; every other type (Csv) with a comma.
  explicit DelimitedWriter(OutputType type);
  explicit DelimitedWriter(char separator);

  char separator() const { return separator_; }

  void begin(OutputFile& out) override;
  void beginHeaderRow() override;
  void headerCell(const ColumnInfo& column) override;
  void endHeaderRow() override;
  void beginRow() override;
  void cell(const CellValue& value, const ColumnInfo& column, bool forceFullLength) override;
  void endRow() override;
  void finish(int columnCount, long long tableRows) override;

 private:
  // Writes `text` with the separator turned into ";" and, with `lineBreaks`, CR and LF
  // turned into "|".
  void writeReplaced(std::string_view text, bool lineBreaks);

  OutputFile* out_ = nullptr;
  char separator_;
  // The bytes that a value cannot hold as they are: the separator, CR and LF.
  bool valueSpecial_[256] = {};
};

}  // namespace rowpress
