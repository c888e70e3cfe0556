// Catalog browsing and the fetch through the window, on a private ODBC configuration with
// SQLite data sources: system and user ones, one name in both groups, one that cannot open.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTabBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <filesystem>

#include "app/main_dialog.h"
#include "app/qt/main_window.h"
#include "app/startup.h"
#include "files/pause_point.h"
#include "tests/app_support/modal_script.h"
#include "tests/app_support/window_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {
namespace {

using Id = ControlId;

class CatalogWindowTest : public RunTest {
 protected:
  void SetUp() override {
    RunTest::SetUp();
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
    // Under a window manager the window is fitted to the screen again once it is framed: the
    // clicks of a test land where the controls are after that.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
    if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
      EXPECT_TRUE(QTest::qWaitFor(
          [this] { return !window_.windowHandle()->frameMargins().isNull(); }, 5000));
      QTest::qWait(100);
    }
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
  MainDialog windowDlg_{windowJob_, window_, StopRequest::instance()};
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

// The window's sheet tabs as a user works them: "+", a click on a tab, a double click that
// renames, the context menu that moves; the fetch writes each tab as a sheet in tab order.
TEST_F(CatalogWindowTest, SheetTabsAreAddedChosenRenamedAndMovedAndEachBecomesASheet) {
  execute("insert into Orders values (1, 'tea'), (2, 'coffee'), (3, 'cocoa')");
  auto* tabs = window_.findChild<QTabBar*>(QStringLiteral("sheetTabs"));
  auto* add = window_.findChild<QToolButton*>(QStringLiteral("addSheet"));
  ASSERT_TRUE(tabs && add);
  EXPECT_EQ(tabs->count(), 0);  // a job of one query has no tabs, only the "+"
  press(Id::ListDatabases);
  clickLine(Id::DataSourceList, "rowtest");
  clickLine(Id::TableList, "Orders");
  clickThroughWindow(add, add->rect().center());
  ASSERT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->currentIndex(), 1);
  clickLine(Id::TableList, "apple");
  auto clickTab = [&](int index) { clickThroughWindow(tabs, tabs->tabRect(index).center()); };
  clickTab(0);
  EXPECT_EQ(window_.text(Id::SqlBox), "select * from Orders");
  clickTab(1);
  EXPECT_EQ(window_.text(Id::SqlBox), "select * from apple");

  {
    ModalScript script({[](QWidget* top) {
      auto* ask = qobject_cast<QInputDialog*>(top);
      ASSERT_NE(ask, nullptr);
      EXPECT_EQ(ask->textValue(), QStringLiteral("Sheet2"));
      // Its caption shows whole and its box takes a long name.
      const QFontMetrics metrics(ask->font());
      EXPECT_GT(ask->width(), metrics.horizontalAdvance(ask->windowTitle()) + 100);
      EXPECT_GE(ask->findChild<QLineEdit*>()->width(), 25 * metrics.averageCharWidth());
      ask->setTextValue(QStringLiteral("Fruit & Veg"));
      ask->accept();
    }});
    const QPoint at = tabs->mapTo(&window_, tabs->tabRect(1).center());
    QTest::mouseDClick(window_.windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_TRUE(script.finished());
  }
  {
    ModalScript script({[](QWidget* top) {
      auto* menu = qobject_cast<QMenu*>(top);
      ASSERT_NE(menu, nullptr);
      QStringList texts;
      for (QAction* action : menu->actions()) texts << action->text();
      EXPECT_EQ(texts, QStringList({QString::fromUtf8(kRenameSheetItem),
                                    QString::fromUtf8(kRemoveSheetItem),
                                    QString::fromUtf8(kMoveSheetLeftItem),
                                    QString::fromUtf8(kMoveSheetRightItem)}));
      EXPECT_FALSE(menu->actions().last()->isEnabled());  // the last tab moves no further right
      menu->setActiveAction(menu->actions().at(2));
      QTest::keyClick(menu, Qt::Key_Return);
    }});
    const QPoint at = tabs->tabRect(1).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tabs->mapToGlobal(at));
    QApplication::sendEvent(tabs, &event);
    EXPECT_TRUE(script.finished());
  }
  ASSERT_EQ(tabs->count(), 2);
  // The "&" shows as itself, not as the mark of a shortcut key.
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Fruit && Veg"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("Sheet1"));
  EXPECT_EQ(window_.text(Id::SqlBox), "select * from apple");
  clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::LaunchOnFinish)));
  clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::OutputXlsx)));
  press(Id::Fetch);
  EXPECT_EQ(windowDlg_.lastExport().outcome, RunOutcome::Exported);
  EXPECT_EQ(windowDlg_.lastExport().sheets, 2);
  EXPECT_EQ(windowDlg_.lastExport().rows, 3);
  ASSERT_EQ(windowDlg_.lastExport().paths.size(), 1u);
  EXPECT_EQ(windowJob_.sheets.at(0).sql, "select * from apple");
  EXPECT_EQ(windowJob_.sheets.at(0).name, "Fruit & Veg");
  EXPECT_EQ(windowJob_.sheets.at(1).name, "Sheet1");
}

