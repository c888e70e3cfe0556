// Exports from a real PostgreSQL server through both of its ODBC drivers: how each column type
// becomes a cell, what the type report shows, and UTF-8 text byte for byte.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/servers/server_test.h"

namespace rowpress::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// One row of every kind of value, one of NULLs and one of edge values.
class PostgresTypesTest : public ServerTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    table_ = unique("types");
    run(kPgAnsi, "drop table if exists " + table_);
    run(kPgAnsi, "create table " + table_ +
                     " (i integer, b bigint, n numeric(12,3), d double precision, r real, "
                     "ok boolean, v varchar(20), t text, bin bytea, day date, ts timestamp, "
                     "si smallint, c char(3))");
    run(kPgAnsi, "insert into " + table_ +
                     " values (42, 9000000000, 1234.500, 3.25, 1.5, true, 'Zürich', "
                     "'Łódź 東京 😀', '\\x00ff', '2024-02-29', '2024-02-29 13:45:06', -7, 'ab'), "
                     "(null, null, null, null, null, null, null, null, null, null, null, null, "
                     "null), "
                     "(-1, -9223372036854775808, -0.001, 1e300, -2.5e-5, false, '<a&b>', "
                     "'x''y', '', '0001-01-01', '1999-12-31 23:59:59.123456', 0, '')");
  }
  std::string table_;
};

TEST_P(PostgresTypesTest, EachTypeBecomesANumberOrAStringCell) {
  ASSERT_EQ(
      fetchFrom(GetParam(), "select * from " + table_ + " order by i desc nulls last").outcome,
      RunOutcome::Exported);
  const auto rows = workbookRows(readFile(onlyOutput()));
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_THAT(rows[0],
              ElementsAre(stringCell("i"), stringCell("b"), stringCell("n"), stringCell("d"),
                          stringCell("r"), stringCell("ok"), stringCell("v"), stringCell("t"),
                          stringCell("bin"), stringCell("day"), stringCell("ts"), stringCell("si"),
                          stringCell("c")));
  // Numbers of the numeric types are Number cells; a boolean arrives as 1 or 0 text; bytea is
  // never fetched; UTF-8 text stays as it is.
  EXPECT_THAT(
      rows[1],
      ElementsAre(numberCell("42"), numberCell("9000000000"), numberCell("1234.500"),
                  numberCell("3.25"), numberCell("1.5"), stringCell("1"), stringCell("Zürich"),
                  stringCell("Łódź 東京 😀"), kBinaryCell, stringCell("2024-02-29"),
                  stringCell("2024-02-29 13:45:06"), numberCell("-7"), stringCell("ab ")));
  // A number in exponent form is no plain number: a String cell, and so is a whole number of
  // more than 15 digits, which a spreadsheet would round. Markup is escaped.
  EXPECT_THAT(
      rows[2],
      ElementsAre(numberCell("-1"), stringCell("-9223372036854775808"), numberCell("-0.001"),
                  stringCell("1e+300"), stringCell("-2.5e-05"), stringCell("0"),
                  stringCell("&lt;a&amp;b&gt;"), stringCell("x&apos;y"), kBinaryCell,
                  stringCell("0001-01-01"), stringCell("1999-12-31 23:59:59.123456"),
                  numberCell("0"), stringCell("   ")));
  // NULLs: empty String cells, numeric columns included; bytea stays "<BINARY>".
  std::vector<std::string> nulls(13, stringCell(""));
  nulls[8] = kBinaryCell;
  EXPECT_THAT(rows[3], ElementsAreArray(nulls));
  EXPECT_THAT(view_.lines(ControlId::StatusList)[2],
              ::testing::StartsWith("42 | 9000000000 | 1234.500 | 3.25 | 1.5 | 1 | Zürich | "));
}

