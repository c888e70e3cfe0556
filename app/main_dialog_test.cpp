// The dialog's own handlers, driven through the in-memory window.
#include "app/main_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/memory_view.h"
#include "app/startup.h"
#include "tests/app_support/output_boxes.h"
#include "tests/support/run_fixture.h"

namespace rowpress {
namespace {

using support::outputState;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override { applyDefaults(job_, view_); }

  JobSettings job_;
  MemoryView view_;
  MainDialog dlg_{job_, view_, StopRequest::instance()};
};

TEST_F(DialogTest, OutputTypeBoxesStayExclusive) {
  EXPECT_EQ(outputState(view_, job_), "XML/");
  // Each row: the box clicked, then the checked boxes and the flags that follow.
  struct Step {
    ControlId click;
    const char* state;
  };
  const Step steps[] = {
      {ControlId::OutputXml, "CSV/c"},  // unchecking XML falls back to CSV
      {ControlId::OutputCsv, "XML/"},   // unchecking CSV falls back to XML
      {ControlId::OutputTsv, "TSV/t"},   {ControlId::OutputCsv, "CSV/c"},
      {ControlId::OutputCsv, "XML/"},    {ControlId::OutputTsv, "TSV/t"},
      {ControlId::OutputHtml, "HTML/h"},  // HTML while TSV was chosen
      {ControlId::OutputHtml, "XML/"},   {ControlId::OutputHtml, "HTML/h"},
      {ControlId::OutputXml, "XML/"},  // checking XML clears the others
      {ControlId::OutputTsv, "TSV/t"},   {ControlId::OutputTsv, "XML/"},
      {ControlId::OutputXlsx, "XLSX/x"}, {ControlId::OutputXlsx, "XML/"},
      {ControlId::OutputHtml, "HTML/h"}, {ControlId::OutputXlsx, "XLSX/x"},  // from HTML
      {ControlId::OutputCsv, "CSV/c"},  // CSV while XLSX was chosen
      {ControlId::OutputXlsx, "XLSX/x"}, {ControlId::OutputXml, "XML/"},
  };
  for (const Step& step : steps) {
    view_.click(step.click);
    EXPECT_EQ(outputState(view_, job_), step.state) << static_cast<int>(step.click);
  }
}

TEST_F(DialogTest, LaunchOnFinishAndTheTypedTextsThatTheFetchTakes) {
  view_.click(ControlId::LaunchOnFinish);
  EXPECT_TRUE(job_.noAutoOpen);
  view_.click(ControlId::LaunchOnFinish);
  EXPECT_FALSE(job_.noAutoOpen);

  // A typed text stays in its box; the fetch takes it from there, as it stands then.
  job_.launchApplication = "from a file";
  std::string typed;
  for (char c : std::string("gnumeric")) {
    typed += c;
    view_.type(ControlId::LaunchApplication, typed);
  }
  view_.type(ControlId::OutFileName, "/tmp/report");
  EXPECT_EQ(job_.launchApplication, "from a file");
  const JobSettings taken = dlg_.takeFetchJob();
  EXPECT_EQ(taken.launchApplication, "gnumeric");
  EXPECT_EQ(taken.outFileName, "/tmp/report");
  view_.type(ControlId::LaunchApplication, "");
  EXPECT_EQ(dlg_.takeFetchJob().launchApplication, "");
}

TEST_F(DialogTest, BrowseTakesTheNameAsChosenAndCancelEmptiesIt) {
  view_.fileDialogAnswers.push_back("/data/report without extension");
  view_.click(ControlId::Browse);
  EXPECT_EQ(view_.text(ControlId::OutFileName), "/data/report without extension");
  EXPECT_EQ(dlg_.takeFetchJob().outFileName, "/data/report without extension");
  ASSERT_EQ(view_.fileDialogs.size(), 1u);
  EXPECT_EQ(view_.fileDialogs[0].title, "Set Output File Name");
  EXPECT_TRUE(view_.fileDialogs[0].promptOverwrite);
  // The chosen output type's extension is proposed first.
  using Filter = std::pair<std::string, std::string>;
  const std::pair<ControlId, Filter> proposed[] = {{ControlId::OutputXml, {"XLS", "*.xls"}},
                                                   {ControlId::OutputCsv, {"CSV", "*.csv"}},
                                                   {ControlId::OutputTsv, {"TSV", "*.tsv"}},
                                                   {ControlId::OutputHtml, {"HTML", "*.html"}},
                                                   {ControlId::OutputXlsx, {"XLSX", "*.xlsx"}}};
  for (const auto& [box, filter] : proposed) {
    if (!view_.isChecked(box)) view_.click(box);
    view_.fileDialogAnswers.push_back("/data/x");
    view_.click(ControlId::Browse);
    EXPECT_THAT(view_.fileDialogs.back().filters, ElementsAre(filter, Filter{"All", "*.*"}));
    EXPECT_TRUE(view_.fileDialogs.back().filterExtension);
  }

  view_.click(ControlId::Browse);  // no answer queued: cancelled
  EXPECT_EQ(view_.text(ControlId::OutFileName), "");
  EXPECT_EQ(dlg_.takeFetchJob().outFileName, "");
}

// The fetch asks before writing to a name whose extension names another output type; No runs
// nothing and, like every question before the run, leaves the status list as it was.
TEST_F(DialogTest, AFetchAsksBeforeWritingToANameOfAnotherType) {
  view_.type(ControlId::SqlBox, "select 1");
  view_.click(ControlId::OutputCsv);
  view_.type(ControlId::OutFileName, "/nowhere/products.xlsx");
  view_.appendLine(ControlId::StatusList, "earlier line");
  dlg_.OnFetch();
  ASSERT_EQ(view_.questions.size(), 1u);
  EXPECT_EQ(view_.questions[0].text, kOtherTypeQuestion);
  EXPECT_THAT(view_.questions[0].reason, HasSubstr("/nowhere/products.xlsx"));
  EXPECT_THAT(view_.lines(ControlId::StatusList), ElementsAre("earlier line"));
  view_.questionAnswers.push_back(Answer::Yes);
  dlg_.OnFetch();  // runs: no data source to connect to
  EXPECT_EQ(view_.lines(ControlId::StatusList).front(), "select 1");
  view_.type(ControlId::OutFileName, "/nowhere/products.csv");
  dlg_.OnFetch();
  EXPECT_EQ(view_.questions.size(), 2u);
}

// A parameter of the job that no marker uses (the SQL was replaced) would refuse every run: the
// question shows it, and the user removes it from the job, which a save then leaves out.
TEST_F(DialogTest, AParameterThatNoMarkerUsesIsShownAndCanBeRemoved) {
  setParameter(job_, "month", "02");
  setParameter(job_, "low", "5");
  view_.type(ControlId::SqlBox, "select 1 where 2 > :low");
  view_.appendLine(ControlId::StatusList, "earlier line");
  dlg_.OnFetch();  // cancelled
  ASSERT_EQ(view_.parameterQuestions.size(), 1u);
  EXPECT_THAT(view_.parameterQuestions[0].names, ElementsAre("low"));
  EXPECT_THAT(view_.parameterQuestions[0].unused, ElementsAre(JobParameter{"month", "02"}));
  EXPECT_THAT(view_.lines(ControlId::StatusList), ElementsAre("earlier line"));
  EXPECT_EQ(job_.parameters.size(), 2u);

  view_.parameterAnswers.push_back(ParameterAnswer{{"6"}, {"month"}});
  dlg_.OnFetch();
  EXPECT_THAT(job_.parameters, ElementsAre(JobParameter{"low", "5"}));
  // Without markers the question comes only for a parameter that no marker uses.
  view_.type(ControlId::SqlBox, "select 1");
  view_.parameterAnswers.push_back(ParameterAnswer{{}, {"low"}});
  dlg_.OnFetch();
  EXPECT_THAT(view_.parameterQuestions.back().names, IsEmpty());
  EXPECT_THAT(job_.parameters, IsEmpty());
  dlg_.OnFetch();
  EXPECT_EQ(view_.parameterQuestions.size(), 3u);
}

// An installation in a temporary directory whose name needs encoding in a URL.
class HelpPageDialogTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    std::filesystem::create_directories(prefix_ + "/bin");
    dlg_.setExecutablePath(prefix_ + "/bin/rowpress");
  }
  void installPage() {
    std::filesystem::create_directories(prefix_ + "/share/rowpress");
    support::writeFile(page_, "<html></html>");
  }

  support::TempDir dir_;
  const std::string prefix_ = dir_ / "my tools";
  const std::string page_ = prefix_ + "/share/rowpress/help.html";
  const std::string url_ = "file://" + dir_.path() + "/my%20tools/share/rowpress/help.html";
};