// The fetch on a thread of its own, as the program runs it: the window stays live, shows
// the progress and cancels. A recursive query of millions of rows keeps the export going.
class LiveExportTest : public CatalogWindowTest {
 protected:
  void SetUp() override {
    CatalogWindowTest::SetUp();
    if (HasFatalFailure()) return;
    window_.runFetchesLive(windowDlg_);
    windowDlg_.setLauncher(launcher_);
    press(Id::ListDatabases);
    clickLine(Id::DataSourceList, "rowtest");
    clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::OutputCsv)));
    clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::LaunchOnFinish)));
    std::filesystem::create_directories(outDir_);
    window_.setText(Id::OutFileName, target_);
    writeFile(target_, kEarlier);
  }

  void TearDown() override {
    // A run that a failed check left going ends before the dialog it uses goes.
    if (window_.fetchRunning()) {
      window_.reject();
      EXPECT_TRUE(QTest::qWaitFor([this] { return !window_.fetchRunning(); }, 10000));
    }
    CatalogWindowTest::TearDown();
  }

  // Starts an export of `rows` rows and waits until it has written `atLeast`.
  void startExport(long long rows, long long atLeast) {
    window_.setText(Id::SqlBox,
                    "with recursive c(x) as (select 1 union all select x + 1 from c where x < " +
                        std::to_string(rows) + ") select x, 'row number ' || x as label from c");
    press(Id::Fetch);
    ASSERT_TRUE(window_.fetchRunning()) << "the fetch must run on its own thread";
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowsWritten() >= atLeast; }, 20000))
        << "the export wrote " << rowsWritten()
        << " rows; the status list: " << ::testing::PrintToString(lines(Id::StatusList));
    ASSERT_TRUE(window_.fetchRunning()) << "the export ended before the test could watch it";
  }

  long long rowsWritten() const { return windowDlg_.rowsWritten().load(); }

  bool waitForTheEnd(int ms) {
    return QTest::qWaitFor([this] { return !window_.fetchRunning(); }, ms);
  }

  // No file but the target: no temporary file is left beside it.
  std::vector<std::string> outputDirectory() const { return listDirectory(outDir_); }

  // The next exports write an .xlsx over workbook_, which holds kEarlier, and wait where the
  // workbook library assembles the file until `assembling` lets them go on.
  void holdTheWorkbook(const support::PausePoint& assembling) {
    clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::OutputXlsx)));
    writeFile(workbook_, kEarlier);
    window_.setText(Id::OutFileName, workbook_);
    for (const auto& [name, value] : assembling.environment()) {
      ::setenv(name.c_str(), value->c_str(), 1);
    }
  }

  // Whether the export arrived at `point` while it runs, the window's loop going on.
  bool reached(support::PausePoint& point) {
    return point.waitUntilReached([this] {
      QCoreApplication::processEvents();
      return window_.fetchRunning();
    });
  }

  static constexpr char kEarlier[] = "the earlier file\r\n";
  const std::string outDir_ = temp_ / "out";
  const std::string target_ = outDir_ + "/orders.csv";
  const std::string workbook_ = outDir_ + "/orders.xlsx";
  const std::vector<Id> kCommands = {
      Id::ListDatabases, Id::DataSourceList, Id::TableList,         Id::SqlBox,
      Id::UserName,      Id::Password,       Id::OutputCsv,         Id::OutputTsv,
      Id::OutputHtml,    Id::OutputXml,      Id::OutputXlsx,        Id::SaveSettings,
      Id::SupportPage,   Id::LoadPrevious,   Id::LaunchApplication, Id::LaunchOnFinish,
      Id::OutFileName,   Id::Browse,         Id::ForceFullLength,   Id::Excel2007,
      Id::QuoteFields,   Id::ByteOrderMark,  Id::SheetTabs,         Id::SeparatorChoice,
      Id::Encoding,      Id::TimeZone};
};

