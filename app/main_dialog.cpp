#include "app/main_dialog.h"

#include <algorithm>

#include "app/job_controls.h"
#include "app/settings_commands.h"
#include "app/status_list.h"
#include "db/catalog.h"
#include "export/export_run.h"
#include "export/output_naming.h"
#include "job/sheet_names.h"

namespace rowpress {

namespace {

// What a run reports, shown in the window: the status list, the row count and the message
// boxes.
class ViewReport : public RunReport {
 public:
  ViewReport(View& view, std::atomic<long long>& rows) : view_(view), rows_(rows) {}
  void statusLine(std::string_view line) override { AddStatusLine(view_, line); }
  void rowsDone(long long rows) override { view_.rowsDone(rows); }
  std::atomic<long long>* rowCount() override { return &rows_; }
  void message(const ExportMessage& message) override {
    view_.messageBox(message.text, message.caption, message.reason);
  }

 private:
  View& view_;
  std::atomic<long long>& rows_;
};

}  // namespace

MainDialog::MainDialog(JobSettings& job, View& view, StopRequest& stop)
    : job_(job), view_(view), stop_(stop), executablePath_(currentExecutablePath()) {
  view_.setListener([this](ControlId id, Notification what) { handle(id, what); });
  keepJob();
}

MainDialog::~MainDialog() { view_.setListener(nullptr); }

void MainDialog::handle(ControlId id, Notification what) {
  // A typed text stays in its box until the job is taken from the controls.
  if (what == Notification::TextChanged) return;
  if (what == Notification::SelectionChanged) {
    if (id == ControlId::DataSourceList) OnSelectDatabase();
    if (id == ControlId::TableList) OnSelectTable();
    if (id == ControlId::SheetTabs) OnSelectSheet();
    return;
  }
  switch (id) {
    case ControlId::ListDatabases:
      OnListDatabases();
      break;
    case ControlId::SaveSettings:
      OnSaveSettings();
      break;
    case ControlId::LoadPrevious:
      OnLoadPrevious();
      break;
    case ControlId::Browse:
      OnBrowse();
      break;
    case ControlId::SupportPage:
      OnSupportPage();
      break;
    case ControlId::Fetch:
      OnFetch();
      break;
    case ControlId::OutputCsv:
      OnOutputCsv();
      break;
    case ControlId::OutputTsv:
      OnOutputTsv();
      break;
    case ControlId::OutputHtml:
      OnOutputHtml();
      break;
    case ControlId::OutputXml:
      OnOutputXml();
      break;
    case ControlId::OutputXlsx:
      OnOutputXlsx();
      break;
    case ControlId::LaunchOnFinish:
      OnLaunchOnFinish();
      break;
    case ControlId::AddSheet:
      OnAddSheet();
      break;
    case ControlId::RenameSheet:
      OnRenameSheet();
      break;
    case ControlId::RemoveSheet:
      OnRemoveSheet();
      break;
    case ControlId::MoveSheetLeft:
      OnMoveSheet(-1);
      break;
    case ControlId::MoveSheetRight:
      OnMoveSheet(1);
      break;
    default:
      break;
  }
}

JobSettings MainDialog::takeFetchJob() {
  keepShownSheet();
  job_.outFileName = view_.text(ControlId::OutFileName);
  job_.launchApplication = view_.text(ControlId::LaunchApplication);
  // The compatibility switches live in their boxes while a window is there.
  job_.excel2007 = view_.isChecked(ControlId::Excel2007);
  job_.forceFullLength = view_.isChecked(ControlId::ForceFullLength);
  job_.quoteFields = view_.isChecked(ControlId::QuoteFields);
  job_.byteOrderMark = view_.isChecked(ControlId::ByteOrderMark);
  takeSeparatorChoice(job_, view_);
  job_.encoding = view_.text(ControlId::Encoding);
  job_.timeZone = view_.text(ControlId::TimeZone);
  return copyOf(job_);
}

bool MainDialog::askParameterValues(JobSettings& job) {
  std::vector<std::string> names;
  for (const JobSheet& sheet : sheetsOf(job)) {
    for (std::string& name : findMarkers(sheet.sql, dialect_).names) {
      if (std::find(names.begin(), names.end(), name) == names.end()) {
        names.push_back(std::move(name));
      }
    }
  }
  // A parameter that no marker uses would refuse the run: the question shows it, and the user
  // may remove it from the job.
  std::vector<JobParameter> unused;
  for (const JobParameter& parameter : job.parameters) {
    if (std::find(names.begin(), names.end(), parameter.name) == names.end()) {
      unused.push_back(parameter);
    }
  }
  if (names.empty() && unused.empty()) return true;
  std::vector<std::string> values;
  for (const std::string& name : names) {
    const std::string* given = parameterValue(job, name);
    const auto last = lastValues_.find(name);
    values.push_back(given ? *given : last != lastValues_.end() ? last->second : std::string());
  }
  auto answer = view_.askParameters(names, values, unused);
  if (!answer || answer->values.size() != names.size()) return false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    setParameter(job, names[i], answer->values[i]);
    lastValues_[names[i]] = answer->values[i];
  }
  // Removed from the run's job and from the window's, which a save then writes without it.
  for (const std::string& name : answer->removed) {
    for (JobSettings* each : {&job, &job_}) {
      std::erase_if(each->parameters,
                    [&name](const JobParameter& parameter) { return parameter.name == name; });
    }
  }
  return true;
}

