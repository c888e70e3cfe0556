// The window driving the dialog logic: check boxes, typing, the lists, the busy cursor, the
// progress of an export and the support page. File dialogs and settings files are in
// window_files_test.cpp.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "app/job_controls.h"
#include "app/memory_view.h"
#include "app/qt/main_window.h"
#include "tests/app_support/modal_script.h"
#include "tests/app_support/output_boxes.h"
#include "tests/app_support/window_fixture.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {
namespace {

using Id = ControlId;

TEST_F(HandlersTest, ClicksOnTheOutputBoxesKeepExactlyOneChecked) {
  EXPECT_EQ(outputState(), "XML/");
  click(Id::OutputXml);  // unchecking XML falls back to CSV
  EXPECT_EQ(outputState(), "CSV/c");
  click(Id::OutputTsv);
  EXPECT_EQ(outputState(), "TSV/t");
  click(Id::OutputCsv);
  EXPECT_EQ(outputState(), "CSV/c");
  click(Id::OutputCsv);  // unchecking CSV falls back to XML
  EXPECT_EQ(outputState(), "XML/");
  click(Id::OutputTsv);
  click(Id::OutputHtml);
  EXPECT_EQ(outputState(), "HTML/h");
  click(Id::OutputHtml);
  EXPECT_EQ(outputState(), "XML/");
  click(Id::OutputHtml);
  click(Id::OutputXml);
  EXPECT_EQ(outputState(), "XML/");
  click(Id::OutputXlsx);
  EXPECT_EQ(outputState(), "XLSX/x");
  click(Id::OutputXlsx);  // unchecking XLSX falls back to XML
  EXPECT_EQ(outputState(), "XML/");
  click(Id::OutputTsv);
  click(Id::OutputXlsx);
  EXPECT_EQ(outputState(), "XLSX/x");
  click(Id::OutputHtml);
  EXPECT_EQ(outputState(), "HTML/h");
}

TEST_F(HandlersTest, TheKeyboardTogglesAnOutputBoxLikeAClick) {
  showActive();
  QCheckBox* tsv = widget<QCheckBox>(Id::OutputTsv);
  tsv->setFocus();
  QTest::keyClick(tsv, Qt::Key_Space);
  EXPECT_EQ(outputState(), "TSV/t");
}

TEST_F(HandlersTest, LaunchOnFinishSetsNoAutoOpenInverted) {
  click(Id::LaunchOnFinish);
  EXPECT_FALSE(window_.isChecked(Id::LaunchOnFinish));
  EXPECT_TRUE(job_.noAutoOpen);
  click(Id::LaunchOnFinish);
  EXPECT_FALSE(job_.noAutoOpen);
}

TEST_F(HandlersTest, CompatibilityBoxesAreReadWhenNeeded) {
  click(Id::Excel2007);
  click(Id::ForceFullLength);
  click(Id::QuoteFields);
  click(Id::ByteOrderMark);
  EXPECT_TRUE(window_.isChecked(Id::Excel2007));
  EXPECT_TRUE(window_.isChecked(Id::ForceFullLength));
  EXPECT_TRUE(window_.isChecked(Id::QuoteFields));
  EXPECT_TRUE(window_.isChecked(Id::ByteOrderMark));
  EXPECT_EQ(outputState(), "XML/");
  // The job takes them from the window when it is saved or run.
  JobSettings taken;
  takeJob(taken, window_);
  EXPECT_TRUE(taken.excel2007 && taken.forceFullLength && taken.quoteFields && taken.byteOrderMark);
  click(Id::ByteOrderMark);
  takeJob(taken, window_);
  EXPECT_TRUE(taken.quoteFields);
  EXPECT_FALSE(taken.byteOrderMark);
}

TEST_F(HandlersTest, TheFetchTakesTheTextAsTypedAtEveryKeystroke) {
  for (auto [id, field] : {std::pair{Id::LaunchApplication, &JobSettings::launchApplication},
                           std::pair{Id::OutFileName, &JobSettings::outFileName}}) {
    QLineEdit* edit = widget<QLineEdit>(id);
    const std::string typed = "gnumeric -x";
    for (std::size_t i = 0; i < typed.size(); ++i) {
      QTest::keyClick(edit, typed[i]);
      EXPECT_EQ(dlg_.takeFetchJob().*field, typed.substr(0, i + 1));
    }
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("é"), Qt::NoModifier);
    EXPECT_EQ(dlg_.takeFetchJob().*field, typed + "é");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(dlg_.takeFetchJob().*field, typed);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(dlg_.takeFetchJob().*field, "");
  }
}

