// Catalog browsing and the fetch through the window, on a private ODBC configuration with
// SQLite data sources: system and user ones, one name in both groups, one that cannot open.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include "app/main_dialog.h"
#include "app/qt/main_window.h"
#include "app/qt/modal_script.h"
#include "app/qt/window_fixture.h"
#include "app/startup.h"
#include "tests/support/odbc_fixture.h"

namespace rowpress::testing {
namespace {

using Id = ControlId;

class CatalogWindowTest : public OdbcTest {
 protected:
  void SetUp() override {
    OdbcTest::SetUp();
    if (HasFatalFailure()) return;
    addDataSource("alpha", temp_ / "alpha.db");
    addDataSource("shared", temp_ / "shared-system.db");
    addDataSource("broken", (temp_ / "missing") + "/none.db", false, "NoCreat=1");
    addDataSource("beta", temp_ / "beta.db", true);
    addDataSource("shared", temp_ / "shared-user.db", true);
    execute("create table Orders (id integer, item varchar(20))");
    execute("create table \"Order Details\" (id integer)");
    execute("create table apple (x integer)");
    execute("create table Zebra (x integer)");
    execute("create view customers_view as select x from apple");
    applyDefaults(windowJob_, window_);
    window_.show();
  }

  void press(Id id) {
    QWidget* button = window_.control(id);
    clickThroughWindow(button, button->rect().center());
  }

  // Clicks the line `text` of a list as a user does.
  void clickLine(Id id, const std::string& text) {
    auto* list = qobject_cast<QListWidget*>(window_.control(id));
    ASSERT_NE(list, nullptr);
    int row = -1;
    for (int i = 0; i < window_.lineCount(id); ++i) {
      if (window_.lineText(id, i) == text) row = i;
      if (row >= 0) break;
    }
    ASSERT_GE(row, 0) << "no line " << text;
    list->scrollToItem(list->item(row));
    clickThroughWindow(list->viewport(), list->visualItemRect(list->item(row)).center());
  }

  std::vector<std::string> lines(Id id) {
    std::vector<std::string> result;
    for (int i = 0; i < window_.lineCount(id); ++i) result.push_back(window_.lineText(id, i));
    return result;
  }

  const std::vector<std::string> kTables = {"apple", "customers_view", "Order Details", "Orders",
                                            "Zebra"};