bool MainDialog::confirmFetch(JobSettings& job) {
  if (!askParameterValues(job)) return false;
  // The window names the file on purpose or by an oversight: a workbook left in the box after
  // choosing CSV would be replaced by CSV text.
  const OutputType type = outputTypeOf(job);
  if (!needsDefaultName(job, type)) {
    if (const auto named = otherTypeNamed(job.outFileName, type)) {
      if (view_.askQuestion(kOtherTypeQuestion, "Output File Name", {Answer::Yes, Answer::No},
                            *named) != Answer::Yes) {
        return false;
      }
    }
  }
  ClearStatusLines(view_);
  return true;
}

RunResult MainDialog::OnFetch() {
  JobSettings job = takeFetchJob();
  if (!confirmFetch(job)) return RunResult{};
  BusyCursor busy(view_);
  ViewReport report(view_, rowsWritten_);
  RunResult result = runJob(std::move(job), report, *launcher_, stop_);
  fetchDone(result);
  return result;
}

void MainDialog::OnListDatabases() {
  for (const std::string& name : listDataSources()) {
    view_.appendLine(ControlId::DataSourceList, name);
  }
}

void MainDialog::OnSelectDatabase() {
  // A selection that latches nothing leaves the table list as it was.
  const int selected = view_.selectedIndex(ControlId::DataSourceList);
  if (selected < 0) return;
  BusyCursor busy(view_);
  // The data source and the typed credentials are latched together.
  job_.dataSource = view_.lineText(ControlId::DataSourceList, selected);
  view_.clearList(ControlId::TableList);
  job_.userName = view_.text(ControlId::UserName);
  job_.password = view_.text(ControlId::Password);
  const TableListing listing = listTables(job_);
  if (!listing.failureLine.empty()) view_.appendLine(ControlId::TableList, listing.failureLine);
  for (const std::string& table : listing.tables) view_.appendLine(ControlId::TableList, table);
  tablesListed_ = listing.listed;
  if (!listing.dbmsName.empty()) dialect_ = dialectOfDbms(listing.dbmsName);
}

void MainDialog::OnSelectTable() {
  // The line of a failed connection names no table.
  const int selected = view_.selectedIndex(ControlId::TableList);
  if (!tablesListed_ || selected < 0) return;
  view_.setText(ControlId::SqlBox, defaultQueryFor(view_.lineText(ControlId::TableList, selected)));
}

void MainDialog::OnSaveSettings() {
  if (saveSettingsCommand(job_, view_)) keepJob();
}

void MainDialog::OnLoadPrevious() {
  const bool loaded = loadSettingsCommand(job_, view_);
  shownSheet_ = std::max(view_.currentSheetTab(), 0);
  if (loaded) keepJob();
}

