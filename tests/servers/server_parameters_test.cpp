// Statements with `:name` markers on each database, through its own driver: the markers are
// found by the rules of the database that the driver names, the values are bound as text and
// never read as SQL, a name used twice is bound twice, and on PostgreSQL what only looks like a
// marker (in strings, comments, dollar quotes, casts) reaches the server as it was written.
// Report jobs run by the executable: several sheets, values from the job file and the command
// line, each output type's files, and a report that publishes all its sheets or none.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "db/odbc_result_cursor.h"
#include "db/sql_markers.h"
#include "tests/servers/server_test.h"
#include "tests/spreadsheet/sheet_reader.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;

// One database through one driver.
struct ParameterCase {
  const char* label;       // the test name's suffix
  const char* dataSource;  // SQLite's is the fixture's own "rowtest"
  const char* dbmsName;    // what the driver says for SQL_DBMS_NAME
  SqlDialect dialect;
  // A date column compared with two text parameters, :from and :to.
  const char* dateRange;
};

// The case by its label in the test's output.
void PrintTo(const ParameterCase& c, std::ostream* out) { *out << c.label; }

using Values = std::map<std::string, std::string>;

SheetCell text(const std::string& value) { return {"text", value}; }
SheetCell number(const std::string& value) { return {"number", value}; }
SheetCell date(const std::string& value) { return {"date", value}; }

// The rows of a sheet that LibreOffice read, up to its last row and cell that hold something.
std::vector<SheetRow> usedContent(const Sheet& sheet) {
  std::vector<SheetRow> rows(sheet.rows.begin(), sheet.rows.begin() + usedRows(sheet));
  for (SheetRow& row : rows) row.resize(usedCells(row));
  return rows;
}

class ServerParametersTest : public ServerTest,
                             public ::testing::WithParamInterface<ParameterCase> {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    table_ = unique("params");
    run(source(), "drop table if exists " + table_);
    run(source(), "create table " + table_ + " (id integer, name varchar(40), d date)");
    run(source(), "insert into " + table_ +
                      " values (1, 'alpha', '2024-01-15'), (2, 'beta', '2024-02-29'),"
                      " (3, 'gamma', '2024-03-01')");
  }
  void TearDown() override {
    if (!table_.empty()) run(source(), "drop table if exists " + table_);
    ServerTest::TearDown();
  }

  std::string source() const { return GetParam().dataSource; }

  // Runs `sql` with its markers bound to `values`, and gives the first column of each row;
  // `failure` gets the diagnostic of a statement that failed (the test fails when none is
  // given).
  std::vector<std::string> query(const std::string& sql, const Values& values,
                                 std::string* failure = nullptr) {
    std::vector<std::string> rows;
    auto session = openSession(source());
    if (!session) return rows;
    const MarkedStatement marked = findMarkers(sql, dialectOfDbms(session->dbmsName()));
    EXPECT_FALSE(marked.mixesQuestionMarks()) << sql;
    std::vector<std::string> bound;
    for (const std::string& name : marked.names) bound.push_back(values.at(name));
    OdbcResultCursor cursor(*session);
    std::string text = marked.text;
    const ResultCursor::Executed executed = cursor.execute(text, bound);
    if (executed == ResultCursor::Executed::Failed) {
      if (failure) {
        *failure = cursor.diagnostic();
      } else {
        ADD_FAILURE() << sql << "\n" << cursor.diagnostic();
      }
      return rows;
    }
    const std::optional<int> columns = cursor.columnCount();
    if (executed == ResultCursor::Executed::NoData || !columns || *columns == 0) return rows;
    cursor.describe(*columns);
    for (;;) {
      const ResultRows::Fetched fetched = cursor.fetch();
      if (fetched == ResultRows::Fetched::End) break;
      if (fetched == ResultRows::Fetched::Failed) {
        ADD_FAILURE() << sql << "\n" << cursor.diagnostic();
        break;
      }
      CellValue value;
      EXPECT_TRUE(cursor.value(1, value)) << cursor.diagnostic();
      rows.push_back(value.null ? "NULL" : std::string(value.text));
    }
    return rows;
  }

  std::string count() { return queryValue(source(), "select count(*) from " + table_); }

  // Runs the report job `jobFile` unattended, without opening what it wrote.
  int runJobFile(const std::string& jobFile, const std::vector<std::string>& more) {
    std::vector<std::string> args = {"-silent", "-noautoopen", "-file=" + jobFile};
    args.insert(args.end(), more.begin(), more.end());
    return runRowpress(args, 120);
  }

  std::string table_;
};

