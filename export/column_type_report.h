// The report of the SQL types of the result's columns that every run leaves in the default
// directory as lasttablecolumntypeinfo.csv.
#pragma once

#include <cstdint>
#include <string>

#include "export/output_file.h"
#include "export/output_writer.h"

namespace rowpress {

inline constexpr char kColumnTypeReportName[] = "lasttablecolumntypeinfo.csv";

// The explanation of an ODBC SQL type code, or "*UNKNOWN COLUMN TYPE*".
const char* columnTypeDescription(std::int16_t sqlType);

class ColumnTypeReport {
 public:
  // Creates or empties the report in `directory` and writes the heading line. When the file
  // cannot be created the report stays off for this run; nothing is shown.
  void open(const std::string& directory);
  void addColumn(int ordinal, const ColumnInfo& column);
  void close();

 private:
  OutputFile file_;
};

}  // namespace rowpress