void MainDialog::keepJob() { kept_ = jobInControls(job_, view_); }

bool MainDialog::jobChanged() const { return !sameSettings(jobInControls(job_, view_), kept_); }

bool MainDialog::OnClose() {
  if (!jobChanged()) return true;
  switch (view_.askQuestion(kUnsavedQuestion, kUnsavedCaption,
                            {Answer::Save, Answer::Discard, Answer::Cancel})) {
    case Answer::Save:
      OnSaveSettings();
      return !jobChanged();
    case Answer::Discard:
      return true;
    default:
      return false;
  }
}

void MainDialog::keepShownSheet() { takeShownSheet(job_, view_, shownSheet_); }

void MainDialog::showSheets() { showSheetTabs(job_, view_, shownSheet_); }

void MainDialog::OnSelectSheet() {
  const int chosen = view_.currentSheetTab();
  if (chosen < 0 || static_cast<std::size_t>(chosen) >= job_.sheets.size()) return;
  keepShownSheet();
  shownSheet_ = chosen;
  view_.setText(ControlId::SqlBox, job_.sheets[static_cast<std::size_t>(chosen)].sql);
}

namespace {

// "SheetN" for the smallest N from the number of sheets on that no sheet is named.
std::string newSheetName(const std::vector<JobSheet>& sheets) {
  for (std::size_t number = sheets.size() + 1;; ++number) {
    std::string name = "Sheet" + std::to_string(number);
    const bool taken = std::any_of(sheets.begin(), sheets.end(), [&](const JobSheet& sheet) {
      return sameSheetName(sheet.name, name);
    });
    if (!taken) return name;
  }
}

}  // namespace

void MainDialog::OnAddSheet() {
  keepShownSheet();
  // A job of one query becomes the report's first sheet.
  if (job_.sheets.empty()) job_.sheets.push_back({newSheetName(job_.sheets), job_.sql});
  job_.sheets.push_back({newSheetName(job_.sheets), std::string()});
  shownSheet_ = static_cast<int>(job_.sheets.size()) - 1;
  view_.setText(ControlId::SqlBox, "");
  showSheets();
}

void MainDialog::OnRenameSheet() {
  if (job_.sheets.empty()) return;
  JobSheet& sheet = job_.sheets[static_cast<std::size_t>(shownSheet_)];
  // A refused name comes back in the box, for the user to mend.
  std::string initial = sheet.name;
  for (;;) {
    const auto name = view_.askText("Name of the sheet:", "Rename Sheet", initial);
    if (!name || *name == sheet.name) return;
    std::string reason;
    if (const std::string problem = sheetNameProblem(*name); !problem.empty()) {
      reason = "The sheet name \"" + *name + "\" cannot be used: " + problem + ".";
    } else if (std::any_of(job_.sheets.begin(), job_.sheets.end(), [&](const JobSheet& other) {
                 return &other != &sheet && sameSheetName(other.name, *name);
               })) {
      reason = "Another sheet is named \"" + *name + "\" (case aside).";
    }
    if (reason.empty()) {
      sheet.name = *name;
      showSheets();
      return;
    }
    view_.messageBox("The sheet keeps its name \"" + sheet.name + "\".", "Rename Sheet", reason);
    initial = *name;
  }
}

void MainDialog::OnRemoveSheet() {
  if (job_.sheets.empty()) return;
  if (job_.sheets.size() == 1) {
    // The last sheet's SQL stays in the box as the job's one query.
    job_.sheets.clear();
    keepShownSheet();
    shownSheet_ = 0;
    showSheets();
    return;
  }
  // A sheet's SQL goes with it: asked first, unless there is none.
  const std::string& name = job_.sheets[static_cast<std::size_t>(shownSheet_)].name;
  if (view_.text(ControlId::SqlBox).find_first_not_of(" \t\r\n") != std::string::npos &&
      view_.askQuestion("Remove the sheet \"" + name + "\" with its SQL?", "Remove Sheet",
                        {Answer::Yes, Answer::No}) != Answer::Yes) {
    return;
  }
  job_.sheets.erase(job_.sheets.begin() + shownSheet_);
  shownSheet_ = std::min(shownSheet_, static_cast<int>(job_.sheets.size()) - 1);
  view_.setText(ControlId::SqlBox, job_.sheets[static_cast<std::size_t>(shownSheet_)].sql);
  job_.sql = job_.sheets.front().sql;
  showSheets();
}

