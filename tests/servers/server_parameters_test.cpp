// Statements with `:name` markers on each database, through its own driver: the markers are
// found by the rules of the database that the driver names, the values are bound as text and
// never read as SQL, a name used twice is bound twice, and on PostgreSQL what only looks like a
// marker (in strings, comments, dollar quotes, casts) reaches the server as it was written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "db/result_cursor.h"
#include "db/sql_markers.h"
#include "tests/servers/server_test.h"

namespace rowpress::support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

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
      const ResultCursor::Fetched fetched = cursor.fetch();
      if (fetched == ResultCursor::Fetched::End) break;
      if (fetched == ResultCursor::Fetched::Failed) {
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
        cursor.fetch() == ResultCursor::Fetched::Row) {
      CellValue value;
      if (cursor.value(1, value)) result = value.text;
    }
    SQLFreeStmt(session->statement(), SQL_CLOSE);
    return result;
  };
  EXPECT_EQ(counted({"beta"}), "1");
  // The same handle without values: the `?` of the statement has nothing bound to it any more.
  EXPECT_EQ(counted({}), "failed");
  EXPECT_EQ(counted({"gamma"}), "1");
  EXPECT_EQ(counted({"delta"}), "0");
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
    ASSERT_EQ(cursor.fetch(), ResultCursor::Fetched::Row) << cursor.diagnostic();
    CellValue value;
    ASSERT_TRUE(cursor.value(1, value));
    EXPECT_EQ(value.text, ":a :b :c $$ ' :d HC:\\D");
    ASSERT_TRUE(cursor.value(2, value));
    EXPECT_EQ(value.text, "42");
    ASSERT_TRUE(cursor.value(3, value));
    EXPECT_EQ(value.text, "1");
  }
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
      if (cursor.fetch() != ResultCursor::Fetched::Row || !cursor.value(1, value)) {
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
