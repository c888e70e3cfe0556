// Exports that only PostgreSQL is asked: the driver's type mappings switched off, numbers that
// are no plain numbers, a result larger than one cursor fetch, and the memory of a large
// export from a data source without the driver's options. The exports that every
// server is asked are in server_types_test.cpp.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "db/odbc_result_cursor.h"
#include "tests/servers/server_test.h"
#include "tests/spreadsheet/sheet_reader.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

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
  // A value of a numeric type is a Number cell only when it is a plain decimal number of at
  // most 15 significant digits: a spreadsheet would read NaN, Infinity, an exponent or a
  // currency sign otherwise, and round a longer number.
  EXPECT_THAT(rows[1],
              ElementsAre(stringCell("NaN"), stringCell("Infinity"), stringCell("-Infinity"),
                          stringCell("1e-07"), numberCell("-0"),
                          stringCell("123456789012345678901234567890.5"), stringCell("$12.50"),
                          stringCell("A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11"),
                          stringCell("1 day 02:03:04"), stringCell("13:45:06")));
}

TEST_F(PostgresExportTest, DecimalsOfMoreThan15DigitsArriveWholeAsTextInBothReaders) {
  setOutputType(job_, OutputType::Xlsx);
  job_.outFileName = temp_ / "decimals.xlsx";
  ASSERT_EQ(fetchFrom(kPgAnsi,
                      "select 123456789012345678901234567890.5::numeric as huge, "
                      "0.12345678901234567::numeric as frac, 1234.5::numeric as plain, "
                      "1.50000000000000000000::numeric as zeros")
                .outcome,
            RunOutcome::Exported);
  auto text = [](const char* v) { return SheetCell{"text", v}; };
  auto number = [](const char* v) { return SheetCell{"number", v}; };
  expectXlsxReadByBoth(job_.outFileName,
                       {{text("huge"), text("frac"), text("plain"), text("zeros")},
                        {text("123456789012345678901234567890.5"), text("0.12345678901234567"),
                         number("1234.5"), number("1.5")}},
                       temp_.path());
}

