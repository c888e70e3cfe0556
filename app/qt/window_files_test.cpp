// The window's file dialogs: choosing the output file, saving and loading settings files
// through them, and the controls after start-up from a settings file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

#include "app/command_line.h"
#include "app/qt/main_window.h"
#include "settings/settings_file.h"
#include "tests/app_support/modal_script.h"
#include "tests/app_support/window_fixture.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {
namespace {

using Id = ControlId;

TEST_F(HandlersTest, BrowseCancelledEmptiesTheOutputFileName) {
  window_.setText(Id::OutFileName, "/tmp/old.xls");
  answerFileDialogs({std::nullopt});
  pressButton(Id::Browse);
  EXPECT_EQ(widget<QLineEdit>(Id::OutFileName)->text(), QString());
  EXPECT_EQ(dlg_.takeFetchJob().outFileName, "");
  ASSERT_EQ(asked_.size(), 1u);
  EXPECT_EQ(asked_[0].second, FileDialogMode::Save);
  EXPECT_EQ(asked_[0].first.title, "Set Output File Name");
  EXPECT_TRUE(asked_[0].first.promptOverwrite);
}

TEST_F(HandlersTest, BrowseTakesANameWithoutExtensionAsItIs) {
  answerFileDialogs({temp_ / "report"});
  pressButton(Id::Browse);
  EXPECT_EQ(window_.text(Id::OutFileName), temp_ / "report");
  EXPECT_EQ(dlg_.takeFetchJob().outFileName, temp_ / "report");
}

// The real save dialogs: browse proposes the chosen output type's extension and "Save
// Settings" the settings file's; a name typed without an extension gets the chosen filter's,
// "All" takes it as typed.
TEST_F(HandlersTest, SaveDialogsAddTheChosenFiltersExtension) {
  struct Row {
    Id button;
    Id outputType;
    QStringList filters;
    bool chooseAll;
    const char* typed;
    const char* taken;
  };
  const Row rows[] = {
      {Id::Browse, Id::OutputXml, {"XLS (*.xls)", "All (*)"}, false, "result", "result.xls"},
      {Id::Browse, Id::OutputCsv, {"CSV (*.csv)", "All (*)"}, false, "result", "result.csv"},
      {Id::Browse, Id::OutputCsv, {"CSV (*.csv)", "All (*)"}, true, "result", "result"},
      {Id::Browse, Id::OutputCsv, {"CSV (*.csv)", "All (*)"}, false, "r.xlsx", "r.xlsx"},
      {Id::SaveSettings,
       Id::OutputXml,
       {"DIRU (*.DIRU)", "All (*)"},
       false,
       "report",
       "report.DIRU"},
      {Id::SaveSettings, Id::OutputXml, {"DIRU (*.DIRU)", "All (*)"}, true, "report", "report"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed + std::string(row.chooseAll ? " with All" : ""));
    if (!window_.isChecked(row.outputType)) click(row.outputType);
    const std::string typed = temp_ / row.typed;
    ModalScript script({[&](QWidget* top) {
      auto* dialog = qobject_cast<QFileDialog*>(top);
      ASSERT_NE(dialog, nullptr);
      EXPECT_EQ(dialog->nameFilters(), row.filters);
      EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
      EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
      if (row.chooseAll) {
        auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        ASSERT_NE(types, nullptr);
        // As a user's choice in the list: its index and its text activated.
        types->setCurrentIndex(1);
        emit types->activated(1);
        emit types->textActivated(types->itemText(1));
      }
      // The user types the whole path into the name box and presses Enter.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      ASSERT_NE(name, nullptr);
      name->setText(QString::fromStdString(typed));
      QTest::keyClick(name, Qt::Key_Return);
    }});
    pressButton(row.button);
    EXPECT_TRUE(script.finished());
    const std::string taken = temp_ / row.taken;
    if (row.button == Id::Browse) {
      EXPECT_EQ(window_.text(Id::OutFileName), taken);
    } else {
      EXPECT_TRUE(fileExists(taken));
      EXPECT_EQ(lines(Id::StatusList).front(), "saved to " + taken);
      window_.clearList(Id::StatusList);
    }
  }
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
  EXPECT_EQ(lines(Id::StatusList), std::vector<std::string>{"saved to " + file});

  // Another job in the window, then the saved one back.
  click(Id::OutputHtml);
  click(Id::LaunchOnFinish);
  window_.setText(Id::UserName, "bob");
  window_.setText(Id::OutFileName, "");
  window_.setText(Id::SqlBox, "");
  window_.clearList(Id::DataSourceList);
  pressButton(Id::LoadPrevious);
  EXPECT_EQ(lines(Id::StatusList),
            (std::vector<std::string>{"saved to " + file, "loaded from " + file}));
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

}  // namespace
}  // namespace rowpress::support