TEST_F(HandlersTest, ATextSetInABoxIsWhatTheFetchTakes) {
  job_.outFileName = "/tmp/earlier.xls";
  window_.setText(Id::OutFileName, "/tmp/out.xls");
  window_.setText(Id::LaunchApplication, "ö-viewer");
  // The box holds the text; the job gets it when the fetch takes the job.
  EXPECT_EQ(job_.outFileName, "/tmp/earlier.xls");
  const JobSettings taken = dlg_.takeFetchJob();
  EXPECT_EQ(taken.outFileName, "/tmp/out.xls");
  EXPECT_EQ(taken.launchApplication, "ö-viewer");
  EXPECT_EQ(widget<QLineEdit>(Id::LaunchApplication)->text(), QStringLiteral("ö-viewer"));
}

TEST_F(HandlersTest, TheSqlBoxKeepsLineBreaksAsCrLf) {
  window_.setText(Id::SqlBox, "select a,\r\n  b\r\nfrom \"t\"");
  auto* sql = widget<QPlainTextEdit>(Id::SqlBox);
  EXPECT_EQ(sql->document()->blockCount(), 3);
  EXPECT_EQ(sql->toPlainText(), QStringLiteral("select a,\n  b\nfrom \"t\""));
  EXPECT_EQ(window_.text(Id::SqlBox), "select a,\r\n  b\r\nfrom \"t\"");
  window_.setText(Id::SqlBox, "größe");
  EXPECT_EQ(window_.text(Id::SqlBox), "größe");
}

TEST_F(HandlersTest, StatusLinesScrollToTheNewestButAreNeverSelected) {
  auto* status = widget<QListWidget>(Id::StatusList);
  auto newestShows = [status] {
    QApplication::processEvents();
    const QRect newest = status->visualItemRect(status->item(status->count() - 1));
    return status->viewport()->rect().contains(newest);
  };
  for (int i = 0; i < 60; ++i) window_.appendLine(Id::StatusList, "line " + std::to_string(i));
  EXPECT_TRUE(newestShows());
  window_.appendLine(Id::StatusList, "select 1\r\nunion select 2");
  EXPECT_EQ(status->count(), 61);
  EXPECT_TRUE(newestShows());
  EXPECT_GT(status->verticalScrollBar()->value(), 0);
  EXPECT_TRUE(status->selectedItems().isEmpty());
  EXPECT_EQ(status->currentRow(), -1);
  EXPECT_EQ(window_.lineText(Id::StatusList, 60), "select 1\r\nunion select 2");
  // A line wider than the list shows whole as its tool tip.
  const std::string wide(400, 'w');
  window_.appendLine(Id::StatusList, wide);
  EXPECT_EQ(status->item(61)->toolTip().toStdString(), wide);
  delete status->takeItem(61);
  // A long line of words wraps within the list: taller than a line, and nothing to scroll
  // sideways for.
  std::string note = "note: column 2 \"comment\":";
  while (note.size() < 400) note += " 1 value written with a replacement character";
  window_.appendLine(Id::StatusList, note);
  QApplication::processEvents();
  EXPECT_GT(status->visualItemRect(status->item(61)).height(),
            2 * status->visualItemRect(status->item(0)).height());
  EXPECT_LE(status->visualItemRect(status->item(61)).width(), status->viewport()->width());
  EXPECT_EQ(status->horizontalScrollBar()->maximum(), 0);
  delete status->takeItem(61);
  // Selecting lines, several at once, changes nothing.
  const std::string sqlBefore = job_.sql;
  status->scrollToTop();
  clickThroughWindow(status->viewport(), status->visualItemRect(status->item(0)).center());
  clickThroughWindow(status->viewport(), status->visualItemRect(status->item(2)).center(),
                     Qt::ShiftModifier);
  EXPECT_EQ(status->selectedItems().size(), 3);
  EXPECT_EQ(window_.selectedIndex(Id::StatusList), 0);
  EXPECT_EQ(window_.lineCount(Id::StatusList), 61);
  EXPECT_EQ(job_.sql, sqlBefore);
  EXPECT_EQ(window_.text(Id::SqlBox), "");
}

TEST_F(HandlersTest, TheTableListSortsLikeTheInMemoryWindow) {
  const std::vector<std::string> names = {"orders", "Order Details", "ORDERS", "b",           "_x",
                                          "Ärger",  "a10",           "A2",     "order_items", "",
                                          "Zeta",   "zeta",          "a"};
  MemoryView reference;
  for (const std::string& name : names) {
    window_.appendLine(Id::TableList, name);
    window_.appendLine(Id::DataSourceList, name);
    reference.appendLine(Id::TableList, name);
  }
  EXPECT_EQ(lines(Id::TableList), reference.lines(Id::TableList));
  EXPECT_EQ(lines(Id::DataSourceList), names);  // in the order added
}