TEST_F(PostgresExportTest, AStreamedResultArrivesWhole) {
  // More rows than one cursor fetch of the ANSI data source (10,000) holds.
  setOutputType(job_, OutputType::Csv);
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

// PostgreSQL's rows come in rowsets; a value longer than its bound buffer is read again from
// its own row of the rowset, and the values after it in the row and the rows after it stay
// their own.
TEST_F(PostgresExportTest, ValuesCutInARowsetAreReadAgainFromTheirOwnRow) {
  const std::string sql =
      "select g, case when g % 5 = 0 then null else repeat(chr(97 + g % 26), 300 + g * 7) end, "
      "'after ' || g from generate_series(1, 700) g order by g";
  auto session = openSession(kPgAnsi);
  ASSERT_TRUE(session);
  OdbcResultCursor cursor(*session);
  std::string text = sql;
  ASSERT_EQ(cursor.execute(text), ResultCursor::Executed::Result);
  ASSERT_EQ(cursor.columnCount(), 3);
  cursor.describe(3);
  for (int g = 1; g <= 700; ++g) {
    ASSERT_EQ(cursor.fetch(), ResultRows::Fetched::Row) << cursor.diagnostic();
    ASSERT_GT(cursor.rowsetSize(), 1u);
    CellValue longValue, after;
    ASSERT_TRUE(cursor.value(2, longValue)) << cursor.diagnostic();
    ASSERT_TRUE(cursor.value(3, after)) << cursor.diagnostic();
    EXPECT_EQ(longValue.null, g % 5 == 0);
    if (g % 5 != 0) {
      ASSERT_EQ(longValue.text, std::string(300 + g * 7, static_cast<char>('a' + g % 26))) << g;
    }
    ASSERT_EQ(after.text, "after " + std::to_string(g));
  }
  EXPECT_EQ(cursor.fetch(), ResultRows::Fetched::End);
}

TEST_F(PostgresExportTest, APlainDataSourceIsStreamedInFlatMemory) {
  // The data source as an administrator writes it: without UseDeclareFetch the driver would
  // read the whole result before the first row (57 MB at 200,000 rows, 338 MB at 2,000,000).
  auto peakKiB = [&](long rows) {
    const std::string job = writeJob(
        kPgUnicode, userFor(kPgUnicode), passwordFor(kPgUnicode),
        "select g, 'row ' || g from generate_series(1, " + std::to_string(rows) + ") g", true);
    const ChildResult result = ::rowpress::support::runRowpress(
        temp_.path(),
        {"-silent", "-quiet", "-noautoopen", "-file=" + job, "-outfile=" + (temp_ / "out.csv")},
        forPeakMemory(), std::chrono::seconds(120));
    EXPECT_EQ(result.exitStatus, 0) << rows << " rows\n" << result.err;
    // Every row arrived: "g,?column?," and then "G,row G," for each, each line with CR LF.
    long long expected = 13;
    for (long g = 1; g <= rows; ++g) expected += 2 * std::to_string(g).size() + 8;
    EXPECT_EQ(fileSize(temp_ / "out.csv"), expected);
    return result.peakKiB;
  };
  const long small = peakKiB(200000);
  const long large = peakKiB(2000000);
  EXPECT_LE(large, small + small / 5)
      << small << " KiB at 200,000 rows, " << large << " KiB at 2,000,000";
}

// The job's time zone is the session's: a timestamptz comes in it (without its offset), the
// manifest records it as the server reports it, and a note line names it; a plain timestamp
// keeps its value. The data source's own pqopt is kept beside it.
TEST_F(PostgresExportTest, TimestampsWithATimeZoneComeInTheJobsZone) {
  addDataSourceSection("pg-pqopt",
                       postgresSection("PostgreSQL Unicode", facts()["PG_DATABASE"], true) +
                           "pqopt=application_name=rowpress-zoned\n");
  const std::string out = temp_ / "zoned.csv";
  auto exportIn = [&](const std::string& dataSource, const std::string& zone,
                      const std::string& sql) {
    const std::string job =
        writeJob(dataSource, userFor(kPgUnicode), passwordFor(kPgUnicode), sql, true);
    return runRowpress({"-silent", "-noautoopen", "-manifest", "-file=" + job, "-outfile=" + out,
                        "-timezone=" + zone});
  };
  const std::string sql =
      "select cast('2026-07-01 12:00:00+00' as timestamptz) as t, "
      "cast('2026-07-01 12:00:00' as timestamp) as plain, current_setting('application_name') as "
      "app";
  struct Zone {
    const char* dataSource;
    const char* zone;
    const char* row;
  };
  for (const Zone& z : {Zone{kPgAnsi, "Europe/Berlin", "2026-07-01 14:00:00,2026-07-01 12:00:00,,"},
                        Zone{"pg-pqopt", "America/New_York",
                             "2026-07-01 08:00:00,2026-07-01 12:00:00,rowpress-zoned,"}}) {
    ASSERT_EQ(exportIn(z.dataSource, z.zone, sql), 0) << stderrText();
    EXPECT_THAT(readFile(out), HasSubstr("\r\n" + std::string(z.row) + "\r\n")) << z.zone;
    EXPECT_EQ(nlohmann::json::parse(readFile(out + ".manifest.json")).at("timeZone"), z.zone);
    EXPECT_THAT(stderrText(),
                HasSubstr("rowpress: note: timestamps with a time zone are in the session's "
                          "time zone " +
                          std::string(z.zone) + "\n"));
  }
  // Without a timestamp with a time zone nothing is noted; the manifest still says the zone.
  ASSERT_EQ(exportIn(kPgAnsi, "UTC", "select cast('2026-07-01 12:00' as timestamp) as plain"), 0)
      << stderrText();
  EXPECT_THAT(stderrText(), Not(HasSubstr("time zone")));
  EXPECT_EQ(nlohmann::json::parse(readFile(out + ".manifest.json")).at("timeZone"), "UTC");
  // A zone the server does not know fails the connect with the server's message.
  EXPECT_EQ(exportIn(kPgAnsi, "Mars/Olympus", sql), 2);
  EXPECT_THAT(stderrText(), HasSubstr("rowpress: did not connect\n"));
  EXPECT_THAT(stderrText(),
              HasSubstr("invalid value for parameter \"TimeZone\": \"Mars/Olympus\""));
}

}  // namespace
}  // namespace rowpress::support