TEST_P(ServerParametersTest, TheDriverNamesItsDatabaseAndTheDialectFollows) {
  auto session = openSession(source());
  ASSERT_TRUE(session);
  EXPECT_EQ(session->dbmsName(), GetParam().dbmsName);
  EXPECT_EQ(dialectOfDbms(session->dbmsName()), GetParam().dialect);
}

TEST_P(ServerParametersTest, AValueIsNeverReadAsSql) {
  const std::string byName = "select id from " + table_ + " where name = :name order by id";
  EXPECT_THAT(query(byName, {{"name", "beta"}}), ElementsAre("2"));
  EXPECT_THAT(query(byName, {{"name", "x' or '1'='1"}}), IsEmpty());
  // A backslash before the quote, which MariaDB would read as an escape in a string.
  EXPECT_THAT(query(byName, {{"name", "x\\' or 1=1 -- "}}), IsEmpty());
  EXPECT_THAT(query(byName, {{"name", "x\" or \"1\"=\"1"}}), IsEmpty());

  query("delete from " + table_ + " where name = :name", {{"name", "a'; delete from t; --"}});
  query("delete from " + table_ + " where name = :name",
        {{"name", "a'; delete from " + table_ + "; --"}});
  EXPECT_EQ(count(), "3");
  // The same statement with a name that is there deletes that row only.
  query("delete from " + table_ + " where name = :name", {{"name", "gamma"}});
  EXPECT_EQ(count(), "2");
}

TEST_P(ServerParametersTest, TextValuesArriveByteForByte) {
  // What a value holds is the text the server compares: quotes, a backslash, a line break, a
  // non-ASCII character; an empty value is the empty string, which no NULL would equal.
  const std::string insert =
      "insert into " + table_ + " (id, name) values (:id1, :v1), (:id2, :v2), (:id3, :v3)";
  query(insert, {{"id1", "10"},
                 {"v1", "it's \\ \"q\""},
                 {"id2", "11"},
                 {"v2", "line\nbreak Z\xc3\xbcrich"},
                 {"id3", "12"},
                 {"v3", ""}});
  const std::string byName = "select id from " + table_ + " where name = :v";
  EXPECT_THAT(query(byName, {{"v", "it's \\ \"q\""}}), ElementsAre("10"));
  EXPECT_THAT(query(byName, {{"v", "line\nbreak Z\xc3\xbcrich"}}), ElementsAre("11"));
  EXPECT_THAT(query(byName, {{"v", ""}}), ElementsAre("12"));
  EXPECT_THAT(query("select name from " + table_ + " where id = 11", {}),
              ElementsAre("line\nbreak Z\xc3\xbcrich"));
}

TEST_P(ServerParametersTest, LongAndEmptyValuesArriveWhole) {
  // Past 8,000 bytes a value is bound as a long one; the empty value is the empty string, of
  // length 0, where NULL would have no length.
  const std::string sql = "select length(:v)";
  EXPECT_THAT(query(sql, {{"v", std::string(8000, 'a')}}), ElementsAre("8000"));
  EXPECT_THAT(query(sql, {{"v", std::string(8001, 'b')}}), ElementsAre("8001"));
  EXPECT_THAT(query(sql, {{"v", std::string(60000, 'c')}}), ElementsAre("60000"));
  EXPECT_THAT(query(sql, {{"v", ""}}), ElementsAre("0"));
  EXPECT_THAT(query("select :v", {{"v", "x"}}), ElementsAre("x"));
}