TEST_F(HandlersTest, ProgramChangesRaiseNoNotification) {
  int notifications = 0;
  QtMainWindow bare;
  bare.setListener([&notifications](ControlId, Notification) { ++notifications; });
  bare.setChecked(Id::OutputCsv, true);
  bare.appendLine(Id::TableList, "a");
  bare.appendLine(Id::TableList, "b");
  bare.selectLine(Id::TableList, "b");
  EXPECT_EQ(bare.selectedIndex(Id::TableList), 1);
  bare.selectLine(Id::TableList, "none");
  EXPECT_EQ(bare.selectedIndex(Id::TableList), -1);
  bare.clearList(Id::TableList);
  bare.setText(Id::SqlBox, "x");
  bare.setText(Id::UserName, "x");
  EXPECT_EQ(notifications, 0);
  bare.setText(Id::OutFileName, "x");  // the mirrored boxes do tell
  EXPECT_EQ(notifications, 1);
  bare.setListener(nullptr);
}

TEST(WindowLists, EachUserSelectionNotifiesOnce) {
  QtMainWindow bare;
  std::vector<int> selections;
  bare.setListener([&](ControlId id, Notification what) {
    if (id == Id::DataSourceList && what == Notification::SelectionChanged) {
      selections.push_back(bare.selectedIndex(Id::DataSourceList));
    }
  });
  for (const char* name : {"one", "two", "three"}) bare.appendLine(Id::DataSourceList, name);
  bare.show();
  auto* list = qobject_cast<QListWidget*>(bare.control(Id::DataSourceList));
  auto clickRow = [list](int row) {
    clickThroughWindow(list->viewport(), list->visualItemRect(list->item(row)).center());
  };
  clickRow(0);
  clickRow(1);
  clickRow(1);  // the selected line again
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ(selections, (std::vector<int>{0, 1, 1, 2}));
  bare.setListener(nullptr);
}

TEST_F(HandlersTest, RowsDoneShowsProgressButAddsNoStatusLine) {
  window_.appendLine(Id::StatusList, "select 1");
  window_.beginBusy();
  window_.rowsDone(1024);
  EXPECT_EQ(window_.progressLabel()->text(), QStringLiteral("1024 rows"));
  window_.rowsDone(2048);
  EXPECT_EQ(window_.progressLabel()->text(), QStringLiteral("2048 rows"));
  window_.endBusy();
  EXPECT_EQ(lines(Id::StatusList), std::vector<std::string>{"select 1"});
  // The count stays until the next command starts, whether that command shows the busy
  // cursor or not.
  window_.beginBusy();
  EXPECT_EQ(window_.progressLabel()->text(), QString());
  window_.endBusy();
  for (Id command : {Id::ListDatabases, Id::SupportPage}) {
    window_.rowsDone(4096);
    pressButton(command);
    EXPECT_EQ(window_.progressLabel()->text(), QString());
  }
}

TEST_F(HandlersTest, InputGivenWhileACommandRunsIsDroppedNotReplayed) {
  window_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  int fetches = 0;
  window_.setListener([&fetches](Id id, Notification what) {
    if (id == Id::Fetch && what == Notification::Click) ++fetches;
  });
  QWidget* fetch = window_.control(Id::Fetch);
  QWidget* user = window_.control(Id::UserName);
  // What the window system queues while the command keeps the thread busy: a second click
  // on the fetch button, Esc, Enter on the fetch button.
  auto userActs = [&] {
    const QPoint at = fetch->rect().center();
    const QPointF global = fetch->mapToGlobal(QPointF(at));
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QCoreApplication::postEvent(fetch, new QMouseEvent(type, QPointF(at), global, Qt::LeftButton,
                                                         Qt::LeftButton, Qt::NoModifier));
    }
    QCoreApplication::postEvent(user, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, {}));
    fetch->setFocus();
    QCoreApplication::postEvent(fetch, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
  };
  window_.beginBusy();
  userActs();
  window_.rowsDone(1024);  // the export reports its rows
  userActs();              // and more input comes before it ends
  window_.endBusy();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(fetches, 0);
  EXPECT_TRUE(window_.isVisible());
  // Once the command has ended, the window takes input again.
  pressButton(Id::Fetch);
  EXPECT_EQ(fetches, 1);
  window_.setListener(nullptr);
}

TEST_F(HandlersTest, TheBusyCursorNests) {
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  window_.beginBusy();
  window_.beginBusy();
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  window_.endBusy();
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  window_.endBusy();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(HandlersTest, SupportPageOpensTheHelpPage) {
  pressButton(Id::SupportPage);
  EXPECT_EQ(urls_, std::vector<std::string>{helpUrl_});
}

TEST_F(HandlersTest, SupportPageSaysWhereThePageIsWhenNothingOpensIt) {
  window_.setUrlOpener([this](const std::string& url) {
    urls_.push_back(url);
    return false;
  });
  ModalScript script({[this](QWidget* top) {
    auto* box = qobject_cast<QMessageBox*>(top);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("ROWPRESS Help Information"));
    EXPECT_EQ(box->text().toStdString(),
              "No program could open the help page. Open it in a web browser: " + helpPage_);
    box->button(QMessageBox::Ok)->click();
  }});
  pressButton(Id::SupportPage);
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(urls_, std::vector<std::string>{helpUrl_});
}

}  // namespace
}  // namespace rowpress::support