// Counts the paint events of a widget and notes when the first one after a request came.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget* widget) { widget->installEventFilter(this); }
  bool painted = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) painted = true;
    return QObject::eventFilter(watched, event);
  }
};

TEST_F(LiveExportTest, TheWindowRepaintsShowsProgressAndOffersOnlyCancelWhileItRuns) {
  ASSERT_NO_FATAL_FAILURE(startExport(2000000, 20000));
  auto* fetch = qobject_cast<QPushButton*>(window_.control(Id::Fetch));
  EXPECT_EQ(fetch->text(), QStringLiteral("Cancel"));
  EXPECT_TRUE(fetch->isEnabled());
  for (Id id : kCommands) {
    EXPECT_FALSE(window_.control(id)->isEnabled()) << "control " << static_cast<int>(id);
  }
  EXPECT_FALSE(window_.aboutButton()->isEnabled());
  // The progress line stands where step 4 was: rows, rate and time, redrawn as rows come, the
  // counts grouped as the locale groups them.
  QLabel* live = window_.liveProgressLabel();
  EXPECT_TRUE(live->isVisible());
  const QString group = QRegularExpression::escape(QLocale().groupSeparator());
  const QRegularExpression progress(
      QStringLiteral("^(\\d{1,3}(?:%1\\d{3})*) rows, \\d{1,3}(?:%1\\d{3})* rows/s, \\d+\\.\\d s$")
          .arg(group));
  const QString first = live->text();
  EXPECT_TRUE(progress.match(first).hasMatch()) << first.toStdString();
  EXPECT_TRUE(QTest::qWaitFor([&] { return live->text() != first; }, 2000));
  EXPECT_GT(
      progress.match(live->text()).captured(1).remove(QLocale().groupSeparator()).toLongLong(), 0);
  // Uncovering the window asks for a repaint: it comes at once, while rows are still
  // being written.
  PaintWatch paints(&window_);
  QElapsedTimer clock;
  qint64 slowest = 0;
  for (int i = 0; i < 10; ++i) {
    const long long before = rowsWritten();
    paints.painted = false;
    clock.start();
    window_.update();
    ASSERT_TRUE(QTest::qWaitFor([&] { return paints.painted; }, 1000));
    slowest = std::max(slowest, clock.elapsed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return rowsWritten() > before; }, 1000));
  }
  RecordProperty("slowestRepaintMs", static_cast<int>(slowest));
  EXPECT_LT(slowest, 100) << "ms from the repaint request to the paint event";
  // It can be resized meanwhile (the offscreen screen is smaller than the window can grow,
  // so smaller): its scroll area follows at once.
  const int areaWidth = window_.scrollArea()->width();
  window_.resize(window_.width() - 120, window_.height() - 40);
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_.scrollArea()->width() < areaWidth; }, 1000))
      << "the window kept its width while the export ran";
  EXPECT_TRUE(window_.fetchRunning());
  // A command given meanwhile starts nothing.
  press(Id::ListDatabases);
  EXPECT_EQ(window_.lineCount(Id::DataSourceList), 6);
  QTest::keyClick(window_.control(Id::SqlBox), Qt::Key_A);
  EXPECT_EQ(window_.text(Id::SqlBox).substr(0, 14), "with recursive");
}