  JobSettings windowJob_;
  QtMainWindow window_;
  MainDialog windowDlg_{windowJob_, window_};
};

TEST_F(CatalogWindowTest, ListingTwiceAppendsSystemThenUserNamesAgain) {
  press(Id::ListDatabases);
  const std::vector<std::string> once = {"rowtest", "alpha", "shared", "broken", "beta", "shared"};
  EXPECT_EQ(lines(Id::DataSourceList), once);
  press(Id::ListDatabases);
  std::vector<std::string> twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(lines(Id::DataSourceList), twice);
  EXPECT_EQ(window_.selectedIndex(Id::DataSourceList), -1);
}

TEST_F(CatalogWindowTest, SelectingASourceLatchesItAndListsItsTablesSorted) {
  press(Id::ListDatabases);
  QTest::keyClicks(window_.control(Id::UserName), "ann");
  QTest::keyClicks(window_.control(Id::Password), "secret");
  clickLine(Id::DataSourceList, "rowtest");
  EXPECT_EQ(windowJob_.dataSource, "rowtest");
  EXPECT_EQ(windowJob_.userName, "ann");
  EXPECT_EQ(windowJob_.password, "secret");
  EXPECT_EQ(lines(Id::TableList), kTables);
  EXPECT_EQ(window_.selectedIndex(Id::TableList), -1);
  EXPECT_EQ(window_.text(Id::SqlBox), "");  // selecting a source leaves the SQL alone
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(CatalogWindowTest, SelectingATableWritesItsQuery) {
  press(Id::ListDatabases);
  clickLine(Id::DataSourceList, "rowtest");
  clickLine(Id::TableList, "Order Details");
  EXPECT_EQ(window_.text(Id::SqlBox), "select * from `Order Details`");
  clickLine(Id::TableList, "Orders");
  EXPECT_EQ(window_.text(Id::SqlBox), "select * from Orders");
  clickLine(Id::TableList, "customers_view");
  EXPECT_EQ(window_.text(Id::SqlBox), "select * from customers_view");
}

TEST_F(CatalogWindowTest, ASourceThatCannotOpenLeavesDidNotConnect) {
  press(Id::ListDatabases);
  clickLine(Id::DataSourceList, "rowtest");
  clickLine(Id::DataSourceList, "broken");
  EXPECT_EQ(windowJob_.dataSource, "broken");
  // The reason shows on the failure line, after "did not connect".
  const std::vector<std::string> failure = lines(Id::TableList);
  ASSERT_EQ(failure.size(), 1u);
  EXPECT_THAT(failure[0], ::testing::StartsWith("did not connect\n["));
  auto* tables = qobject_cast<QListWidget*>(window_.control(Id::TableList));
  EXPECT_TRUE(tables->item(0)->text().startsWith(QStringLiteral("did not connect [")));
  // The failure line names no table: clicking it builds no query.
  clickLine(Id::TableList, failure[0]);
  EXPECT_EQ(window_.text(Id::SqlBox), "");
}

TEST_F(CatalogWindowTest, PressingTheSelectedSourceAgainConnectsAnew) {
  press(Id::ListDatabases);
  clickLine(Id::DataSourceList, "alpha");
  clickLine(Id::DataSourceList, "rowtest");
  QTest::keyClicks(window_.control(Id::Password), "later");
  EXPECT_EQ(windowJob_.password, "");  // typing alone latches nothing
  clickLine(Id::DataSourceList, "rowtest");
  EXPECT_EQ(windowJob_.password, "later");
  EXPECT_EQ(lines(Id::TableList), kTables);  // listed afresh, not twice
}

TEST_F(CatalogWindowTest, TheKeyboardSelectsASourceToo) {
  press(Id::ListDatabases);
  auto* list = qobject_cast<QListWidget*>(window_.control(Id::DataSourceList));
  clickLine(Id::DataSourceList, "rowtest");
  QTest::keyClick(list, Qt::Key_Down);  // alpha
  EXPECT_EQ(windowJob_.dataSource, "alpha");
  EXPECT_EQ(lines(Id::TableList), std::vector<std::string>{});
}

TEST_F(CatalogWindowTest, FetchWritesTheFileAndShowsTheRows) {
  execute("insert into Orders values (1, 'tea'), (2, 'coffee'), (3, 'cocoa')");
  press(Id::ListDatabases);
  clickLine(Id::DataSourceList, "rowtest");
  clickLine(Id::TableList, "Orders");
  clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::LaunchOnFinish)));
  ASSERT_TRUE(windowJob_.noAutoOpen);
  press(Id::Fetch);
  const std::vector<std::string> status = lines(Id::StatusList);
  ASSERT_GE(status.size(), 4u);
  EXPECT_EQ(status[0], "select * from Orders");
  EXPECT_EQ(windowDlg_.lastExport().rows, 3);
  EXPECT_TRUE(fileExists(windowDlg_.lastExport().path));
  EXPECT_EQ(window_.progressLabel()->text(), QStringLiteral("3 rows"));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(CatalogWindowTest, AnEmptyResultIsShownInAMessageBox) {
  press(Id::ListDatabases);
  clickLine(Id::DataSourceList, "rowtest");
  clickLine(Id::TableList, "apple");
  ModalScript script({[](QWidget* top) {
    auto* box = qobject_cast<QMessageBox*>(top);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QStringLiteral("No Results Found"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("SQL statement failed."));
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    // The box answers with the ordinary pointer while the command is busy.
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
    box->button(QMessageBox::Ok)->click();
  }});
  press(Id::Fetch);
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(outputFiles(), std::vector<std::string>{});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace rowpress::testing