TEST_P(ServerParametersTest, ADateGivenAsTextSelectsByDate) {
  const std::string sql =
      "select id from " + table_ + " where " + GetParam().dateRange + " order by id";
  EXPECT_THAT(query(sql, {{"from", "2024-02-01"}, {"to", "2024-03-01"}}), ElementsAre("2"));
  EXPECT_THAT(query(sql, {{"from", "2024-01-01"}, {"to", "2024-12-31"}}),
              ElementsAre("1", "2", "3"));
  EXPECT_THAT(query(sql, {{"from", "2024-03-02"}, {"to", "2025-01-01"}}), IsEmpty());
}

TEST_P(ServerParametersTest, ANameUsedTwiceIsBoundTwice) {
  // Each use is its own `?`: were the second one left unbound, the driver would refuse the
  // statement.
  const std::string sql =
      "select id from " + table_ + " where name >= :n and name <= :n or name = :m order by id";
  EXPECT_THAT(query(sql, {{"n", "beta"}, {"m", "alpha"}}), ElementsAre("1", "2"));
  EXPECT_THAT(query(sql, {{"n", "gamma"}, {"m", "none"}}), ElementsAre("3"));
}

TEST_P(ServerParametersTest, AStatementAfterOneWithParametersStartsWithout) {
  auto session = openSession(source());
  ASSERT_TRUE(session);
  const std::string sql = "select count(*) from " + table_ + " where name = ?";
  // The count of the statement executed on the session's handle, or the failure.
  auto counted = [&](const std::vector<std::string>& values) {
    OdbcResultCursor cursor(*session);
    std::string text = sql;
    std::string result = "failed";
    if (cursor.execute(text, values) == ResultCursor::Executed::Result &&
        cursor.fetch() == ResultRows::Fetched::Row) {
      CellValue value;
      if (cursor.value(1, value)) result = value.text;
    }
    SQLFreeStmt(statementOf(*session), SQL_CLOSE);
    return result;
  };
  EXPECT_EQ(counted({"beta"}), "1");
  // The same handle without values: the `?` of the statement has nothing bound to it any more.
  EXPECT_EQ(counted({}), "failed");
  EXPECT_EQ(counted({"gamma"}), "1");
  EXPECT_EQ(counted({"delta"}), "0");
}

