// The window driving the dialog logic: check boxes, typing, file dialogs, settings files,
// start-up, the lists, the busy cursor and the progress of an export.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
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
#include "app/qt/modal_script.h"
#include "app/qt/window_fixture.h"
#include "tests/support/odbc_fixture.h"
#include "tests/support/output_boxes.h"

namespace rowpress::testing {
namespace {

using Id = ControlId;

class HandlersTest : public WindowTest {
 protected:
  void SetUp() override { window_.show(); }
  void click(Id id) { clickIndicator(widget<QCheckBox>(id)); }

  // The checked output box, which must be the only one, and the flags of the job.
  std::string outputState() { return testing::outputState(window_, job_); }

  // Answers the file dialogs in order, recording how each was set up.
  void answerFileDialogs(std::vector<std::optional<std::string>> answers) {
    answers_ = std::move(answers);
    window_.setFileChooser([this](const FileDialogSetup& setup, FileDialogMode mode) {
      asked_.push_back({setup, mode});
      if (answers_.empty()) return std::optional<std::string>();
      auto answer = answers_.front();
      answers_.erase(answers_.begin());
      return answer;
    });
  }

  void pressButton(Id id) {
    QWidget* button = widget<QPushButton>(id);
    clickThroughWindow(button, button->rect().center());
  }

  std::vector<std::optional<std::string>> answers_;
  std::vector<std::pair<FileDialogSetup, FileDialogMode>> asked_;
  TempDir temp_;
};

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
  EXPECT_TRUE(window_.isChecked(Id::Excel2007));
  EXPECT_TRUE(window_.isChecked(Id::ForceFullLength));
  EXPECT_EQ(outputState(), "XML/");
}

TEST_F(HandlersTest, TypingUpdatesTheJobAtEveryKeystroke) {
  for (auto [id, field] : {std::pair{Id::LaunchApplication, &JobSettings::launchApplication},
                           std::pair{Id::OutFileName, &JobSettings::outFileName}}) {
    QLineEdit* edit = widget<QLineEdit>(id);
    const std::string typed = "gnumeric -x";
    for (std::size_t i = 0; i < typed.size(); ++i) {
      QTest::keyClick(edit, typed[i]);
      EXPECT_EQ(job_.*field, typed.substr(0, i + 1));
    }
    QTest::sendKeyEvent(QTest::Click, edit, Qt::Key_unknown, QStringLiteral("é"), Qt::NoModifier);
    EXPECT_EQ(job_.*field, typed + "é");
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(job_.*field, typed);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(job_.*field, "");
  }
}

TEST_F(HandlersTest, SettingTheTextOfAMirroredBoxReachesTheJob) {
  window_.setText(Id::OutFileName, "/tmp/out.xls");
  EXPECT_EQ(job_.outFileName, "/tmp/out.xls");
  job_.outFileName.clear();
  window_.setText(Id::OutFileName, "/tmp/out.xls");  // the same text again
  EXPECT_EQ(job_.outFileName, "/tmp/out.xls");
  window_.setText(Id::LaunchApplication, "ö-viewer");
  EXPECT_EQ(job_.launchApplication, "ö-viewer");
  EXPECT_EQ(widget<QLineEdit>(Id::LaunchApplication)->text(), QStringLiteral("ö-viewer"));
}

TEST_F(HandlersTest, BrowseCancelledEmptiesTheOutputFileName) {
  window_.setText(Id::OutFileName, "/tmp/old.xls");
  answerFileDialogs({std::nullopt});
  pressButton(Id::Browse);
  EXPECT_EQ(widget<QLineEdit>(Id::OutFileName)->text(), QString());
  EXPECT_EQ(job_.outFileName, "");
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].second, FileDialogMode::Save);
  EXPECT_EQ(asked_[0].first.title, "Set Output File Name");
  EXPECT_TRUE(asked_[0].first.promptOverwrite);
}

TEST_F(HandlersTest, BrowseTakesANameWithoutExtensionAsItIs) {
  answerFileDialogs({temp_ / "report"});
  pressButton(Id::Browse);
  EXPECT_EQ(window_.text(Id::OutFileName), temp_ / "report");
  EXPECT_EQ(job_.outFileName, temp_ / "report");
}

