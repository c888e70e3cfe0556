// The dialog's catalog browsing against a private ODBC configuration with several data sources.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/catalog.h"
#include "tests/app_support/dialog_fixture.h"

namespace rowpress {
namespace {

using ::testing::ElementsAre;
using ::testing::MatchesRegex;
using ::testing::StartsWith;

class CatalogTest : public support::DialogTest {
 protected:
  void SetUp() override {
    support::DialogTest::SetUp();
    addDataSource("sales", temp_ / "sales.db");
    addDataSource("both", temp_ / "sales.db");
    addDataSource("mine", temp_ / "sales.db", true);
    addDataSource("both", temp_ / "sales.db", true);
    addDataSource("gone", temp_ / "missing.db", false, "NoCreat=1");
    execute("create table orders (id integer)", "sales");
    execute("create table \"Order Details\" (id integer)", "sales");
    execute("create table alpha (id integer)", "sales");
    execute("create table Beta (id integer)", "sales");
    execute("create view big_orders as select * from orders", "sales");
  }
  void selectSource(const std::string& name) {
    auto lines = view_.lines(ControlId::DataSourceList);
    auto at = std::find(lines.begin(), lines.end(), name);
    ASSERT_NE(at, lines.end()) << name;
    view_.select(ControlId::DataSourceList, static_cast<int>(at - lines.begin()));
  }
};

TEST_F(CatalogTest, ListsSystemThenUserSourcesAndAppendsEachTime) {
  view_.click(ControlId::ListDatabases);
  EXPECT_THAT(view_.lines(ControlId::DataSourceList),
              ElementsAre("rowtest", "sales", "both", "gone", "mine", "both"));
  view_.click(ControlId::ListDatabases);
  EXPECT_EQ(view_.lines(ControlId::DataSourceList).size(), 12u);
}

TEST_F(CatalogTest, SelectingASourceLatchesCredentialsAndListsItsTablesSorted) {
  view_.click(ControlId::ListDatabases);
  view_.setText(ControlId::UserName, "ann");
  view_.setText(ControlId::Password, "secret");
  selectSource("sales");
  EXPECT_EQ(job_.dataSource, "sales");
  EXPECT_EQ(job_.userName, "ann");
  EXPECT_EQ(job_.password, "secret");
  EXPECT_THAT(view_.lines(ControlId::TableList),
              ElementsAre("alpha", "Beta", "big_orders", "Order Details", "orders"));
  EXPECT_EQ(view_.busyDepth, 0);

  // A password typed after the selection is not used until the next selection.
  view_.setText(ControlId::Password, "typed later");
  EXPECT_EQ(job_.password, "secret");
  selectSource("sales");
  EXPECT_EQ(job_.password, "typed later");
  EXPECT_EQ(view_.lines(ControlId::TableList).size(), 5u);
}

TEST_F(CatalogTest, SelectingATableWritesItsDefaultQuery) {
  view_.click(ControlId::ListDatabases);
  selectSource("sales");
  auto tables = view_.lines(ControlId::TableList);
  view_.select(ControlId::TableList, 3);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from `Order Details`");
  view_.select(ControlId::TableList, 4);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from orders");
  EXPECT_EQ(defaultQueryFor("big-orders"), "select * from big-orders");
  // In a report the table fills the current sheet's SQL and leaves the others alone.
  view_.click(ControlId::AddSheet);
  view_.select(ControlId::TableList, 0);
  view_.chooseSheet(0);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from orders");
  view_.chooseSheet(1);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from alpha");
}

// At the fetch the window asks for the values of the SQL's markers, found by the quoting
// rules of the database the listing reached (SQLite's [...] is a name, no marker in it): the
// job's value first, else the one given last. A cancelled question runs nothing.
TEST_F(CatalogTest, TheFetchAsksForTheMarkersValuesAndACancelRunsNothing) {
  execute("insert into orders values (1), (2), (3)", "sales");
  view_.click(ControlId::ListDatabases);
  selectSource("sales");
  view_.click(ControlId::OutputCsv);
  const std::string out = temp_ / "low.csv";
  view_.setText(ControlId::OutFileName, out);
  view_.setText(ControlId::SqlBox, "select id as [:label] from orders where id >= :low");
  view_.appendLine(ControlId::StatusList, "earlier line");
  EXPECT_EQ(dlg_.OnFetch().outcome, RunOutcome::NoConnection);  // cancelled
  EXPECT_FALSE(support::fileExists(out));
  // The status list is cleared only when the run starts.
  EXPECT_THAT(view_.lines(ControlId::StatusList), ElementsAre("earlier line"));

  view_.parameterAnswers.push_back(std::vector<std::string>{"2"});
  ASSERT_EQ(dlg_.OnFetch().outcome, RunOutcome::Exported);
  EXPECT_EQ(support::readFile(out), ":label,\r\n2,\r\n3,\r\n");
  view_.parameterAnswers.push_back(std::vector<std::string>{"3"});
  ASSERT_EQ(dlg_.OnFetch().outcome, RunOutcome::Exported);
  // A value from the job (as a settings file gives it) comes before the last one given.
  setParameter(job_, "low", "1");
  view_.parameterAnswers.push_back(std::vector<std::string>{"1"});
  ASSERT_EQ(dlg_.OnFetch().outcome, RunOutcome::Exported);
  ASSERT_EQ(view_.parameterQuestions.size(), 4u);
  for (const auto& question : view_.parameterQuestions) {
    EXPECT_THAT(question.names, ElementsAre("low"));
  }
  EXPECT_THAT(view_.parameterQuestions[1].values, ElementsAre(""));
  EXPECT_THAT(view_.parameterQuestions[2].values, ElementsAre("2"));
  EXPECT_THAT(view_.parameterQuestions[3].values, ElementsAre("1"));
  // The status list shows the marker, never the value.
  EXPECT_EQ(view_.lines(ControlId::StatusList).front(),
            "select id as [:label] from orders where id >= :low");
}

TEST_F(CatalogTest, TableNamesLongerThan128BytesAreListedWhole) {
  // 129 bytes that a cut at 128 would split inside the last e-acute, and 301 bytes.
  std::string accented = "t";
  for (int i = 0; i < 64; ++i) accented += "\xC3\xA9";
  const std::string ascii = "long_" + std::string(296, 'n');
  ASSERT_EQ(accented.size(), 129u);
  execute("create table \"" + accented + "\" (id integer)", "sales");
  execute("create table " + ascii + " (id integer)", "sales");
  execute("insert into " + ascii + " values (7)", "sales");
  view_.click(ControlId::ListDatabases);
  selectSource("sales");
  const std::vector<std::string> tables = view_.lines(ControlId::TableList);
  EXPECT_THAT(tables, ::testing::Contains(accented));
  const auto at = std::find(tables.begin(), tables.end(), ascii);
  ASSERT_NE(at, tables.end());
  // Its default query runs on that table.
  view_.select(ControlId::TableList, static_cast<int>(at - tables.begin()));
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from " + ascii);
  view_.click(ControlId::OutputCsv);
  view_.setText(ControlId::OutFileName, temp_ / "long.csv");
  ASSERT_EQ(dlg_.OnFetch().outcome, RunOutcome::Exported);
  EXPECT_EQ(support::readFile(temp_ / "long.csv"), "id,\r\n7,\r\n");
}

TEST_F(CatalogTest, AFailingSourceLeavesOnlyTheFailureLine) {
  view_.click(ControlId::ListDatabases);
  selectSource("sales");
  selectSource("gone");
  EXPECT_EQ(job_.dataSource, "gone");
  // One line, the driver's reason under "did not connect".
  EXPECT_THAT(view_.lines(ControlId::TableList),
              ElementsAre(MatchesRegex("did not connect\n\\[[0-9A-Z]{5}\\] .+ \\([0-9-]+\\)")));
  // The failure line names no table: selecting it leaves the SQL box alone.
  view_.setText(ControlId::SqlBox, "select 42");
  view_.select(ControlId::TableList, 0);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select 42");
  // Once the source connects, its tables build queries again.
  selectSource("sales");
  view_.select(ControlId::TableList, 4);
  EXPECT_EQ(view_.text(ControlId::SqlBox), "select * from orders");
}

TEST_F(CatalogTest, OverLongNamesEndTheirGroup) {
  // A name over 32 characters does not fit the driver manager's answer; it and every later
  // name of its group are left out.
  addDataSource("a_data_source_name_of_forty_characters__", temp_ / "x.db", true);
  addDataSource("after", temp_ / "x.db", true);
  view_.click(ControlId::ListDatabases);
  EXPECT_THAT(view_.lines(ControlId::DataSourceList),
              ElementsAre("rowtest", "sales", "both", "gone", "mine", "both"));
}

TEST_F(CatalogTest, AFetchWithoutASelectedSourceCannotConnectAndClearsTheListEachTime) {
  view_.setText(ControlId::SqlBox, "select 1");
  view_.appendLine(ControlId::StatusList, "old");
  EXPECT_EQ(dlg_.OnFetch().outcome, RunOutcome::NoConnection);
  EXPECT_EQ(dlg_.OnFetch().outcome, RunOutcome::NoConnection);
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("select 1", "did not connect", StartsWith("[IM002] ")));
  EXPECT_EQ(view_.busyDepth, 0);
  EXPECT_EQ(view_.busyCount, 2);
}

}  // namespace
}  // namespace rowpress
