#include "export/column_type_report.h"

#include <cstdio>
#include <cstring>

namespace rowpress {

namespace {

struct TypeText {
  std::int16_t code;
  const char* text;
};

// \226 is the byte 0x96, the en dash of the Windows code page that these texts come from;
// the report keeps it byte for byte.
const TypeText kTypeTexts[] = {
    {-11, "SQL_GUID"},
    {-10,
     "LONGWVARCHAR Unicode variable-length character data. Maximum length is data "
     "source\226dependent"},
    {-9, "VARWCHAR(n) Unicode variable-length character string with a maximum string length n"},
    {-8, "WCHAR(n) Unicode character string of fixed string length n"},
    {-7, "BIT Single bit binary data."},
    {-6, "TINYINT Exact numeric value with precision 3 and scale 0"},
    {-5,
     "BIGINT Exact numeric value with precision 19 (if signed) or 20 (if unsigned) and "
     "scale 0"},
    {-4, "LONG VARBINARY Variable length binary data. Maximum length is data source\226dependent."},
    {-3,
     "VARBINARY(n) Variable length binary data of maximum length n. The maximum is set by "
     "the user."},
    {-2, "SQL_BINARY BINARY(n) Binary data of fixed length n."},
    {-1,
     "LONG VARCHAR Variable length character data. Maximum length is data "
     "source\226dependent."},
    {1, "CHAR(n) Character string of fixed string length n."},
    {2, "NUMERIC(p;s) Signed; exact; numeric value with a precision p and scale s"},
    {3,
     "DECIMAL(p;s) Signed; exact; numeric value with a precision of at least p and scale s. "
     "(The maximum precision is driver-defined.)"},
    {4, "INTEGER Exact numeric value with precision 10 and scale 0"},
    {5, "SMALLINT Exact numeric value with precision 5 and scale 0"},
    {6,
     "FLOAT(p) Signed; approximate; numeric value with a binary precision of at least p. (The "
     "maximum precision is driver-defined.)"},
    {7,
     "REAL Signed; approximate; numeric value with a binary precision 24 (zero or absolute "
     "value 10[\22638] to 10[38])."},
    {8,
     "DOUBLE PRECISION Signed; approximate; numeric value with a binary precision 53 (zero or "
     "absolute value 10[\226308] to 10[308])."},
    {12, "VARCHAR(n) Variable-length character string with a maximum string length n."},
    {91,
     "DATE Year; month; and day fields; conforming to the rules of the Gregorian calendar. "
     "(See \"Constraints of the Gregorian Calendar;\" later in this appendix.)"},
    {92,
     "TIME(p) Hour; minute; and second fields; with valid values for hours of 00 to 23; "
     "valid values for minutes of 00 to 59; and valid values for seconds of 00 to 61. "
     "Precision p indicates the seconds precision."},
    {93,
     "TIMESTAMP(p) Year; month; day; hour; minute; and second fields; with valid values as "
     "defined for the DATE and TIME data types."},
    {101,
     "INTERVAL YEAR(p) Number of years between two dates; p is the interval leading "
     "precision."},
    {102,
     "INTERVAL MONTH(p) Number of months between two dates; p is the interval leading "
     "precision."},
    {103,
     "INTERVAL DAY(p) Number of days between two dates; p is the interval leading "
     "precision."},
    {104,
     "INTERVAL HOUR(p) Number of hours between two date/times; p is the interval leading "
     "precision."},
    {105,
     "INTERVAL MINUTE(p) Number of minutes between two date/times; p is the interval "
     "leading precision."},
    {106,
     "INTERVAL SECOND(p;q) Number of seconds between two date/times; p is the interval "
     "leading precision and q is the interval seconds precision."},
    {107,
     "INTERVAL YEAR(p) TO MONTH \tNumber of years and months between two dates; p is the "
     "interval leading precision."},
    {108,
     "INTERVAL DAY(p) TO HOUR Number of days/hours between two date/times; p is the "
     "interval leading precision."},
    {109,
     "INTERVAL DAY(p) TO MINUTE Number of days/hours/minutes between two date/times; p is "
     "the interval leading precision."},
    {110,
     "INTERVAL DAY(p) TO SECOND(q) Number of days/hours/minutes/seconds between two "
     "date/times; p is the interval leading precision and q is the interval seconds "
     "precision."},
    {111,
     "INTERVAL HOUR(p) TO MINUTE Number of hours/minutes between two date/times; p is the "
     "interval leading precision."},
    {112,
     "INTERVAL HOUR(p) TO SECOND(q) Number of hours/minutes/seconds between two "
     "date/times; p is the interval leading precision and q is the interval seconds "
     "precision."},
    {113,
     "INTERVAL MINUTE(p) TO SECOND(q) Number of minutes/seconds between two date/times; p "
     "is the interval leading precision and q is the interval seconds precision."},
};

}  // namespace

const char* columnTypeDescription(std::int16_t sqlType) {
  for (const TypeText& t : kTypeTexts) {
    if (t.code == sqlType) return t.text;
  }
  return "*UNKNOWN COLUMN TYPE*";
}

void ColumnTypeReport::failed(const char* what, const std::string& reason) {
  problem_ =
      std::string(what) + path_ + " (" + reason + "); the column type report was not written.";
}

void ColumnTypeReport::open(const std::string& directory) {
  path_ = directory + "/" + kColumnTypeReportName;
  problem_.clear();
  if (!atomic_.prepare(path_)) {
    failed("unable to create: ", atomic_.error());
    return;
  }
  registered_.set(atomic_.temporaryPath(), atomic_.directoryDescriptor());
  if (!atomic_.create(0666)) {
    failed("unable to create: ", atomic_.error());
    registered_.release();
    return;
  }
  file_ = OutputFile::onDescriptor(atomic_.descriptor());
  file_.write(
      "Column_Number,Column_Name,Column_Type,Column_Precision,Column_Scale,"
      "Column_Type_Description");
  file_.endLine();
  file_.flush();
}

void ColumnTypeReport::beginSheet(std::string_view name) {
  if (!file_.isOpen()) return;
  file_.write("Sheet,");
  file_.write(name);
  file_.endLine();
  file_.flush();
}

void ColumnTypeReport::addColumn(int ordinal, const ColumnInfo& column) {
  if (!file_.isOpen()) return;
  char number[64];
  std::snprintf(number, sizeof number, "%d,", ordinal);
  file_.write(number);
  file_.write(column.name);
  // The size is reported as the unsigned 32-bit value the driver gave.
  std::snprintf(number, sizeof number, ",%d,%u,%d,", static_cast<int>(column.sqlType),
                static_cast<unsigned>(static_cast<std::uint32_t>(column.declaredSize)),
                static_cast<int>(column.decimalDigits));
  file_.write(number);
  file_.write(columnTypeDescription(column.sqlType));
  file_.endLine();
  file_.flush();
}

void ColumnTypeReport::close() {
  if (!file_.isOpen()) return;
  if (!file_.close()) {
    failed("unable to write: ", std::strerror(file_.error()));
    atomic_.discard();
  } else if (!atomic_.commit()) {
    failed("unable to write: ", atomic_.error());
  }
  registered_.release();
}

}  // namespace rowpress