// A report of three sheets through the executable: one file of the job, a date parameter that
// two sheets use and that the command line gives over the file's value, and each sheet as a
// worksheet of an .xlsx workbook and of an XML workbook, or as a CSV file of its own.
TEST_P(ServerParametersTest, AReportJobWritesEverySheetOfItsOutput) {
  const std::vector<JobSheet> sheets = {
      {"Since", "select id, name, d from " + table_ + " where d >= :from order by id"},
      // Columns of the table, whose types every driver describes (SQLite's describes a
      // computed column such as count(*) as text).
      {"Totals", "select id as n, name as last from " + table_ +
                     " where id = (select max(id) from " + table_ + ")"},
      {"Before", "select name from " + table_ + " where d < :from order by id"}};
  const std::string out = temp_ / "out";
  std::filesystem::create_directory(out);
  // Runs the report to `path`, which the summary line names as the first file written.
  auto runTo = [&](OutputType type, const std::string& path, const std::string& first) {
    const std::string job = writeReportJob(source(), sheets, {{"from", "2023-01-01"}}, type);
    EXPECT_EQ(runJobFile(job, {"-outfile=" + path, "-param=from=2024-02-01"}), 0) << stderrText();
    EXPECT_THAT(stderrText(), MatchesRegex("rowpress: 3 sheets, 4 rows to " + escapeRegex(first) +
                                           " in [0-9]+\\.[0-9] s\n"));
  };

  const std::string xlsx = out + "/book.xlsx";
  runTo(OutputType::Xlsx, xlsx, xlsx);
  EXPECT_EQ(stdoutText(), xlsx + "\n");
  expectXlsxSheetsReadByBoth(xlsx,
                             {{"Since",
                               {{text("id"), text("name"), text("d")},
                                {number("2"), text("beta"), date("2024-02-29")},
                                {number("3"), text("gamma"), date("2024-03-01")}}},
                              {"Totals", {{text("n"), text("last")}, {number("3"), text("gamma")}}},
                              {"Before", {{text("name")}, {text("alpha")}}}},
                             temp_ / "xlsx-read");

  // The XML workbook keeps numbers as numbers and everything else, dates too, as text.
  const std::string xml = out + "/sheets.xls";
  runTo(OutputType::Xml, xml, xml);
  EXPECT_EQ(stdoutText(), xml + "\n");
  const std::string converted = temp_ / "xml-read";
  std::filesystem::create_directory(converted);
  std::string log;
  ASSERT_EQ(convertWithLibreOffice({xml}, converted, temp_.path(), log), 0) << log;
  const SheetDump read = readWithPython("fods", converted + "/sheets.fods", temp_.path());
  EXPECT_THAT(read.errors, IsEmpty()) << read.log;
  ASSERT_EQ(read.sheets.size(), 3u);
  const auto cell = [](const char* kind, const std::string& value) {
    return SheetCell{kind, value};
  };
  EXPECT_EQ(read.sheets[0].name, "Since");
  EXPECT_EQ(usedContent(read.sheets[0]),
            (std::vector<SheetRow>{
                {cell("string", "id"), cell("string", "name"), cell("string", "d")},
                {cell("float", "2"), cell("string", "beta"), cell("string", "2024-02-29")},
                {cell("float", "3"), cell("string", "gamma"), cell("string", "2024-03-01")}}));
  EXPECT_EQ(read.sheets[1].name, "Totals");
  EXPECT_EQ(usedContent(read.sheets[1]),
            (std::vector<SheetRow>{{cell("string", "n"), cell("string", "last")},
                                   {cell("float", "3"), cell("string", "gamma")}}));
  EXPECT_EQ(read.sheets[2].name, "Before");
  EXPECT_EQ(usedContent(read.sheets[2]),
            (std::vector<SheetRow>{{cell("string", "name")}, {cell("string", "alpha")}}));

  // CSV: a file per sheet, the sheet's name before the extension, listed in the sheets' order.
  const std::string since = out + "/month-Since.csv";
  const std::string totals = out + "/month-Totals.csv";
  const std::string before = out + "/month-Before.csv";
  runTo(OutputType::Csv, out + "/month.csv", since);
  EXPECT_EQ(stdoutText(), since + "\n" + totals + "\n" + before + "\n");
  EXPECT_EQ(readFile(since), "id,name,d,\r\n2,beta,2024-02-29,\r\n3,gamma,2024-03-01,\r\n");
  EXPECT_EQ(readFile(totals), "n,last,\r\n3,gamma,\r\n");
  EXPECT_EQ(readFile(before), "name,\r\nalpha,\r\n");
  EXPECT_THAT(listDirectory(out), ElementsAre("book.xlsx", "month-Before.csv", "month-Since.csv",
                                              "month-Totals.csv", "sheets.xls"));
}

