// The dialog logic of the main window: every command handler and the export run. It talks to
// its window only through the View interface, so it runs the same in the Qt window, in the
// unattended run and in tests.
#pragma once

#include <sql.h>

#include <atomic>
#include <string>
#include <utility>

#include "app/fetch_command.h"
#include "app/help_page.h"
#include "app/view.h"
#include "export/export_run.h"
#include "export/viewer.h"
#include "job/job_settings.h"

namespace rowpress {

inline constexpr char kHelpCaption[] = "ROWPRESS Help Information";

class MainDialog {
 public:
  // Listens to `view`'s notifications for as long as it lives.
  MainDialog(JobSettings& job, View& view);
  ~MainDialog();
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Routes a notification of the window to its handler.
  void handle(ControlId id, Notification what);

  // "Fetch ODBC Data into XLS": runs the job.
  FetchResult OnFetch() { return OnFetch(view_, *launcher_); }
  // The same on `view` and `launcher` instead of the dialog's own: a window that runs the
  // fetch on a thread of its own passes ones that carry every call over to its thread.
  FetchResult OnFetch(View& view, Launcher& launcher);

  // Catalog browsing.
  void OnListDatabases();
  void OnSelectDatabase();
  void OnSelectTable();

  // Settings files.
  void OnSaveSettings();
  void OnLoadPrevious();

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
  void OnLaunchApplicationChange();
  void OnOutFileNameChange();

  // The export run on an open session: shows its lines as it goes and its messages at its
  // end, and keeps its result as the last export.
  RunOutcome RunExport(const OdbcSession& session, std::string& sql) {
    return RunExport(session, sql, view_, *launcher_);
  }
  RunOutcome RunExport(const OdbcSession& session, std::string& sql, View& view,
                       Launcher& launcher);

  // What starts the viewer after an export (tests record its command instead).
  void setLauncher(Launcher& launcher) { launcher_ = &launcher; }
  Launcher& launcher() const { return *launcher_; }

  const ExportResult& lastExport() const { return lastExport_; }
  // The data rows the running export has written so far; another thread may read it.
  const std::atomic<long long>& rowsWritten() const { return rowsWritten_; }
  JobSettings& job() { return job_; }
  View& view() { return view_; }

  // The executable beside which the help page is looked for: the running one unless set.
  void setExecutablePath(std::string path) { executablePath_ = std::move(path); }

 private:
  void selectOutput(OutputType type);
  void onOutputBox(OutputType type, OutputType fallback);
  void reportMissingHelpPage(const HelpPage& page);

  JobSettings& job_;
  View& view_;
  ExportResult lastExport_;
  // The data rows of the running (or last) export, kept current by the run row by row.
  std::atomic<long long> rowsWritten_{0};
  // Whether the table list holds the tables of a data source rather than a failure line.
  bool tablesListed_ = false;
  Launcher* launcher_ = &processLauncher();
  std::string executablePath_;
};

}  // namespace rowpress