TEST_F(HelpPageDialogTest, HelpAndSupportPageShowTheInstalledPage) {
  installPage();
  dlg_.OnHelp();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "ROWPRESS Help Information");
  EXPECT_EQ(view_.messages[0].text, "Please see the documentation at " + url_ + " ");
  view_.click(ControlId::SupportPage);
  EXPECT_THAT(view_.openedUrls, ElementsAre(url_));
  EXPECT_EQ(view_.messages.size(), 1u);
  // Whether a browser shows it is out of sight: the status list says where the page is.
  EXPECT_THAT(view_.lines(ControlId::StatusList), ElementsAre("Opening the help page: " + page_));
}

TEST_F(HelpPageDialogTest, SupportPageSaysWhereThePageIsWhenNothingOpensIt) {
  installPage();
  view_.urlsOpen = false;
  view_.click(ControlId::SupportPage);
  EXPECT_THAT(view_.openedUrls, ElementsAre(url_));
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "ROWPRESS Help Information");
  EXPECT_EQ(view_.messages[0].text,
            "No program could open the help page. Open it in a web browser: " + page_);
  EXPECT_TRUE(view_.lines(ControlId::StatusList).empty());
}

TEST_F(HelpPageDialogTest, AMissingPageIsReportedWithWhereItWasLookedFor) {
  const std::string missing = "The help page is missing. It was looked for at:\n" + prefix_ +
                              "/share/rowpress/help.html\n" + prefix_ +
                              "/bin/share/rowpress/help.html";
  view_.click(ControlId::SupportPage);
  EXPECT_TRUE(view_.openedUrls.empty());
  dlg_.OnHelp();
  ASSERT_EQ(view_.messages.size(), 2u);
  for (const MemoryView::Message& message : view_.messages) {
    EXPECT_EQ(message.caption, "ROWPRESS Help Information");
    EXPECT_EQ(message.text, missing);
  }
}