// A value from the job file or the command line reaches the database as a value: quotes in it
// neither widen a query nor end the statement and start another.
TEST_P(ServerParametersTest, AJobsValuesAreNeverReadAsSql) {
  const std::string out = temp_ / "match.csv";
  const std::string select =
      writeReportJob(source(), {{"", "select id from " + table_ + " where name = :name"}},
                     {{"name", "x' or '1'='1"}}, OutputType::Csv, "select.DIRU");
  EXPECT_EQ(runJobFile(select, {"-outfile=" + out}), 1) << stderrText();
  EXPECT_FALSE(fileExists(out));
  EXPECT_EQ(runJobFile(select, {"-outfile=" + out, "-param=name=beta"}), 0) << stderrText();
  EXPECT_EQ(readFile(out), "id,\r\n2,\r\n");

  const std::string remove =
      writeReportJob(source(), {{"", "delete from " + table_ + " where name = :name"}}, {},
                     OutputType::Csv, "delete.DIRU");
  for (const std::string& value :
       {std::string("a'; delete from t; --"), "a'; delete from " + table_ + "; --",
        std::string("x' or '1'='1")}) {
    SCOPED_TRACE(value);
    // No result set, no rows affected: status 1 and nothing deleted.
    EXPECT_EQ(runJobFile(remove, {"-outfile=" + out, "-param=name=" + value}), 1) << stderrText();
    EXPECT_EQ(count(), "3");
  }
  EXPECT_EQ(runJobFile(remove, {"-outfile=" + out, "-param=name=gamma"}), 1) << stderrText();
  EXPECT_EQ(count(), "2");
}

// A report publishes all its sheets or none: when a later sheet fails, or gives no result set,
// the files that had the output's names stay byte for byte, no file of an earlier sheet
// appears and no temporary file is left behind.
TEST_P(ServerParametersTest, AReportWithAFailingSheetPublishesNothing) {
  const std::string out = temp_ / "out";
  std::filesystem::create_directory(out);
  const std::map<std::string, std::string> earlier = {{"keep.xlsx", "an earlier workbook\n"},
                                                      {"keep.xls", "an earlier XML workbook\n"},
                                                      {"keep-First.csv", "first,\r\nearlier,\r\n"},
                                                      {"keep-Third.csv", "third,\r\nearlier,\r\n"}};
  for (const auto& [name, content] : earlier) writeFile(out + "/" + name, content);
  const std::vector<std::string> files = listDirectory(out);
  const std::string good = "select id, name from " + table_ + " order by id";
  for (const std::string& failing : {std::string("select nothing from no_such_table"),
                                     "update " + table_ + " set name = name where id < 0"}) {
    for (const auto& [type, name] :
         {std::pair{OutputType::Xlsx, "keep.xlsx"}, std::pair{OutputType::Xml, "keep.xls"},
          std::pair{OutputType::Csv, "keep.csv"}}) {
      SCOPED_TRACE(failing + " to " + name);
      const std::string job = writeReportJob(
          source(), {{"First", good}, {"Second", failing}, {"Third", good}}, {}, type);
      EXPECT_EQ(runJobFile(job, {"-outfile=" + out + "/" + name}), 3) << stderrText();
      EXPECT_EQ(stdoutText(), "");
      EXPECT_EQ(listDirectory(out), files);
    }
  }
  for (const auto& [name, content] : earlier) EXPECT_EQ(readFile(out + "/" + name), content);
  EXPECT_EQ(count(), "3");
}

using PostgresParametersTest = ServerTest;

// What only looks like a marker stays in the text that PostgreSQL runs: in a plain string (whose
// backslash is no escape), an E'' string, dollar quotes, nested comments, a line comment and a
// cast.
TEST_F(PostgresParametersTest, MarkersInStringsCommentsAndDollarQuotesReachTheServerAsWritten) {
  for (const char* dataSource : {kPgAnsi, kPgUnicode}) {
    SCOPED_TRACE(dataSource);
    auto session = openSession(dataSource);
    ASSERT_TRUE(session);
    const std::string sql =
        "select ':a ' || $$:b $$ || $t$:c $$ $t$ || E'\\' :d ' || /* :e /* :f */ :g */ :h::text"
        " || 'C:\\' || :dir -- :i\n"
        "  as v, :n::int + 1 as m, '1'::int as c";
    const MarkedStatement marked = findMarkers(sql, dialectOfDbms(session->dbmsName()));
    ASSERT_THAT(marked.names, ElementsAre("h", "dir", "n"));
    OdbcResultCursor cursor(*session);
    std::string text = marked.text;
    ASSERT_EQ(cursor.execute(text, {"H", "D", "41"}), ResultCursor::Executed::Result)
        << text << "\n"
        << cursor.diagnostic();
    ASSERT_EQ(cursor.columnCount(), 3);
    cursor.describe(3);
    ASSERT_EQ(cursor.fetch(), ResultRows::Fetched::Row) << cursor.diagnostic();
    CellValue value;
    ASSERT_TRUE(cursor.value(1, value));
    EXPECT_EQ(value.text, ":a :b :c $$ ' :d HC:\\D");
    ASSERT_TRUE(cursor.value(2, value));
    EXPECT_EQ(value.text, "42");
    ASSERT_TRUE(cursor.value(3, value));
    EXPECT_EQ(value.text, "1");
  }
}