TEST_F(LiveExportTest, CancelEndsTheRunWithinASecondAndKeepsTheEarlierFile) {
  ASSERT_NO_FATAL_FAILURE(startExport(2000000, 100000));
  QElapsedTimer clock;
  clock.start();
  press(Id::Fetch);
  ASSERT_TRUE(waitForTheEnd(5000));
  RecordProperty("cancelMs", static_cast<int>(clock.elapsed()));
  EXPECT_LT(clock.elapsed(), 1000) << "ms from Cancel to the end of the run";
  const long long rows = windowDlg_.lastExport().rows;
  EXPECT_GE(rows, 100000);
  EXPECT_LT(rows, 2000000);
  const std::vector<std::string> status = lines(Id::StatusList);
  ASSERT_GE(status.size(), 2u);
  EXPECT_EQ(status[status.size() - 2], "Cancelled after " + std::to_string(rows) + " rows");
  EXPECT_THAT(status.back(),
              ::testing::MatchesRegex("[0-9]+ rows in [0-9]+\\.[0-9] s, no file kept"));
  EXPECT_TRUE(status.back().starts_with(std::to_string(rows) + " rows in "));
  EXPECT_EQ(readFile(target_), kEarlier);
  EXPECT_EQ(outputDirectory(), std::vector<std::string>{"orders.csv"});
  // The window stays and takes commands again; the next run is not cancelled.
  EXPECT_TRUE(window_.isVisible());
  auto* fetch = qobject_cast<QPushButton*>(window_.control(Id::Fetch));
  EXPECT_EQ(fetch->text(), QStringLiteral("Fetch ODBC Data into XLS"));
  for (Id id : kCommands) EXPECT_TRUE(window_.control(id)->isEnabled());
  EXPECT_EQ(window_.progressLabel()->text(), QString::number(rows) + QStringLiteral(" rows"));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  window_.setText(Id::SqlBox, "select 'tea' as item");
  press(Id::Fetch);
  ASSERT_TRUE(waitForTheEnd(10000));
  EXPECT_EQ(windowDlg_.lastExport().outcome, RunOutcome::Exported);
  EXPECT_EQ(readFile(target_), "item,\r\ntea,\r\n");
  // Not launched, the file is still named in full.
  EXPECT_THAT(lines(Id::StatusList).back(),
              ::testing::MatchesRegex("1 rows in [0-9]+\\.[0-9] s, kept " + target_));
  // A value the file could not hold as it is: a note, and the last line points to it.
  window_.setText(Id::SqlBox, "select 'tea, green' as item");
  press(Id::Fetch);
  ASSERT_TRUE(waitForTheEnd(10000));
  EXPECT_EQ(readFile(target_), "item,\r\ntea; green,\r\n");
  const std::vector<std::string> noted = lines(Id::StatusList);
  ASSERT_GE(noted.size(), 2u);
  EXPECT_THAT(noted[noted.size() - 2], ::testing::StartsWith("note: column 1 \"item\": 1 value"));
  EXPECT_THAT(noted.back(), ::testing::EndsWith(", 1 value changed to fit: see the status list"));
}

// After the last row of an .xlsx export the workbook is assembled, which writes no rows: the
// progress line says so, with the time going on.
TEST_F(LiveExportTest, TheProgressLineShowsTheWorkbookBeingWritten) {
  clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::OutputXlsx)));
  window_.setText(Id::OutFileName, outDir_ + "/orders.xlsx");
  ASSERT_NO_FATAL_FAILURE(startExport(400000, 1000));
  EXPECT_TRUE(QTest::qWaitFor(
      [this] {
        return window_.liveProgressLabel()->text().contains("rows, writing the workbook, ");
      },
      60000))
      << window_.liveProgressLabel()->text().toStdString();
  EXPECT_TRUE(waitForTheEnd(30000));
}

// The workbook library assembles the file in one call that no cancel cuts short: Cancel in
// that phase gives the window back at once, the cancelled run removes its files when the call
// ends, and a fetch started meanwhile waits for it.
TEST_F(LiveExportTest, ACancelWhileTheWorkbookIsWrittenGivesTheWindowBackAtOnce) {
  support::PausePoint assembling(temp_.path(), kPauseAssembling);
  holdTheWorkbook(assembling);
  ASSERT_NO_FATAL_FAILURE(startExport(2000, 1));
  ASSERT_TRUE(reached(assembling));
  // Held inside the assembling call: the click itself gives the window back.
  press(Id::Fetch);
  EXPECT_FALSE(window_.fetchRunning());
  auto* fetch = qobject_cast<QPushButton*>(window_.control(Id::Fetch));
  EXPECT_EQ(fetch->text(), QStringLiteral("Fetch ODBC Data into XLS"));
  for (Id id : kCommands) EXPECT_TRUE(window_.control(id)->isEnabled());
  EXPECT_THAT(lines(Id::StatusList).back(), ::testing::StartsWith("Cancelled while the workbook"));
  // A new fetch waits for the cancelled run's files to go, and then runs whole.
  ::unsetenv("ROWPRESS_TEST_PAUSE");
  window_.setText(Id::SqlBox, "select 'tea' as item");
  press(Id::Fetch);
  EXPECT_TRUE(window_.fetchRunning());
  EXPECT_THAT(window_.liveProgressLabel()->text().toStdString(),
              ::testing::StartsWith("waiting for the cancelled export"));
  EXPECT_EQ(readFile(workbook_), kEarlier);
  assembling.release();
  ASSERT_TRUE(waitForTheEnd(30000));
  EXPECT_EQ(windowDlg_.lastExport().outcome, RunOutcome::Exported);
  EXPECT_EQ(windowDlg_.lastExport().rows, 1);
  EXPECT_TRUE(readFile(workbook_).starts_with("PK"));
  EXPECT_THAT(outputDirectory(), ::testing::ElementsAre("orders.csv", "orders.xlsx"));
}