void MainDialog::OnMoveSheet(int step) {
  const int target = shownSheet_ + step;
  if (target < 0 || static_cast<std::size_t>(target) >= job_.sheets.size()) return;
  keepShownSheet();
  std::swap(job_.sheets[static_cast<std::size_t>(shownSheet_)],
            job_.sheets[static_cast<std::size_t>(target)]);
  shownSheet_ = target;
  job_.sql = job_.sheets.front().sql;
  showSheets();
}

void MainDialog::OnBrowse() {
  FileDialogSetup setup;
  setup.title = "Set Output File Name";
  // The chosen output type's extension is proposed: a name typed without one gets it.
  static constexpr std::pair<const char*, const char*> kTypeFilters[] = {
      {"XLS", "*.xls"}, {"CSV", "*.csv"}, {"TSV", "*.tsv"}, {"HTML", "*.html"}, {"XLSX", "*.xlsx"}};
  const auto& [name, pattern] = kTypeFilters[static_cast<int>(outputTypeOf(job_))];
  setup.filters = {{name, pattern}, {"All", "*.*"}};
  setup.promptOverwrite = true;
  setup.filterExtension = true;
  auto path = view_.chooseSaveFile(setup);
  // The fetch and the save take the name from the box.
  view_.setText(ControlId::OutFileName, path ? *path : std::string());
}

void MainDialog::OnSupportPage() {
  const HelpPage page = findHelpPage(executablePath_);
  if (!page.found()) {
    reportMissingHelpPage(page);
    return;
  }
  if (!view_.openUrl(fileUrl(page.path))) {
    view_.messageBox("No program could open the help page. Open it in a web browser: " + page.path,
                     kHelpCaption);
    return;
  }
  // The desktop took the page, but whether a browser shows it is out of sight from here (an
  // opener without a browser says nothing): the status list says where the page is.
  AddStatusLine(view_, "Opening the help page: " + page.path);
}

void MainDialog::OnHelp() {
  const HelpPage page = findHelpPage(executablePath_);
  if (!page.found()) {
    reportMissingHelpPage(page);
    return;
  }
  view_.messageBox("Please see the documentation at " + fileUrl(page.path) + " ", kHelpCaption);
}

void MainDialog::reportMissingHelpPage(const HelpPage& page) {
  std::string text = "The help page is missing. It was looked for at:";
  for (const std::string& path : page.searched) text += "\n" + path;
  view_.messageBox(text, kHelpCaption);
}

// Sets the output type in the job and shows it in the boxes.
void MainDialog::selectOutput(OutputType type) {
  setOutputType(job_, type);
  showOutputType(view_, type);
}

// A box that was checked selects its type. Unchecking the selected CSV, TSV, HTML or XLSX box
// falls back to XML; unchecking XML falls back to CSV, so no click leaves all five boxes
// unchecked.
void MainDialog::OnOutputCsv() { onOutputBox(OutputType::Csv, OutputType::Xml); }
void MainDialog::OnOutputTsv() { onOutputBox(OutputType::Tsv, OutputType::Xml); }
void MainDialog::OnOutputHtml() { onOutputBox(OutputType::Html, OutputType::Xml); }
void MainDialog::OnOutputXml() { onOutputBox(OutputType::Xml, OutputType::Csv); }
void MainDialog::OnOutputXlsx() { onOutputBox(OutputType::Xlsx, OutputType::Xml); }

void MainDialog::onOutputBox(OutputType type, OutputType fallback) {
  selectOutput(view_.isChecked(outputBoxOf(type)) ? type : fallback);
}

void MainDialog::OnLaunchOnFinish() {
  job_.noAutoOpen = !view_.isChecked(ControlId::LaunchOnFinish);
}

}  // namespace rowpress
