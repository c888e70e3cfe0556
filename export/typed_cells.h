// What a value's text is as a typed cell of a workbook: a date, a time or both as the
// spreadsheet's serial number, and a numeric column's text as the number it is.
#pragma once

#include <cstddef>
#include <string_view>

#include "db/result_columns.h"

namespace rowpress {

// What a column's values become in the workbook, by its SQL type.
enum class CellKind { Text, Number, DateTime, Boolean, Binary };
CellKind cellKindOf(int sqlType);

// The widest column, in characters: a wide text column stays usable on the screen.
inline constexpr int kWidestColumn = 50;
// The characters of a column's width: its values' room as the declared size says, and
// enough for the header's name beside the autofilter's button.
double columnWidth(const ColumnInfo& column, CellKind kind, std::size_t nameLength);

// Whether the SQL type is a date, a time of day or a timestamp (SQL_DATE, SQL_TYPE_DATE, ...).
bool isDateTimeType(int sqlType);

// A date, a time of day or both, as SQL writes them: "YYYY-MM-DD", "HH:MM:SS" and
// "YYYY-MM-DD HH:MM:SS", the seconds with an optional fraction. Anything else (a zone offset,
// a time of 24:00 or more, a date that does not exist) is not one.
struct SqlDateTime {
  bool hasDate = false;
  bool hasTime = false;
  bool hasFraction = false;  // a fraction of a second that is not zero
  bool fractionCut = false;  // digits that are not zero past the millisecond were left out
  int year = 0, month = 0, day = 0;
  double seconds = 0;  // since midnight
};
bool parseSqlDateTime(std::string_view text, SqlDateTime& value);

// The spreadsheet's serial number of a date and time (days since 1899-12-30, the time as the
// fraction of a day), or nothing when the date lies outside 1900-03-01..9999-12-31, where the
// spreadsheet's serial numbers do not match the calendar or end.
bool spreadsheetSerial(const SqlDateTime& value, double& serial);

// The number that a numeric column's text is as a cell: a real number, not longer than the
// spreadsheet keeps (a decimal of an approximate column is never too long: its digits are a
// double's), or for an approximate column a finite double in exponent form. NaN, infinities
// and anything else stay text.
bool cellNumber(std::string_view text, bool approximate, double& number);

// Whether the 16 significant digits that the library writes of a number give it back. A double
// that needs 17 (0.1 + 0.2 is 0.30000000000000004) would become another number.
bool keptIn16Digits(double number);

}  // namespace rowpress