// A viewer that gives up at once (as the no-GUI LibreOffice does, without a word) is said in
// the status list, once.
TEST_F(LiveExportTest, AViewerThatEndsAtOnceWithAFailureIsSaid) {
  windowDlg_.setLauncher(watchingLauncher());
  clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::LaunchOnFinish)));
  window_.setText(Id::LaunchApplication, "sh -c 'exit 3'");
  window_.setText(Id::SqlBox, "select 'tea' as item");
  press(Id::Fetch);
  ASSERT_TRUE(waitForTheEnd(10000));
  auto said = [this] {
    const std::vector<std::string> status = lines(Id::StatusList);
    return std::count(status.begin(), status.end(), "sh ended with status 3") == 1;
  };
  EXPECT_TRUE(QTest::qWaitFor(said, 15000)) << lines(Id::StatusList).back();
  EXPECT_EQ(readFile(target_), "item,\r\ntea,\r\n");
}

// Markers in the SQL: the window asks for their values before the run starts; a cancelled
// question starts nothing.
TEST_F(LiveExportTest, TheParameterQuestionComesBeforeTheRunAndItsCancelStartsNothing) {
  execute("insert into Orders values (1, 'tea'), (2, 'coffee'), (3, 'cocoa')");
  window_.setText(Id::SqlBox, "select item from Orders where id >= :first order by id");
  auto answer = [](const char* value) {
    return [value](QWidget* top) {
      auto* dialog = qobject_cast<QDialog*>(top);
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8(kParameterCaption));
      auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("parameter:first"));
      ASSERT_NE(box, nullptr);
      if (!value) {
        dialog->reject();
        return;
      }
      box->setText(QString::fromUtf8(value));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    };
  };
  window_.appendLine(Id::StatusList, "earlier line");
  {
    ModalScript script({answer(nullptr)});
    press(Id::Fetch);
    EXPECT_TRUE(script.finished());
  }
  EXPECT_FALSE(window_.fetchRunning());
  EXPECT_EQ(readFile(target_), kEarlier);
  EXPECT_EQ(lines(Id::StatusList), std::vector<std::string>{"earlier line"});
  {
    ModalScript script({answer("2")});
    press(Id::Fetch);
    EXPECT_TRUE(script.finished());
  }
  ASSERT_TRUE(waitForTheEnd(10000));
  EXPECT_EQ(readFile(target_), "item,\r\ncoffee,\r\ncocoa,\r\n");
  for (Id id : kCommands) EXPECT_TRUE(window_.control(id)->isEnabled());

  // A parameter that no marker uses is shown with a check box that removes it, reached by Tab.
  setParameter(windowJob_, "month", "02");
  window_.setText(Id::SqlBox, "select item from Orders where id = 1");
  {
    ModalScript script({[](QWidget* top) {
      auto* dialog = qobject_cast<QDialog*>(top);
      ASSERT_NE(dialog, nullptr);
      auto* remove = dialog->findChild<QCheckBox*>(QStringLiteral("remove:month"));
      ASSERT_NE(remove, nullptr);
      EXPECT_TRUE(remove->isChecked());
      EXPECT_TRUE(remove->focusPolicy() & Qt::TabFocus);
      EXPECT_TRUE(remove->text().contains(QStringLiteral("month=02")));
      dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    }});
    press(Id::Fetch);
    EXPECT_TRUE(script.finished());
  }
  ASSERT_TRUE(waitForTheEnd(10000));
  EXPECT_EQ(readFile(target_), "item,\r\ntea,\r\n");
  EXPECT_TRUE(windowJob_.parameters.empty());
}

