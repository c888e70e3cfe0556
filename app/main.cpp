// rowpress: pulls the result of one SQL query out of an ODBC data source into a file that a
// spreadsheet program or a browser opens. With -silent the job runs unattended, without a
// window or a display (no application object is created); otherwise the window opens.
#include <unistd.h>

#include <iostream>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/credentials.h"
#include "app/run_watchdog.h"
#include "app/signal_stop.h"
#include "app/standard_streams.h"
#include "app/startup.h"
#include "app/window.h"
#include "export/output_naming.h"
#include "export/stop_request.h"
#include "job/exit_status.h"
#include "run/viewer.h"

namespace {

int runMain(int argc, char** argv) {
  using namespace rowpress;
  // Before anything opens a file: no file or connection may take a standard stream's number.
  const StandardStreams streams = openClosedStandardStreams();
  // A write to a pipe that nobody reads, or past the file size limit, fails and is reported
  // instead of ending the process; the viewer gets both signals as they were found.
  ignoreWriteSignals();
  std::vector<std::string> args(argv, argv + argc);
  CommandLine line = parseCommandLine(args);
  // Before any other thread exists, as changing the environment must be; from here on no
  // program that rowpress starts inherits the credentials.
  const OutsideCredentials outside = takeOutsideCredentials(line.passwordFile);
  // Before anything registers a temporary file.
  const std::string signalsUntaken = startSignalStop(line.silent && !line.quiet);
  // An argument that is no switch is refused before anything is printed (start-up refuses
  // it for a run, and the window shows it as a status line).
  if (!line.refused.empty() && (line.help || line.version)) {
    std::vector<std::string> problems;
    for (const std::string& argument : line.refused)
      problems.push_back(refusedArgumentLine(argument));
    return refuseUnreadableJob(problems, std::cerr);
  }
  if (line.help) {
    std::cout << helpText(defaultDirectory());
    return 0;
  }
  if (line.version) {
    std::cout << "rowpress " << ROWPRESS_VERSION << '\n';
    return 0;
  }

  if (!signalsUntaken.empty()) {
    std::cerr << "rowpress: cannot make the timer of a stop by SIGINT, SIGTERM or SIGHUP ("
              << signalsUntaken << "); they end the run without removing its temporary file\n";
  }
  if (line.silent) {
    JobSettings job;
    const std::vector<std::string> problems = jobFromCommandLine(line, job, outside);
    if (!problems.empty()) return refuseUnreadableJob(problems, std::cerr);
    if (job.timeoutSeconds > 0) {
      const std::string unwatched = startRunWatchdog(job.timeoutSeconds, !line.quiet);
      if (!unwatched.empty()) {
        std::cerr << "rowpress: cannot make the timer of -timeout (" << unwatched
                  << "); only the drivers' own timeouts bound the run\n";
      }
    }
    // The progress line only where someone watches: standard error on a terminal.
    RunLog log{line.quiet, !line.quiet && ::isatty(STDERR_FILENO) ? STDERR_FILENO : -1,
               streams.outputClosed};
    return runUnattended(std::move(job), StopRequest::instance(), std::cout, std::cerr, log);
  }
  return runMainWindow(argc, argv, line, StopRequest::instance(), outside);
}

}  // namespace

int main(int argc, char** argv) {
  // The export run ends itself when it runs out of memory or threads; this is for what is
  // left (reading the job, the window), so that a process limit never ends in an abort.
  try {
    return runMain(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "rowpress: out of memory\n";
  } catch (const std::system_error& e) {
    std::cerr << "rowpress: " << e.code().message() << '\n';
  }
  return rowpress::exitStatusOf(rowpress::RunOutcome::OutputFile);
}
