// The columns of a result and the values of its rows, as the result cursor hands them to the
// export run and the run hands them to its writers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rowpress {

// One result column as SQLDescribeCol describes it.
struct ColumnInfo {
  std::string name;               // at most 255 bytes
  std::int16_t sqlType = 0;       // ODBC SQL type code
  std::int32_t declaredSize = 0;  // compared as a signed value
  std::int16_t decimalDigits = 0;
  bool nameCut = false;  // the driver's name was longer than 255 bytes
  // A timestamp that the database gives in the session's time zone (PostgreSQL's timestamptz,
  // MariaDB's TIMESTAMP); told only on a session whose job set a time zone.
  bool zoned = false;
};

// One value of a row as the driver delivered it: its text, and whether it was NULL (the
// text is then empty). The writers of today write both alike; a writer may tell them apart.
// `cut`: the value was longer than a run keeps and the text is its beginning.
struct CellValue {
  std::string_view text;
  bool null = false;
  bool cut = false;
};

// Binary columns (SQL_BINARY, SQL_VARBINARY, SQL_LONGVARBINARY) are never fetched; their
// value is "<BINARY>".
inline bool isBinaryType(int sqlType) { return sqlType == -2 || sqlType == -3 || sqlType == -4; }

// Approximate numbers (SQL_FLOAT, SQL_REAL, SQL_DOUBLE): their text is the shortest form of a
// binary value, which a spreadsheet's cell holds exactly whatever its number of digits.
inline bool isApproximateType(int sqlType) { return sqlType == 6 || sqlType == 7 || sqlType == 8; }

}  // namespace rowpress