TEST_F(LiveExportTest, EscCancelsAndClosingAsksFirst) {
  ASSERT_NO_FATAL_FAILURE(startExport(2000000, 10000));
  QTest::keyClick(window_.control(Id::StatusList), Qt::Key_Escape);
  ASSERT_TRUE(waitForTheEnd(5000));
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(
      lines(Id::StatusList)[lines(Id::StatusList).size() - 2].starts_with("Cancelled after "));

  ASSERT_NO_FATAL_FAILURE(startExport(2000000, 10000));
  auto answer = [](QMessageBox::StandardButton button) {
    return [button](QWidget* top) {
      auto* box = qobject_cast<QMessageBox*>(top);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), QStringLiteral("An export is running. Cancel it and close?"));
      box->button(button)->click();
    };
  };
  {
    ModalScript script({answer(QMessageBox::No)});
    window_.close();
    EXPECT_TRUE(script.finished());
  }
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(window_.fetchRunning());
  const long long before = rowsWritten();
  ASSERT_TRUE(QTest::qWaitFor([&] { return rowsWritten() > before; }, 2000));
  // A job changed since it was kept is saved or discarded first; Cancel there keeps the window
  // and its export.
  window_.setCloseHandler([this] { return windowDlg_.OnClose(); });
  auto unsaved = [](QMessageBox::StandardButton button) {
    return [button](QWidget* top) {
      auto* box = qobject_cast<QMessageBox*>(top);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text().toStdString(), kUnsavedQuestion);
      box->button(button)->click();
    };
  };
  {
    ModalScript script({answer(QMessageBox::Yes), unsaved(QMessageBox::Cancel)});
    window_.close();
    EXPECT_TRUE(script.finished());
  }
  EXPECT_TRUE(window_.isVisible());
  EXPECT_TRUE(window_.fetchRunning());
  {
    ModalScript script({answer(QMessageBox::Yes), unsaved(QMessageBox::Discard)});
    window_.close();
    EXPECT_TRUE(script.finished());
  }
  // The window goes at once; the cancelled run ends after it.
  EXPECT_FALSE(window_.isVisible());
  ASSERT_TRUE(waitForTheEnd(5000));
  EXPECT_EQ(readFile(target_), kEarlier);
  EXPECT_EQ(outputDirectory(), std::vector<std::string>{"orders.csv"});
}

// Closing while an export runs, as the program runs the window (its own loop, QDialog::exec),
// through the close box (the close event that the window manager sends to the window) or
// close(): yes closes the window and ends its loop, whether the export still runs (it is
// cancelled first) or ended while the user was asked; no leaves the window open and usable.
class CloseWhileLiveTest : public LiveExportTest {
 protected:
  enum class Way { CloseBox, CloseCall };
  enum class Moment { WhileItRuns, AfterItEnded, WhileTheWorkbookIsWritten };

  void closeWindow(Way way) {
    if (way == Way::CloseCall) {
      window_.close();
      return;
    }
    QCloseEvent request;
    QCoreApplication::sendEvent(window_.windowHandle(), &request);
  }

  // The step that answers the question, once the export has ended by itself when `moment`
  // says so.
  ModalScript::Step answer(QMessageBox::StandardButton button, Moment moment) {
    return [this, button, moment](QWidget* top) {
      auto* box = qobject_cast<QMessageBox*>(top);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), QStringLiteral("An export is running. Cancel it and close?"));
      if (moment == Moment::AfterItEnded) {
        EXPECT_TRUE(waitForTheEnd(30000)) << "the export did not end while the user was asked";
      } else if (moment == Moment::WhileTheWorkbookIsWritten) {
        EXPECT_TRUE(reached(*held_));
      } else {
        EXPECT_TRUE(window_.fetchRunning());
      }
      box->button(button)->click();
    };
  }

  // Runs the window's loop: starts an export of `rows` rows, closes the window the `way` given
  // and answers `button` at `moment`. True when the window's loop ended by itself within
  // 20 seconds (else the test ends it).
  bool closeDuringAnExport(long long rows, Way way, QMessageBox::StandardButton button,
                           Moment moment) {
    bool started = false;
    QTimer::singleShot(0, &window_, [&] {
      ASSERT_NO_FATAL_FAILURE(startExport(rows, 1000));
      started = true;
      ModalScript script({answer(button, moment)}, 40000);
      closeWindow(way);
      EXPECT_TRUE(script.finished());
    });
    bool ended = true;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [&] {
      ended = false;
      // Hiding the dialog ends its loop, also when the window went off the screen without
      // ending it.
      if (window_.isHidden()) window_.show();
      window_.hide();
    });
    limit.start(20000);
    window_.exec();
    EXPECT_TRUE(started);
    return ended;
  }

  // Where the run is held in the moment WhileTheWorkbookIsWritten.
  support::PausePoint* held_ = nullptr;
};

