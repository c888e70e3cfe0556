// Shared by the writers' tests: a column description, and a whole result written through a
// writer in the export run's order of calls, returned as the file's bytes.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "export/output_file.h"
#include "export/output_writer.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/report_sheets.h"

namespace rowpress::support {

inline ColumnInfo column(std::string name, std::int32_t declaredSize = 10,
                         std::int16_t sqlType = 12) {
  ColumnInfo c;
  c.name = std::move(name);
  c.sqlType = sqlType;
  c.declaredSize = declaredSize;
  return c;
}

// Writes the header row and `rows` (of std::string, or of std::optional<std::string> to
// hold NULLs) to a new file at `path` and returns its bytes.
template <class Value>
std::string writeResult(OutputWriter& writer, const std::string& path,
                        const std::vector<ColumnInfo>& columns,
                        const std::vector<std::vector<Value>>& rows) {
  OutputFile out = OutputFile::create(path, true);
  EXPECT_TRUE(out.isOpen());
  writer.begin(out);
  writer.header(columns);
  for (const auto& row : rows) {
    writer.beginRow();
    for (const auto& value : row) writer.cell(cellOf(value));
    writer.endRow();
  }
  writer.finish(static_cast<int>(columns.size()), static_cast<long long>(rows.size()) + 1);
  EXPECT_TRUE(out.close());
  return readFile(path);
}

// Writes a report to a new file at `path` and returns its bytes.
inline std::string writeReport(OutputWriter& writer, const std::string& path,
                               const std::vector<ReportSheet>& sheets) {
  OutputFile out = OutputFile::create(path, true);
  EXPECT_TRUE(out.isOpen());
  writer.begin(out);
  writeSheets(writer, sheets);
  EXPECT_TRUE(out.close()) << out.errorText();
  return readFile(path);
}

}  // namespace rowpress::support
