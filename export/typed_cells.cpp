#include "export/typed_cells.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "export/spreadsheetml_writer.h"
#include "export/text_rules.h"

namespace rowpress {

namespace {

// Reads exactly `digits` ASCII digits at `at`.
bool readDigits(std::string_view text, std::size_t at, std::size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// "YYYY-MM-DD" at the start of `text`.
bool readDate(std::string_view text, SqlDateTime& value) {
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (!readDigits(text, 0, 4, value.year) || !readDigits(text, 5, 2, value.month) ||
      !readDigits(text, 8, 2, value.day)) {
    return false;
  }
  return value.month >= 1 && value.month <= 12 && value.day >= 1 &&
         value.day <= daysInMonth(value.year, value.month);
}

// "HH:MM:SS" with an optional fraction of a second, the whole of `text`.
bool readTime(std::string_view text, SqlDateTime& value) {
  int hour = 0, minute = 0, second = 0;
  if (text.size() < 8 || text[2] != ':' || text[5] != ':') return false;
  if (!readDigits(text, 0, 2, hour) || !readDigits(text, 3, 2, minute) ||
      !readDigits(text, 6, 2, second) || hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  // The workbook shows milliseconds: the fraction is cut there, never rounded up, so that
  // 23:59:59.9999 stays on its own day (and 9999-12-31 within the calendar).
  int millis = 0;
  if (text.size() > 8) {
    if (text[8] != '.' || text.size() == 9) return false;
    for (std::size_t i = 9; i < text.size(); ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      if (i < 12) millis = millis * 10 + (text[i] - '0');
      if (i >= 12 && text[i] != '0') value.fractionCut = true;
    }
    for (std::size_t i = std::min<std::size_t>(text.size(), 12); i < 12; ++i) millis *= 10;
  }
  value.hasFraction = millis != 0;
  value.seconds = hour * 3600.0 + minute * 60.0 + second + millis / 1000.0;
  return true;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long daysFromCivil(int year, int month, int day) {
  const long long y = year - (month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yearOfEra = y - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// A number in exponent form, as drivers write approximate values: an optional sign, digits
// with at most one full stop, then "e" or "E" and a whole exponent with an optional sign.
bool isExponentNumber(std::string_view text) {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos || !isNumericText(text.substr(0, e))) return false;
  std::string_view exponent = text.substr(e + 1);
  if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) exponent.remove_prefix(1);
  return !exponent.empty() &&
         std::all_of(exponent.begin(), exponent.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool isDateTimeType(int sqlType) {
  switch (sqlType) {
    case 9:   // SQL_DATE
    case 10:  // SQL_TIME
    case 11:  // SQL_TIMESTAMP
    case 91:  // SQL_TYPE_DATE
    case 92:  // SQL_TYPE_TIME
    case 93:  // SQL_TYPE_TIMESTAMP
      return true;
    default:
      return false;
  }
}

bool parseSqlDateTime(std::string_view text, SqlDateTime& value) {
  value = SqlDateTime{};
  if (text.size() >= 10 && text[4] == '-') {
    if (!readDate(text, value)) return false;
    value.hasDate = true;
    if (text.size() == 10) return true;
    if (text[10] != ' ' && text[10] != 'T') return false;
    value.hasTime = readTime(text.substr(11), value);
    return value.hasTime;
  }
  value.hasTime = readTime(text, value);
  return value.hasTime;
}

bool spreadsheetSerial(const SqlDateTime& value, double& serial) {
  double days = 0;
  if (value.hasDate) {
    if (value.year > 9999 ||
        daysFromCivil(value.year, value.month, value.day) < daysFromCivil(1900, 3, 1)) {
      return false;
    }
    days = static_cast<double>(daysFromCivil(value.year, value.month, value.day) -
                               daysFromCivil(1899, 12, 30));
  }
  serial = days + value.seconds / 86400.0;
  return true;
}

bool cellNumber(std::string_view text, bool approximate, double& number) {
  if (!(isNumericText(text) && !isLongNumber(text, approximate)) &&
      !(approximate && isExponentNumber(text))) {
    return false;
  }
  const std::string_view digits = text[0] == '+' ? text.substr(1) : text;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return error == std::errc() && end == digits.data() + digits.size() && std::isfinite(number);
}

bool keptIn16Digits(double number) {
  char text[40];
  const auto written =
      std::to_chars(text, text + sizeof text, number, std::chars_format::general, 16);
  double back = 0;
  const auto read = std::from_chars(text, written.ptr, back);
  return written.ec == std::errc() && read.ec == std::errc() && back == number;
}

constexpr int kBitType = -7;  // SQL_BIT

CellKind cellKindOf(int sqlType) {
  if (isBinaryType(sqlType)) return CellKind::Binary;
  if (SpreadsheetMlWriter::isNumericType(sqlType)) return CellKind::Number;
  if (isDateTimeType(sqlType)) return CellKind::DateTime;
  if (sqlType == kBitType) return CellKind::Boolean;
  return CellKind::Text;
}

double columnWidth(const ColumnInfo& column, CellKind kind, std::size_t nameLength) {
  int room = 0;
  switch (kind) {
    case CellKind::DateTime:
      room = column.sqlType == 91 || column.sqlType == 9    ? 10
             : column.sqlType == 92 || column.sqlType == 10 ? 12
                                                            : 23;
      break;
    case CellKind::Boolean:
      room = 6;
      break;
    case CellKind::Binary:
      room = 8;
      break;
    case CellKind::Number:
      // The sign and the decimal point beside the digits.
      room = column.declaredSize > 0 ? std::min(column.declaredSize, 100) + 2 : 12;
      break;
    case CellKind::Text:
      room = column.declaredSize > 0 ? std::min(column.declaredSize, 100) : 20;
      break;
  }
  const int header = static_cast<int>(std::min<std::size_t>(nameLength, 100)) + 3;
  return std::clamp(std::max(room, header), 8, kWidestColumn);
}

}  // namespace rowpress