TEST_F(CloseWhileLiveTest, YesClosesTheWindowAndEndsItsLoopAtAnyMoment) {
  for (const Way way : {Way::CloseBox, Way::CloseCall}) {
    for (const Moment moment : {Moment::WhileItRuns, Moment::AfterItEnded}) {
      SCOPED_TRACE(
          std::string(way == Way::CloseBox ? "close box" : "close()") +
          (moment == Moment::WhileItRuns ? ", yes while it runs" : ", yes after it ended"));
      window_.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
      const long long rows = moment == Moment::WhileItRuns ? 2000000 : 200000;
      EXPECT_TRUE(closeDuringAnExport(rows, way, QMessageBox::Yes, moment))
          << "the window's loop still ran after the answer";
      EXPECT_FALSE(window_.isVisible());
      // The cancelled run ends after the window went, as the program ends.
      EXPECT_TRUE(waitForTheEnd(10000));
      if (moment == Moment::WhileItRuns) {
        EXPECT_EQ(readFile(target_), kEarlier);
      } else {
        EXPECT_EQ(windowDlg_.lastExport().rows, rows);
      }
      // Whatever the answer, no temporary file is left.
      EXPECT_EQ(outputDirectory(), std::vector<std::string>{"orders.csv"});
      writeFile(target_, kEarlier);
    }
  }
}

// The workbook library's assembling is one call that nothing cuts short: Yes then closes the
// window at once too, and the cancelled run removes its files when the call ends.
TEST_F(CloseWhileLiveTest, YesWhileTheWorkbookIsWrittenClosesTheWindowAtOnce) {
  support::PausePoint assembling(temp_.path(), kPauseAssembling);
  holdTheWorkbook(assembling);
  held_ = &assembling;
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  EXPECT_TRUE(closeDuringAnExport(20000, Way::CloseBox, QMessageBox::Yes,
                                  Moment::WhileTheWorkbookIsWritten));
  ::unsetenv("ROWPRESS_TEST_PAUSE");
  EXPECT_FALSE(window_.isVisible());
  assembling.release();
  // The run's own last line comes when it has ended.
  EXPECT_TRUE(QTest::qWaitFor(
      [this] { return lines(Id::StatusList).back().ends_with(", no file kept"); }, 30000))
      << lines(Id::StatusList).back();
  EXPECT_EQ(readFile(workbook_), kEarlier);
  EXPECT_THAT(outputDirectory(), ::testing::ElementsAre("orders.csv", "orders.xlsx"));
}

TEST_F(CloseWhileLiveTest, NoAfterTheExportEndedLeavesTheWindowOpenAndUsable) {
  for (const Way way : {Way::CloseBox, Way::CloseCall}) {
    SCOPED_TRACE(way == Way::CloseBox ? "close box" : "close()");
    ASSERT_NO_FATAL_FAILURE(startExport(200000, 1000));
    {
      ModalScript script({answer(QMessageBox::No, Moment::AfterItEnded)}, 40000);
      closeWindow(way);
      EXPECT_TRUE(script.finished());
    }
    EXPECT_FALSE(window_.fetchRunning());
    EXPECT_EQ(windowDlg_.lastExport().rows, 200000);
    EXPECT_TRUE(window_.isVisible());
    EXPECT_TRUE(window_.windowHandle() && window_.windowHandle()->isVisible());
    for (Id id : kCommands) EXPECT_TRUE(window_.control(id)->isEnabled());
    // It takes commands: listing the data sources adds their six names again.
    const int listed = window_.lineCount(Id::DataSourceList);
    press(Id::ListDatabases);
    EXPECT_EQ(window_.lineCount(Id::DataSourceList), listed + 6);
  }
  // And closing it, with nothing running, ends it.
  window_.close();
  EXPECT_FALSE(window_.isVisible());
}