TEST_P(PostgresTypesTest, TheTypeReportShowsTheCodesTheDriverReports) {
  ASSERT_EQ(fetchFrom(GetParam(), "select * from " + table_).outcome, RunOutcome::Exported);
  // Both drivers describe the columns alike: double precision as SQL_FLOAT (6), boolean as
  // VARCHAR (BoolsAsChar), text as LONG VARCHAR (TextAsLongVarchar), bytea as LONG VARBINARY
  // with size 0 (ByteaAsLongVarBinary).
  EXPECT_THAT(typeReportColumns(),
              ElementsAre("1,i,4,10,0", "2,b,-5,19,0", "3,n,2,12,3", "4,d,6,17,0", "5,r,7,9,0",
                          "6,ok,12,5,0", "7,v,12,20,0", "8,t,-1,8190,0", "9,bin,-4,0,0",
                          "10,day,91,10,0", "11,ts,93,26,6", "12,si,5,5,0", "13,c,1,3,0"));
  const std::vector<std::string> report = typeReport();
  ASSERT_EQ(report.size(), 14u);
  EXPECT_EQ(report[0],
            "Column_Number,Column_Name,Column_Type,Column_Precision,Column_Scale,"
            "Column_Type_Description");
  EXPECT_EQ(report[4],
            "4,d,6,17,0,FLOAT(p) Signed; approximate; numeric value with a binary "
            "precision of at least p. (The maximum precision is driver-defined.)");
  EXPECT_EQ(report[10],
            "10,day,91,10,0,DATE Year; month; and day fields; conforming to the "
            "rules of the Gregorian calendar. (See \"Constraints of the Gregorian "
            "Calendar;\" later in this appendix.)");
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, PostgresTypesTest, ::testing::Values(kPgAnsi, kPgUnicode),
                         [](const auto& info) {
                           return std::string(info.param) == kPgAnsi ? "Ansi" : "Unicode";
                         });

using PostgresExportTest = ServerTest;

TEST_F(PostgresExportTest, DriverSettingsChangeTheReportedTypes) {
  const std::string table = unique("plain_types");
  run(kPgAnsi, "drop table if exists " + table);
  run(kPgAnsi, "create table " + table + " (ok boolean, t text, bin bytea)");
  run(kPgAnsi, "insert into " + table +
                   " values (true, repeat('0123456789', 30), '\\x01'), (false, '', null)");
  ASSERT_EQ(fetchFrom(kPgPlainTypes, "select * from " + table + " order by ok desc").outcome,
            RunOutcome::Exported);
  // Without the driver's character mappings: boolean is SQL_BIT (-7), text VARCHAR (12) and
  // bytea VARBINARY (-3), both of the driver's MaxVarcharSize (255).
  EXPECT_THAT(typeReportColumns(), ElementsAre("1,ok,-7,1,0", "2,t,12,255,0", "3,bin,-3,255,0"));
  const auto rows = workbookRows(readFile(onlyOutput()));
  ASSERT_EQ(rows.size(), 3u);
  // SQL_BIT is no numeric type: a String cell. A text longer than the reported size of 255
  // still arrives whole.
  std::string longText;
  for (int i = 0; i < 30; ++i) longText += "0123456789";
  EXPECT_THAT(rows[1], ElementsAre(stringCell("1"), stringCell(longText), kBinaryCell));
  EXPECT_THAT(rows[2], ElementsAre(stringCell("0"), stringCell(""), kBinaryCell));
}

TEST_F(PostgresExportTest, NumbersThatAreNoPlainNumbersBecomeStringCells) {
  ASSERT_EQ(fetchFrom(kPgAnsi,
                      "select 'NaN'::numeric as nan, 'Infinity'::float8 as inf, "
                      "'-Infinity'::real as neginf, 1e-7::float8 as tiny, '-0'::float8 as negzero, "
                      "123456789012345678901234567890.5::numeric as huge, 12.5::money as cash, "
                      "'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'::uuid as id, "
                      "interval '1 day 02:03:04' as span, time '13:45:06' as t")
                .outcome,
            RunOutcome::Exported);
  // The driver reports money as SQL_FLOAT and uuid as SQL_GUID, which it hands over in upper
  // case; interval is text to it.
  EXPECT_THAT(typeReportColumns(),
              ElementsAre("1,nan,2,28,0", "2,inf,6,17,0", "3,neginf,7,9,0", "4,tiny,6,17,0",
                          "5,negzero,6,17,0", "6,huge,2,32,1", "7,cash,6,10,0", "8,id,-11,37,0",
                          "9,span,12,32,0", "10,t,92,8,6"));
  const auto rows = workbookRows(readFile(onlyOutput()));
  ASSERT_EQ(rows.size(), 2u);
  // A value of a numeric type is a Number cell only when it is a plain decimal number: a
  // spreadsheet would read NaN, Infinity, an exponent or a currency sign otherwise.
  EXPECT_THAT(rows[1],
              ElementsAre(stringCell("NaN"), stringCell("Infinity"), stringCell("-Infinity"),
                          stringCell("1e-07"), numberCell("-0"),
                          numberCell("123456789012345678901234567890.5"), stringCell("$12.50"),
                          stringCell("A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11"),
                          stringCell("1 day 02:03:04"), stringCell("13:45:06")));
}

