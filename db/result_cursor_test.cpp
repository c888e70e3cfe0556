// The result cursor on the SQLite driver, which streams rows (StepAPI) in a mode that describes
// a column without a declared type as text: such columns take the types that the driver's typed
// mode gives them, and the second run that finds them leaves nothing behind. The driver is
// never cancelled from another thread nor given rowsets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/odbc_result_cursor.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress {
namespace {

class ResultCursorTest : public support::OdbcTest {
 protected:
  void SetUp() override {
    OdbcTest::SetUp();
    execute("create table orders (customer text, amount real)");
    // The first group's total is NULL.
    execute(
        "insert into orders values ('ann', NULL), ('bob', 2.5), ('bob', 4), ('cy', 1), "
        "('cy', 2)");
    addDataSourceSection("typed", "Driver=SQLite3\nDatabase=" + database() + "\nStepAPI=0\n");
  }

  // The types (SQL type, size, digits) of the result columns of `sql` on `dataSource`.
  static std::vector<std::string> typesOf(const std::string& dataSource, std::string sql) {
    JobSettings job;
    job.dataSource = dataSource;
    std::optional<OdbcSession> session = OpenSession(job, kFetchSessionMessages);
    EXPECT_TRUE(session);
    if (!session) return {};
    OdbcResultCursor cursor(*session);
    EXPECT_EQ(cursor.execute(sql), ResultCursor::Executed::Result) << cursor.diagnostic();
    std::vector<std::string> types;
    for (const ColumnInfo& column : cursor.describe(cursor.columnCount().value_or(0))) {
      types.push_back(std::to_string(column.sqlType) + "," + std::to_string(column.declaredSize) +
                      "," + std::to_string(column.decimalDigits));
    }
    return types;
  }
};

TEST_F(ResultCursorTest, ExpressionColumnsTakeTheTypedModesTypes) {
  for (const std::string sql :
       {"select customer, sum(amount), count(*) from orders group by customer order by customer",
        "select customer, sum(amount), count(*) from orders group by customer order by customer "
        "desc",
        "select amount * 2, customer || '!' from orders where customer = 'bob'"}) {
    SCOPED_TRACE(sql);
    const std::vector<std::string> streamed = typesOf("rowtest", sql);
    EXPECT_EQ(streamed, typesOf("typed", sql));
    ASSERT_FALSE(streamed.empty());
  }
  // Not text: a total is a number, a count a whole number.
  const std::vector<std::string> totals =
      typesOf("rowtest", "select sum(amount), count(*) from orders where customer = 'bob'");
  ASSERT_EQ(totals.size(), 2u);
  EXPECT_EQ(totals[0].substr(0, 2), "8,");
  EXPECT_EQ(totals[1].substr(0, 2), "4,");
}

TEST_F(ResultCursorTest, TheRunThatFindsTheTypesLeavesNothing) {
  // A statement that writes runs once: the typed run that described its columns was rolled back.
  typesOf("rowtest", "insert into orders values ('dee', 3) returning amount * 2");
  JobSettings job;
  job.dataSource = "rowtest";
  std::optional<OdbcSession> session = OpenSession(job, kFetchSessionMessages);
  ASSERT_TRUE(session);
  OdbcResultCursor cursor(*session);
  std::string count = "select count(*) from orders where customer = 'dee'";
  ASSERT_EQ(cursor.execute(count), ResultCursor::Executed::Result);
  cursor.describe(1);
  ASSERT_EQ(cursor.fetch(), ResultRows::Fetched::Row);
  CellValue value;
  ASSERT_TRUE(cursor.value(1, value));
  EXPECT_EQ(value.text, "1");
}

// After a rowset of two rows the SQLite driver returned the second row's value from SQLGetData
// on the first; and it frees the cursor under a statement that another thread cancels.
TEST_F(ResultCursorTest, TheSqliteDriverIsNeverCancelledFromAnotherThreadNorGivenRowsets) {
  JobSettings job;
  job.dataSource = "rowtest";
  std::optional<OdbcSession> session = OpenSession(job, kFetchSessionMessages);
  ASSERT_TRUE(session);
  EXPECT_FALSE(driverCancelsSafely(connectionOf(*session)));
  EXPECT_FALSE(driverCancelsSafely(SQL_NULL_HDBC));
  OdbcResultCursor cursor(*session);
  EXPECT_FALSE(cursor.cancelsSafely());
  std::string sql = "select customer, amount from orders";
  ASSERT_EQ(cursor.execute(sql), ResultCursor::Executed::Result);
  cursor.describe(2);
  ASSERT_EQ(cursor.fetch(), ResultRows::Fetched::Row);
  EXPECT_EQ(cursor.rowsetSize(), 1u);
}

}  // namespace
}  // namespace rowpress