// The same through the executable: in one statement, only the marker that is one takes the
// command line's value; a text that only looks like a marker is neither refused for want of a
// value nor bound.
TEST_F(PostgresParametersTest, AJobBindsOnlyItsRealMarkers) {
  const std::string sql =
      "select ':a ' || $$:b $$ || $t$:c $$ $t$ || E'\\' :d ' || /* :e /* :f */ :g */ :h::text"
      " || ' C:\\' -- :i\r\n"
      "  as v, '41'::int + 1 as m";
  const std::string job = writeReportJob(kPgAnsi, {{"", sql}}, {}, OutputType::Csv);
  const std::string out = temp_ / "markers.csv";
  EXPECT_EQ(
      runRowpress({"-silent", "-noautoopen", "-file=" + job, "-outfile=" + out, "-param=h=H"}), 0)
      << stderrText();
  EXPECT_EQ(readFile(out), "v,m,\r\n:a :b :c $$ ' :d H C:\\,42,\r\n");
}

// A parameter takes its type from what it is compared with. Inside a subquery nothing gives it
// one: the server takes it as text and finds no operator integer = text, so such a comparison
// needs a cast.
TEST_F(PostgresParametersTest, AParameterInASubqueryNeedsACast) {
  for (const char* dataSource : {kPgAnsi, kPgUnicode}) {
    SCOPED_TRACE(dataSource);
    auto run = [&](const std::string& where) {
      auto session = openSession(dataSource);
      if (!session) return std::string("no session");
      OdbcResultCursor cursor(*session);
      std::string text = findMarkers("select g from generate_series(1, 3) g where " + where,
                                     SqlDialect::PostgreSql)
                             .text;
      if (cursor.execute(text, {"2"}) != ResultCursor::Executed::Result) {
        return cursor.diagnostic();
      }
      CellValue value;
      if (cursor.fetch() != ResultRows::Fetched::Row || !cursor.value(1, value)) {
        return std::string("no row");
      }
      return std::string(value.text);
    };
    EXPECT_EQ(run("g = :id"), "2");
    EXPECT_EQ(run("g in (:id)"), "2");
    EXPECT_THAT(run("g in (select :id)"),
                HasSubstr("[42883] ERROR: operator does not exist: integer = text"));
    EXPECT_EQ(run("g in (select cast(:id as integer))"), "2");
    EXPECT_EQ(run("g in (select :id::int)"), "2");
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachDatabase, ServerParametersTest,
    ::testing::Values(
        // SQLite keeps dates as the text they were written as: text compares with text.
        ParameterCase{"Sqlite", "rowtest", "SQLite", SqlDialect::Sqlite, "d >= :from and d < :to"},
        // PostgreSQL: the driver sends a text parameter of no declared type, which the server
        // takes as the type of the column it is compared with, so `d >= ?` needs no cast.
        ParameterCase{"PgAnsi", kPgAnsi, "PostgreSQL", SqlDialect::PostgreSql,
                      "d >= :from and d < :to"},
        ParameterCase{"PgUnicode", kPgUnicode, "PostgreSQL", SqlDialect::PostgreSql,
                      "d >= :from and d < :to"},
        // MariaDB converts the text to a date to compare it with a date column.
        ParameterCase{"MariaDb", kMariaDb, "MariaDB", SqlDialect::MariaDb,
                      "d >= :from and d < :to"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace rowpress::support
