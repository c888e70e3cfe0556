// Shared by the writers' tests: a value as the export run hands it over, and the sheets of a
// report written through a writer in the export run's order of calls.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "export/output_writer.h"

namespace rowpress::support {

// A value as the export run hands it over: std::nullopt stands for NULL.
inline CellValue cellOf(const std::string& value) { return {value}; }
inline CellValue cellOf(const std::optional<std::string>& value) {
  return value ? CellValue{*value} : CellValue{{}, true};
}

// One sheet of a report: its name, its columns and its rows (std::nullopt stands for NULL).
struct ReportSheet {
  std::string name;
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;
};

// Writes the sheets of a report through `writer`, which has begun its file, in the export
// run's order of calls: planSheets, per sheet beginSheet, header row, rows and endSheet with
// the sheet's counts, then finish with the widest sheet's columns and all the table rows.
inline void writeSheets(OutputWriter& writer, const std::vector<ReportSheet>& sheets) {
  std::vector<std::string> names;
  for (const ReportSheet& sheet : sheets) names.push_back(sheet.name);
  writer.planSheets(names);
  int widest = 0;
  long long tableRows = 0;
  for (const ReportSheet& sheet : sheets) {
    writer.beginSheet(sheet.name);
    writer.header(sheet.columns);
    for (const auto& row : sheet.rows) {
      writer.beginRow();
      for (const auto& value : row) writer.cell(cellOf(value));
      writer.endRow();
    }
    const int columns = static_cast<int>(sheet.columns.size());
    const long long rows = static_cast<long long>(sheet.rows.size()) + 1;
    writer.endSheet(columns, rows);
    widest = std::max(widest, columns);
    tableRows += rows;
  }
  writer.finish(widest, tableRows);
}

}  // namespace rowpress::support