TEST_F(HandlersTest, BrowseThroughTheRealFileDialog) {
  const std::string chosen = temp_ / "result";
  ModalScript script({[&chosen](QWidget* top) {
    auto* dialog = qobject_cast<QFileDialog*>(top);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Set Output File Name"));
    EXPECT_EQ(dialog->nameFilters(), QStringList({"XLS (*.xls)", "CSV (*.CSV)", "All (*)"}));
    // The first filter is chosen; the dialog names it without its pattern.
    EXPECT_TRUE(dialog->selectedNameFilter().startsWith(QStringLiteral("XLS")));
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog->defaultSuffix(), QString());
    // The user types the whole path into the name box and presses Enter.
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(chosen));
    QTest::keyClick(name, Qt::Key_Return);
  }});
  pressButton(Id::Browse);
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(job_.outFileName, chosen);  // no suffix added
}

TEST(FileDialogs, OpenDialogsWantExistingFilesAndSaveDialogsMayNotAsk) {
  FileDialogSetup setup;
  setup.filters = {{"DIRU", "*.DIRU"}, {"All", "*.*"}};
  setup.mustExist = true;
  QFileDialog open;
  configureFileDialog(open, setup, FileDialogMode::Open);
  EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
  EXPECT_EQ(open.fileMode(), QFileDialog::ExistingFile);
  EXPECT_EQ(open.nameFilters(), QStringList({"DIRU (*.DIRU)", "All (*)"}));
  EXPECT_TRUE(open.testOption(QFileDialog::HideNameFilterDetails));

  setup.mustExist = false;
  setup.promptOverwrite = false;
  setup.title = "Save it";
  QFileDialog save;
  configureFileDialog(save, setup, FileDialogMode::Save);
  EXPECT_EQ(save.windowTitle(), QStringLiteral("Save it"));
  EXPECT_EQ(save.fileMode(), QFileDialog::AnyFile);
  EXPECT_TRUE(save.testOption(QFileDialog::DontConfirmOverwrite));
}

TEST_F(HandlersTest, SaveSettingsAndLoadPreviousThroughTheFileDialogs) {
  const std::string file = temp_ / "job";  // no extension: none is added
  window_.appendLine(Id::DataSourceList, "sales");
  window_.selectLine(Id::DataSourceList, "sales");
  QTest::keyClicks(widget<QLineEdit>(Id::UserName), "ann");
  window_.setText(Id::SqlBox, "select *\r\nfrom t");
  QTest::keyClicks(widget<QLineEdit>(Id::OutFileName), "/tmp/o.csv");
  click(Id::OutputCsv);
  click(Id::LaunchOnFinish);
  answerFileDialogs({file, file});
  pressButton(Id::SaveSettings);
  ASSERT_TRUE(fileExists(file));
  EXPECT_NE(readFile(file).find("UserName=\"ann\";"), std::string::npos);
  EXPECT_EQ(lines(Id::StatusList), std::vector<std::string>{file});

  // Another job in the window, then the saved one back.
  click(Id::OutputHtml);
  click(Id::LaunchOnFinish);
  window_.setText(Id::UserName, "bob");
  window_.setText(Id::OutFileName, "");
  window_.setText(Id::SqlBox, "");
  window_.clearList(Id::DataSourceList);
  pressButton(Id::LoadPrevious);
  EXPECT_EQ(lines(Id::StatusList), (std::vector<std::string>{file, file}));
  EXPECT_EQ(window_.text(Id::UserName), "ann");
  EXPECT_EQ(window_.text(Id::SqlBox), sqlAsLoadedBack("select *\r\nfrom t"));
  EXPECT_EQ(window_.text(Id::OutFileName), "/tmp/o.csv");
  EXPECT_EQ(job_.outFileName, "/tmp/o.csv");
  EXPECT_EQ(outputState(), "CSV/c");
  EXPECT_FALSE(window_.isChecked(Id::LaunchOnFinish));
  EXPECT_EQ(lines(Id::DataSourceList), std::vector<std::string>{"sales"});
  EXPECT_EQ(window_.selectedIndex(Id::DataSourceList), 0);
  ASSERT_EQ(asked_.size(), 2u);
  EXPECT_EQ(asked_[0].second, FileDialogMode::Save);
  EXPECT_EQ(asked_[0].first.title, "Save Settings to an DIRU File");
  EXPECT_EQ(asked_[1].second, FileDialogMode::Open);
  EXPECT_TRUE(asked_[1].first.mustExist);
}

