// rowpress: pulls the result of one SQL query out of an ODBC data source into a file that a
// spreadsheet program or a browser opens. With -silent the job runs unattended, without a
// window or a display (no application object is created); otherwise the window opens.
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_dialog.h"
#include "app/memory_view.h"
#include "app/qt/main_window.h"
#include "app/run_watchdog.h"
#include "app/signal_stop.h"
#include "app/startup.h"
#include "export/output_naming.h"

int main(int argc, char** argv) {
  using namespace rowpress;
  // Before any other thread exists, so that every thread has the stop signals blocked.
  startSignalStop();
  std::vector<std::string> args(argv, argv + argc);
  CommandLine line = parseCommandLine(args);
  if (line.help) {
    std::cout << helpText(defaultDirectory());
    return 0;
  }
  if (line.version) {
    std::cout << "rowpress " << ROWPRESS_VERSION << '\n';
    return 0;
  }

  if (line.silent) {
    JobSettings job;
    MemoryView view(&std::cerr);
    MainDialog dialog(job, view);
    applyDefaults(job, view);
    const std::vector<std::string> problems = applyCommandLine(line, job, view);
    if (!problems.empty()) return refuseUnreadableJob(problems, std::cerr);
    if (job.timeoutSeconds > 0) startRunWatchdog(job.timeoutSeconds);
    return runUnattended(dialog, std::cout, std::cerr);
  }
  return runMainWindow(argc, argv, line);
}
