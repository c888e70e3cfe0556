// Exports from a real MariaDB server through the MariaDB ODBC driver: column types to cells,
// the type report, NULLs and binary columns, UTF-8 text, a failing statement and logins.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/servers/server_test.h"

namespace rowpress::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

// `text` with every character that a regular expression treats specially escaped.
std::string escapeRegex(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::string_view(".[]()*+?^$|\\{}").find(c) != std::string_view::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

class MariaDbTest : public ServerTest {
 protected:
  void createTypesTable() {
    table_ = unique("types");
    run(kMariaDb, "drop table if exists " + table_);
    run(kMariaDb, "create table " + table_ +
                      " (i int, b bigint, n decimal(12,3), d double, r float, ok boolean, "
                      "v varchar(20), t text, bin blob, vb varbinary(8), day date, "
                      "ts datetime(6), si smallint, ti tinyint, c char(3), u int unsigned)");
    run(kMariaDb, "insert into " + table_ +
                      " values (42, 9000000000, 1234.500, 3.25, 1.5, true, 'Zürich', "
                      "'Łódź 東京 😀', x'00ff', x'01', '2024-02-29', '2024-02-29 13:45:06', "
                      "-7, -128, 'ab', 4294967295), "
                      "(null, null, null, null, null, null, null, null, null, null, null, null, "
                      "null, null, null, null), "
                      "(-1, -9223372036854775808, -0.001, 1e300, -2.5e-5, false, '<a&b>', "
                      "'x''y', '', '', '1000-01-01', '1999-12-31 23:59:59.123456', 0, 127, '', "
                      "0)");
  }
  std::string table_;
};

TEST_F(MariaDbTest, EachTypeBecomesANumberOrAStringCell) {
  ASSERT_NO_FATAL_FAILURE(createTypesTable());
  ASSERT_EQ(fetchFrom(kMariaDb, "select * from " + table_ + " order by i is null, i desc").outcome,
            RunOutcome::Exported);
  const auto rows = workbookRows(readFile(onlyOutput()));
  ASSERT_EQ(rows.size(), 4u);
  std::vector<std::string> header;
  for (const char* name :
       {"i", "b", "n", "d", "r", "ok", "v", "t", "bin", "vb", "day", "ts", "si", "ti", "c", "u"}) {
    header.push_back(stringCell(name));
  }
  EXPECT_THAT(rows[0], ElementsAreArray(header));
  EXPECT_THAT(rows[1], ElementsAre(numberCell("42"), numberCell("9000000000"),
                                   numberCell("1234.500"), numberCell("3.25"), numberCell("1.5"),
                                   numberCell("1"), stringCell("Zürich"), stringCell("Łódź 東京 😀"),
                                   kBinaryCell, kBinaryCell, stringCell("2024-02-29"),
                                   stringCell("2024-02-29 13:45:06.000000"), numberCell("-7"),
                                   numberCell("-128"), stringCell("ab"), numberCell("4294967295")));
  // The driver writes a FLOAT in plain decimals (a Number cell) but a large DOUBLE with an
  // exponent (a String cell). A whole number of more than 15 digits is a String cell too.
  EXPECT_THAT(
      rows[2],
      ElementsAre(numberCell("-1"), stringCell("-9223372036854775808"), numberCell("-0.001"),
                  stringCell("1e300"), numberCell("-0.000025"), numberCell("0"),
                  stringCell("&lt;a&amp;b&gt;"), stringCell("x&apos;y"), kBinaryCell, kBinaryCell,
                  stringCell("1000-01-01"), stringCell("1999-12-31 23:59:59.123456"),
                  numberCell("0"), numberCell("127"), stringCell(""), numberCell("0")));
  // NULLs: empty String cells, numeric columns included; binary columns stay "<BINARY>".
  std::vector<std::string> nulls(16, stringCell(""));
  nulls[8] = nulls[9] = kBinaryCell;
  EXPECT_THAT(rows[3], ElementsAreArray(nulls));
}

TEST_F(MariaDbTest, TheTypeReportShowsTheCodesTheDriverReports) {
  ASSERT_NO_FATAL_FAILURE(createTypesTable());
  ASSERT_EQ(fetchFrom(kMariaDb, "select * from " + table_).outcome, RunOutcome::Exported);
  EXPECT_THAT(typeReportColumns(),
              ElementsAre("1,i,4,10,0", "2,b,-5,20,0", "3,n,3,12,3", "4,d,8,15,0", "5,r,7,7,0",
                          "6,ok,-6,3,0", "7,v,12,20,0", "8,t,-1,65535,0", "9,bin,-4,65535,0",
                          "10,vb,-3,8,0", "11,day,91,10,0", "12,ts,93,26,6", "13,si,5,5,0",
                          "14,ti,-6,3,0", "15,c,1,3,0", "16,u,4,10,0"));
}

TEST_F(MariaDbTest, Utf8TextReachesTheFileByteForByte) {
  const std::string table = unique("cities");
  run(kMariaDb, "drop table if exists " + table);
  run(kMariaDb,
      "create table " + table + " (id int, name varchar(40), note text) character set utf8mb4");
  run(kMariaDb, "insert into " + table +
                    " values (1, 'Zürich', 'Grüezi'), (2, 'Łódź', 'Dzień dobry'), "
                    "(3, '東京', 'こんにちは'), (4, 'Emoji 😀🎉', 'ß€')");
  view_.click(ControlId::OutputCsv);
  ASSERT_EQ(fetchFrom(kMariaDb, "select name, note from " + table + " order by id").outcome,
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

TEST_F(MariaDbTest, AValueLongerThanTheBufferIsCutOnACharacterBoundary) {
  // 80,001 bytes: "x" and 40,000 two-byte characters; the value keeps 65,535 of them so as
  // not to end inside a character.
  view_.click(ControlId::OutputCsv);
  ASSERT_EQ(fetchFrom(kMariaDb, "select concat('x', repeat('é', 40000)) as long_value, 1 as after")
                .outcome,
            RunOutcome::Exported);
  std::string expected = "long_value,after,\r\nx";
  for (int i = 0; i < 32767; ++i) expected += "é";
  expected += ",1,\r\n";
  const std::string file = readFile(onlyOutput());
  EXPECT_EQ(file.size(), expected.size());
  EXPECT_TRUE(file == expected) << "the cut value differs from its first 65,535 bytes";
}

TEST_F(MariaDbTest, AFailingStatementShowsTheServersDiagnostic) {
  const std::string table = unique("no_such_table");
  const std::string sql = "select * from " + table;
  ASSERT_EQ(fetchFrom(kMariaDb, sql).outcome, RunOutcome::StatementFailed);
  // The driver puts its own version and the server's before the server's message.
  const std::string diagnostic =
      "\\[42S02\\] \\[ma-[0-9.]+\\]\\[" + escapeRegex(queryValue(kMariaDb, "select version()")) +
      "\\]Table '" + facts()["MARIADB_DATABASE"] + "\\." + table + "' doesn't exist \\(1146\\)\n";
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre(sql, "SQL statement failed.", MatchesRegex(diagnostic)));
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "SQL statement failed.");
  EXPECT_EQ(view_.messages[0].text, view_.lines(ControlId::StatusList).at(2));
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_THAT(temporaryLeftovers(home()), IsEmpty());
}

TEST_F(MariaDbTest, AStatementWithoutResultColumnsEndsWithoutRows) {
  const std::string table = unique("counter");
  run(kMariaDb, "drop table if exists " + table);
  run(kMariaDb, "create table " + table + " (n int)");
  run(kMariaDb, "insert into " + table + " values (1), (2)");
  EXPECT_EQ(fetchFrom(kMariaDb, "update " + table + " set n = n + 1").outcome, RunOutcome::NoRows);
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_EQ(queryValue(kMariaDb, "select sum(n) from " + table), "5");
}

TEST_F(MariaDbTest, TheRightPasswordExportsAndAWrongOneEndsWithStatus2) {
  const std::string out = temp_ / "one.csv";
  std::string job =
      writeJob(kMariaDb, userFor(kMariaDb), passwordFor(kMariaDb), "select 1 as one", true);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out}), 0)
      << stderrText();
  EXPECT_EQ(readFile(out), "one,\r\n1,\r\n");

  ::unlink(out.c_str());
  job = writeJob(kMariaDb, userFor(kMariaDb), "wrong", "select 1 as one", true);
  EXPECT_EQ(runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out}), 2);
  EXPECT_FALSE(fileExists(out));
  EXPECT_THAT(outputFiles(), IsEmpty());
  EXPECT_EQ(stdoutText(), "");
  EXPECT_THAT(stderrText(), MatchesRegex("rowpress: did not connect\nrowpress: \\[28000\\] "
                                         "\\[unixODBC\\]\\[ma-[0-9.]+\\]Access denied for user "
                                         "'rowpress'@'127\\.0\\.0\\.1' \\(using password: YES\\) "
                                         "\\(1045\\)\n"));
}

}  // namespace
}  // namespace rowpress::testing