TEST_F(HandlersTest, CancelledSaveAndLoadSaySo) {
  answerFileDialogs({std::nullopt, std::nullopt});
  window_.setText(Id::UserName, "kept");
  pressButton(Id::SaveSettings);
  pressButton(Id::LoadPrevious);
  EXPECT_EQ(lines(Id::StatusList),
            (std::vector<std::string>{"Aborted File Save", "Aborted File Open "}));
  EXPECT_EQ(window_.text(Id::UserName), "kept");
}

TEST_F(HandlersTest, TheControlsShowWhatStartUpPutInThem) {
  const std::string file = temp_ / "nightly.DIRU";
  writeFile(file,
            "Database=\"warehouse\";\r\nUserName=\"ann\";\r\nSQL=\"select 1\";\r\nCSV=\"1\";\r\n"
            "LaunchApplication=\"gnumeric\";\r\nDoLaunchApplication=\"1\";\r\n"
            "OutFileName=\"/tmp/from-file.csv\";\r\n");
  const CommandLine line = parseCommandLine(
      {"rowpress", "-outfile=/tmp/from-switch.csv", "-file=" + file, "-noautoopen"});
  startWindow(line, job_, window_);
  EXPECT_EQ(window_.text(Id::OutFileName), "/tmp/from-switch.csv");  // the switch wins
  EXPECT_EQ(job_.outFileName, "/tmp/from-switch.csv");
  EXPECT_EQ(window_.text(Id::LaunchApplication), "gnumeric");
  EXPECT_FALSE(widget<QCheckBox>(Id::LaunchOnFinish)->isChecked());
  EXPECT_EQ(outputState(), "CSV/c");
  EXPECT_EQ(window_.text(Id::UserName), "ann");
  EXPECT_EQ(window_.text(Id::SqlBox), "select 1");
  EXPECT_EQ(lines(Id::DataSourceList), std::vector<std::string>{"warehouse"});
  EXPECT_EQ(lines(Id::StatusList), std::vector<std::string>{});
}

TEST_F(HandlersTest, AnUnreadableSettingsFileIsReportedInTheStatusList) {
  const std::string missing = temp_ / "missing.DIRU";
  startWindow(parseCommandLine({"rowpress", "-file=" + missing}), job_, window_);
  ASSERT_EQ(window_.lineCount(Id::StatusList), 1);
  EXPECT_NE(window_.lineText(Id::StatusList, 0).find(missing), std::string::npos);
  EXPECT_EQ(outputState(), "XML/");
  EXPECT_TRUE(window_.isChecked(Id::LaunchOnFinish));
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

TEST_F(HandlersTest, StatusLinesAreNeitherSelectedNorScrolledTo) {
  for (int i = 0; i < 60; ++i) window_.appendLine(Id::StatusList, "line " + std::to_string(i));
  window_.appendLine(Id::StatusList, "select 1\r\nunion select 2");
  auto* status = widget<QListWidget>(Id::StatusList);
  QApplication::processEvents();
  EXPECT_EQ(status->count(), 61);
  EXPECT_EQ(status->verticalScrollBar()->value(), 0);
  EXPECT_TRUE(status->selectedItems().isEmpty());
  EXPECT_EQ(window_.lineText(Id::StatusList, 60), "select 1\r\nunion select 2");
  // Selecting lines, several at once, changes nothing.
  const JobSettings before = job_;
  clickThroughWindow(status->viewport(), status->visualItemRect(status->item(0)).center());
  clickThroughWindow(status->viewport(), status->visualItemRect(status->item(2)).center(),
                     Qt::ShiftModifier);
  EXPECT_EQ(status->selectedItems().size(), 3);
  EXPECT_EQ(window_.selectedIndex(Id::StatusList), 0);
  EXPECT_EQ(window_.lineCount(Id::StatusList), 61);
  EXPECT_EQ(job_.sql, before.sql);
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
  window_.rowsDone(1024);  // the export keeps the window painted
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
}  // namespace rowpress::testing