// UTF-8 text, letters of three scripts and a character beyond the Basic Multilingual Plane,
// reaches a CSV file byte for byte through either driver.
class PostgresTextTest : public ServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PostgresTextTest, Utf8TextReachesTheFileByteForByte) {
  const std::string table = unique("cities");
  run(kPgAnsi, "drop table if exists " + table);
  run(kPgAnsi, "create table " + table + " (id integer, name varchar(40), note text)");
  run(kPgAnsi, "insert into " + table +
                   " values (1, 'Zürich', 'Grüezi'), (2, 'Łódź', 'Dzień dobry'), "
                   "(3, '東京', 'こんにちは'), (4, 'Emoji 😀🎉', 'ß€')");
  view_.click(ControlId::OutputCsv);
  ASSERT_EQ(fetchFrom(GetParam(), "select name, note from " + table + " order by id").outcome,
            RunOutcome::Exported);
  EXPECT_EQ(readFile(onlyOutput()),
            "name,note,\r\n"
            "Z\xC3\xBCrich,Gr\xC3\xBC"
            "ezi,\r\n"
            "\xC5\x81\xC3\xB3\x64\xC5\xBA,Dzie\xC5\x84 dobry,\r\n"
            "\xE6\x9D\xB1\xE4\xBA\xAC,\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF,"
            "\r\n"
            "Emoji \xF0\x9F\x98\x80\xF0\x9F\x8E\x89,\xC3\x9F\xE2\x82\xAC,\r\n");
}

TEST_P(PostgresTextTest, AValueLongerThanTheBufferIsCutOnACharacterBoundary) {
  // 80,001 bytes: "x" and 40,000 two-byte characters. The first 65,536 bytes would end in
  // the middle of a character, so the value keeps 65,535.
  view_.click(ControlId::OutputCsv);
  ASSERT_EQ(
      fetchFrom(GetParam(), "select 'x' || repeat('é', 40000) as long_value, 1 as after").outcome,
      RunOutcome::Exported);
  std::string expected = "long_value,after,\r\nx";
  for (int i = 0; i < 32767; ++i) expected += "é";
  expected += ",1,\r\n";
  const std::string file = readFile(onlyOutput());
  EXPECT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected) << "the cut value differs from its first 65,535 bytes";
}

INSTANTIATE_TEST_SUITE_P(BothDrivers, PostgresTextTest, ::testing::Values(kPgAnsi, kPgUnicode),
                         [](const auto& info) {
                           return std::string(info.param) == kPgAnsi ? "Ansi" : "Unicode";
                         });

TEST_F(PostgresExportTest, AStreamedResultArrivesWhole) {
  // More rows than one cursor fetch of the ANSI data source (10,000) holds.
  view_.click(ControlId::OutputCsv);
  ASSERT_EQ(fetchFrom(kPgAnsi, "select g, 'row ' || g from generate_series(1, 25001) g order by g")
                .outcome,
            RunOutcome::Exported);
  const std::string file = readFile(onlyOutput());
  std::string expected = "g,?column?,\r\n";
  for (int g = 1; g <= 25001; ++g) {
    expected += std::to_string(g) + ",row " + std::to_string(g) + ",\r\n";
  }
  EXPECT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected) << "the streamed rows differ from the expected ones";
}

}  // namespace
}  // namespace rowpress::testing