TEST_F(DialogTest, SaveAndLoadCommandsReportInTheStatusList) {
  support::TempDir dir;
  view_.appendLine(ControlId::StatusList, "earlier line");
  view_.appendLine(ControlId::DataSourceList, "shop");
  view_.selectLine(ControlId::DataSourceList, "shop");
  view_.setText(ControlId::UserName, "ann");
  view_.click(ControlId::OutputCsv);
  const std::string path = dir / "job";  // no extension is added
  view_.fileDialogAnswers.push_back(path);
  view_.click(ControlId::SaveSettings);
  EXPECT_TRUE(support::fileExists(path));
  EXPECT_EQ(job_.userName, "ann");       // saving latches the credentials
  view_.click(ControlId::SaveSettings);  // cancelled
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("earlier line", "saved to " + path, "Aborted File Save"));
  EXPECT_EQ(view_.fileDialogs[0].title, "Save Settings to an DIRU File");
  EXPECT_TRUE(view_.fileDialogs[0].filterExtension);

  view_.click(ControlId::OutputXml);
  view_.fileDialogAnswers.push_back(path);
  view_.click(ControlId::LoadPrevious);
  view_.click(ControlId::LoadPrevious);  // cancelled
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("earlier line", "saved to " + path, "Aborted File Save",
                          "loaded from " + path, "Aborted File Open "));
  EXPECT_FALSE(view_.fileDialogs.back().filterExtension);
  EXPECT_EQ(outputState(view_, job_), "CSV/c");
  EXPECT_TRUE(view_.fileDialogs.back().mustExist);
  EXPECT_EQ(view_.fileDialogs.back().title, "");
}