// During an export the window still scrolls: the wheel (which reaches the scroll area from over
// the disabled controls) and the scroll bars work, while the commands stay dropped.
TEST_F(LiveExportTest, TheWheelAndTheScrollBarsScrollWhileItRuns) {
  window_.resize(window_.templateSize() - QSize(200, 150));
  QScrollArea* area = window_.scrollArea();
  QScrollBar* vertical = area->verticalScrollBar();
  QScrollBar* horizontal = area->horizontalScrollBar();
  ASSERT_TRUE(QTest::qWaitFor([&] { return vertical->isVisible() && horizontal->isVisible(); }));
  vertical->setValue(0);
  horizontal->setValue(0);
  ASSERT_NO_FATAL_FAILURE(startExport(2000000, 10000));

  QWidget* viewport = area->viewport();
  const QPointF at = QPointF(viewport->rect().center());
  QWheelEvent down(at, QPointF(viewport->mapToGlobal(at.toPoint())), QPoint(), QPoint(0, -120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(viewport, &down);
  EXPECT_GT(vertical->value(), 0) << "the wheel did not scroll";

  // A click on a scroll bar's track beyond its handle pages on.
  auto pageOn = [](QScrollBar* bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    const QRect page = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                    QStyle::SC_ScrollBarAddPage, bar);
    const int before = bar->value();
    // Through the window, as the window system delivers a click (the bar is not on the
    // canvas, so it needs no scrolling into view).
    QTest::mouseClick(bar->window()->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      bar->mapTo(bar->window(), page.center()));
    return bar->value() > before;
  };
  EXPECT_TRUE(pageOn(vertical)) << "a click on the vertical scroll bar did not scroll";
  EXPECT_TRUE(pageOn(horizontal)) << "a click on the horizontal scroll bar did not scroll";
  EXPECT_TRUE(window_.fetchRunning());
  // A command given meanwhile still starts nothing.
  press(Id::ListDatabases);
  EXPECT_EQ(window_.lineCount(Id::DataSourceList), 6);
}

// Launches on the window's thread, as the dialogs and widgets of a viewer may need.
class ThreadCheckingLauncher : public Launcher {
 public:
  std::string start(const std::vector<std::string>& command) override {
    started.push_back(command);
    onWindowThread = QThread::currentThread() == qApp->thread();
    return {};
  }
  std::vector<std::vector<std::string>> started;
  bool onWindowThread = false;
};

TEST_F(LiveExportTest, MessagesAndTheViewerOfTheRunComeOnTheWindowsThread) {
  clickLine(Id::TableList, "apple");
  bool boxOnWindowThread = false;
  {
    ModalScript script({[&](QWidget* top) {
      auto* box = qobject_cast<QMessageBox*>(top);
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->text(), QStringLiteral("No Results Found"));
      boxOnWindowThread = QThread::currentThread() == qApp->thread();
      box->button(QMessageBox::Ok)->click();
    }});
    press(Id::Fetch);
    ASSERT_TRUE(waitForTheEnd(10000));
    EXPECT_TRUE(script.finished());
  }
  EXPECT_TRUE(boxOnWindowThread);
  EXPECT_THAT(lines(Id::StatusList).back(),
              ::testing::MatchesRegex("0 rows in [0-9]+\\.[0-9] s, no file kept"));
  EXPECT_EQ(readFile(target_), kEarlier);

  ThreadCheckingLauncher viewer;
  windowDlg_.setLauncher(viewer);
  clickIndicator(qobject_cast<QCheckBox*>(window_.control(Id::LaunchOnFinish)));
  execute("insert into apple values (7)");
  clickLine(Id::TableList, "apple");
  press(Id::Fetch);
  ASSERT_TRUE(waitForTheEnd(10000));
  ASSERT_EQ(viewer.started.size(), 1u);
  EXPECT_THAT(viewer.started[0], ::testing::Contains(target_));
  EXPECT_TRUE(viewer.onWindowThread);
  EXPECT_EQ(readFile(target_), "x,\r\n7,\r\n");
}

}  // namespace
}  // namespace rowpress::support
