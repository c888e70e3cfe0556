// The dialog logic of the main window: every command handler and the export run. It talks to
// its window only through the View interface, so it runs the same in the Qt window, in the
// unattended run and in tests.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "app/help_page.h"
#include "app/view.h"
#include "export/export_run.h"
#include "export/stop_request.h"
#include "job/job_settings.h"
#include "run/run_job.h"
#include "run/viewer.h"

namespace rowpress {

inline constexpr char kHelpCaption[] = "ROWPRESS Help Information";
inline constexpr char kUnsavedCaption[] = "rowpress";
inline constexpr char kOtherTypeQuestion[] = "Write the output to this name all the same?";
inline constexpr char kUnsavedQuestion[] =
    "The job has changed since it was last loaded or saved. Save it before closing?";

class MainDialog {
 public:
  // Listens to `view`'s notifications for as long as it lives; its fetches answer `stop`.
  MainDialog(JobSettings& job, View& view, StopRequest& stop);
  ~MainDialog();
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Routes a notification of the window to its handler.
  void handle(ControlId id, Notification what);

  // "Fetch ODBC Data into XLS": takes the job from the controls and runs it, the status list
  // showing its lines and message boxes its messages; its result is the last export.
  RunResult OnFetch();
  // The two halves of the fetch for a window that runs the job on a thread of its own. On the
  // window's thread: the job as the controls hold it (the SQL text, the output file name, the
  // application and the compatibility switches from their boxes, the data source and
  // credentials as latched when the data source was selected).
  JobSettings takeFetchJob();
  // Asks what the run needs to know and starts it: the parameters' values (askParameterValues),
  // and whether to write to an output file name whose extension names another output type.
  // Then the status list is cleared for the run. False when the user cancelled: the fetch does
  // not run and the status list stays.
  bool confirmFetch(JobSettings& job);
  // When the job's SQL holds markers, asks the user for their values, each box filled with
  // the job's value for it, else the one used last in this window, and gives them to `job`;
  // false when the user cancelled, and the fetch does not run.
  bool askParameterValues(JobSettings& job);
  // The run's result, kept as the last export.
  void fetchDone(const RunResult& result) { lastExport_ = result.export_; }

  // Catalog browsing.
  void OnListDatabases();
  void OnSelectDatabase();
  void OnSelectTable();

  // The sheet tabs: the chosen tab's SQL in the box; "+" (a job of one query becomes a report
  // whose first sheet is its SQL); renaming, removing (the last one leaves a job of one query
  // with its SQL) and moving the current tab.
  void OnSelectSheet();
  void OnAddSheet();
  void OnRenameSheet();
  void OnRemoveSheet();
  void OnMoveSheet(int step);

  // Settings files.
  void OnSaveSettings();
  void OnLoadPrevious();

  // The job as the controls show it now is the one kept: closing asks first only once it
  // differs. Start-up, a save and a load keep the job.
  void keepJob();
  // Whether the job in the controls differs from the one kept, field by field.
  bool jobChanged() const;
  // Closing the window (Esc, the close box): true when it may close. When the job changed,
  // asks to save it first: Save closes once it is saved (a cancelled or failed save keeps the
  // window), Discard closes, Cancel keeps the window.
  bool OnClose();

  // "browse": picks the output file name; cancelling empties it.
  void OnBrowse();
  // "Support Page": opens the help page installed with the program in the desktop's default
  // program; says where the page is when nothing opens it, and where it was looked for when
  // it is missing.
  void OnSupportPage();
  // F1: the help message, with the address of the help page.
  void OnHelp();

  // Output-type check boxes: each keeps exactly one of the five boxes checked.
  void OnOutputCsv();
  void OnOutputTsv();
  void OnOutputHtml();
  void OnOutputXml();
  void OnOutputXlsx();
  void OnLaunchOnFinish();

  // What starts the viewer after an export (tests record its command instead).
  void setLauncher(Launcher& launcher) { launcher_ = &launcher; }
  Launcher& launcher() const { return *launcher_; }

  const ExportResult& lastExport() const { return lastExport_; }
  // The data rows the running export has written so far; another thread may read it.
  const std::atomic<long long>& rowsWritten() const { return rowsWritten_; }
  // The same count for a run on another thread to keep current.
  std::atomic<long long>& rowCounter() { return rowsWritten_; }
  JobSettings& job() { return job_; }
  // The request that stops this window's fetches.
  StopRequest& stopRequest() { return stop_; }
  View& view() { return view_; }

  // The executable beside which the help page is looked for: the running one unless set.
  void setExecutablePath(std::string path) { executablePath_ = std::move(path); }

 private:
  void selectOutput(OutputType type);
  void onOutputBox(OutputType type, OutputType fallback);
  void reportMissingHelpPage(const HelpPage& page);
  // The SQL box's text kept as the text of the sheet it shows.
  void keepShownSheet();
  void showSheets();

  JobSettings& job_;
  View& view_;
  StopRequest& stop_;
  ExportResult lastExport_;
  // The job as it was last loaded, saved or started with.
  JobSettings kept_;
  // The data rows of the running (or last) export, kept current by the run row by row.
  std::atomic<long long> rowsWritten_{0};
  // Whether the table list holds the tables of a data source rather than a failure line.
  bool tablesListed_ = false;
  // The quoting rules of the database that the last listing reached, by which the fetch finds
  // the markers it asks values for; the run finds them again after it connects.
  SqlDialect dialect_ = SqlDialect::Other;
  // The parameter values given last in this window, by name.
  std::map<std::string, std::string, std::less<>> lastValues_;
  // The sheet whose text the SQL box shows.
  int shownSheet_ = 0;
  Launcher* launcher_ = &processLauncher();
  std::string executablePath_;
};

}  // namespace rowpress