// Closing asks only when the job in the controls differs, field by field, from the one last
// loaded, saved or started with; Save closes only once the file is written.
TEST_F(DialogTest, ClosingAsksToSaveOnlyAJobThatChangedSinceItWasKept) {
  support::TempDir dir;
  const std::string path = dir / "kept.DIRU";
  view_.type(ControlId::SqlBox, "select 1");
  dlg_.keepJob();  // as start-up leaves it
  EXPECT_TRUE(dlg_.OnClose());
  view_.click(ControlId::OutputCsv);
  view_.click(ControlId::OutputCsv);  // back to the workbook: the same job
  EXPECT_TRUE(dlg_.OnClose());
  EXPECT_THAT(view_.questions, IsEmpty());

  // Each row: a change, the answer (none queued: the box closed), whether the window closes.
  struct Row {
    ControlId changed;
    std::optional<Answer> answer;
    bool closes;
  };
  const Row rows[] = {
      {ControlId::SqlBox, std::nullopt, false},
      {ControlId::UserName, Answer::Cancel, false},
      {ControlId::OutFileName, Answer::Discard, true},
      {ControlId::SqlBox, Answer::Save, false},  // the save dialog cancelled
      {ControlId::LaunchApplication, Answer::Save, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.changed));
    view_.type(row.changed, view_.text(row.changed) + "x");
    if (row.answer) view_.questionAnswers.push_back(*row.answer);
    if (row.closes && row.answer == Answer::Save) view_.fileDialogAnswers.push_back(path);
    const std::size_t asked = view_.questions.size();
    EXPECT_EQ(dlg_.OnClose(), row.closes);
    ASSERT_EQ(view_.questions.size(), asked + 1);
    EXPECT_EQ(view_.questions.back().text, kUnsavedQuestion);
  }
  // Saved: nothing more to ask; loaded into a changed window: the same.
  EXPECT_TRUE(dlg_.OnClose());
  view_.click(ControlId::Excel2007);
  view_.fileDialogAnswers.push_back(path);
  view_.click(ControlId::LoadPrevious);
  EXPECT_FALSE(view_.isChecked(ControlId::Excel2007));
  const std::size_t asked = view_.questions.size();
  EXPECT_TRUE(dlg_.OnClose());
  view_.appendLine(ControlId::DataSourceList, "shop");
  view_.select(ControlId::DataSourceList, 0);  // another data source is a change too
  EXPECT_FALSE(dlg_.OnClose());
  EXPECT_EQ(view_.questions.size(), asked + 1);
}

TEST_F(DialogTest, SettingsThatCouldNotBeSavedOrLoadedAreSaidOnceInOneLine) {
  support::TempDir dir;
  const std::string path = dir / "missing/job.DIRU";
  view_.fileDialogAnswers.push_back(path);
  view_.click(ControlId::SaveSettings);
  view_.fileDialogAnswers.push_back(path);
  view_.click(ControlId::LoadPrevious);
  EXPECT_THAT(view_.lines(ControlId::StatusList),
              ElementsAre("not saved to " + path,
                          "The settings file could not be written: No such file or directory.",
                          "not loaded from " + path,
                          "The settings file could not be read: No such file or directory."));
}

// The sheet tabs: "+" makes a job of one query a report, each tab keeps its own SQL, renaming,
// moving and removing act on the current tab, and the report goes to a file and comes back.
TEST_F(DialogTest, SheetTabsKeepEachSheetsSqlAndAReportRoundTripsThroughItsFile) {
  using Id = ControlId;
  view_.type(Id::SqlBox, "select 1");
  view_.click(Id::AddSheet);
  EXPECT_THAT(view_.sheetTabs, ElementsAre("Sheet1", "Sheet2"));
  EXPECT_EQ(view_.currentSheetTab(), 1);
  EXPECT_EQ(view_.text(Id::SqlBox), "");
  view_.type(Id::SqlBox, "select 2");
  view_.click(Id::AddSheet);
  view_.type(Id::SqlBox, "select 3");
  view_.chooseSheet(0);
  EXPECT_EQ(view_.text(Id::SqlBox), "select 1");
  view_.chooseSheet(1);
  EXPECT_EQ(view_.text(Id::SqlBox), "select 2");

  // A name a workbook cannot hold, and another sheet's name in other letters, are refused
  // with the reason and asked again, the refused name in the box; cancelling changes nothing.
  view_.textAnswers = {"Q1/Q2", "SHEET3", std::nullopt, "Orders"};
  for (int i = 0; i < 2; ++i) view_.click(Id::RenameSheet);
  EXPECT_THAT(view_.textQuestions, ElementsAre("Sheet2", "Q1/Q2", "SHEET3", "Sheet2"));
  ASSERT_EQ(view_.messages.size(), 2u);
  EXPECT_THAT(view_.messages[0].reason, HasSubstr("\"Q1/Q2\""));
  EXPECT_THAT(view_.messages[1].reason, HasSubstr("\"SHEET3\""));
  EXPECT_THAT(view_.sheetTabs, ElementsAre("Sheet1", "Orders", "Sheet3"));

  // Moving keeps the SQL box on the moved sheet; the first place has nothing to its left.
  view_.click(Id::MoveSheetLeft);
  view_.click(Id::MoveSheetLeft);
  EXPECT_THAT(view_.sheetTabs, ElementsAre("Orders", "Sheet1", "Sheet3"));
  EXPECT_EQ(view_.currentSheetTab(), 0);
  EXPECT_EQ(view_.text(Id::SqlBox), "select 2");
  view_.chooseSheet(2);
  view_.type(Id::SqlBox, "select 3 as edited");

  // The save takes the box's text as the current sheet's; a new window loads the same tabs.
  support::TempDir dir;
  const std::string path = dir / "report.DIRU";
  view_.fileDialogAnswers.push_back(path);
  view_.click(Id::SaveSettings);
  ASSERT_EQ(job_.sheets.size(), 3u);
  EXPECT_EQ(job_.sql, "select 2");
  JobSettings loadedJob;
  MemoryView loaded;
  MainDialog other(loadedJob, loaded, StopRequest::instance());
  loaded.fileDialogAnswers.push_back(path);
  loaded.click(Id::LoadPrevious);
  EXPECT_THAT(loaded.sheetTabs, ElementsAre("Orders", "Sheet1", "Sheet3"));
  EXPECT_EQ(loaded.text(Id::SqlBox), "select 2");
  loaded.chooseSheet(2);
  EXPECT_EQ(loaded.text(Id::SqlBox), "select 3 as edited");

  // Removing a sheet with SQL asks first; it shows the next sheet; removing the last one leaves
  // a job of one query with its SQL, which saves without sheets.
  view_.chooseSheet(1);
  view_.click(Id::RemoveSheet);  // No
  EXPECT_THAT(view_.sheetTabs, ElementsAre("Orders", "Sheet1", "Sheet3"));
  view_.questionAnswers = {Answer::Yes, Answer::Yes};
  view_.click(Id::RemoveSheet);
  EXPECT_THAT(view_.sheetTabs, ElementsAre("Orders", "Sheet3"));
  EXPECT_EQ(view_.text(Id::SqlBox), "select 3 as edited");
  view_.click(Id::RemoveSheet);
  view_.click(Id::RemoveSheet);  // the last one: its SQL stays, nothing is asked
  EXPECT_EQ(view_.questions.size(), 3u);
  EXPECT_THAT(view_.sheetTabs, IsEmpty());
  EXPECT_EQ(view_.currentSheetTab(), -1);
  EXPECT_EQ(view_.text(Id::SqlBox), "select 2");
  view_.fileDialogAnswers.push_back(path);
  view_.click(Id::SaveSettings);
  EXPECT_THAT(job_.sheets, IsEmpty());
  EXPECT_EQ(job_.sql, "select 2");
  EXPECT_THAT(support::readFile(path), Not(HasSubstr("Sheet=")));
}

}  // namespace
}  // namespace rowpress
