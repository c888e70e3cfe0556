#include "app/signal_stop.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "app/startup.h"
#include "export/stop_request.h"

namespace rowpress {

namespace {

[[noreturn]] void takeSignals(sigset_t signals, bool summary,
                              std::chrono::steady_clock::time_point start) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    StopRequest& stop = StopRequest::instance();
    stop.request(signal);
    const bool idle = stop.waitUntilIdle(std::chrono::steady_clock::now() + kStopGrace);
    if (stop.publishing()) {
      // The run has replaced the target: it finishes, reports that (the path, status 0) and
      // ends the process itself; saying "stopped" would tell that the old file stayed. A
      // process that goes on after that (the window, a driver that hangs as it disconnects)
      // ends here, with the status of a kept file.
      std::this_thread::sleep_for(kStopGrace);
      ::_exit(0);
    }
    if (!idle) {
      // The driver is still inside one long call: the run cannot clean up, so its files are
      // removed here and the process ends under it.
      stop.removeTemporaries();
    }
    if (!stop.claimReport()) {
      // The run ended by itself and the main thread is saying so: it ends the process.
      for (;;) ::pause();
    }
    // On a terminal the line replaces the progress line that may stand there.
    std::string line = (::isatty(STDERR_FILENO) ? "\r\033[K" : "") + stopLogLine(signal);
    // The summary ends every unattended run's log, a stopped one's too.
    if (summary) {
      line += summaryLine(RunResult{RunOutcome::Stopped, "", ""}, ExportResult{}, signal,
                          std::chrono::steady_clock::now() - start) +
              "\n";
    }
    ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
    // Not exit(): the main thread may still be inside the driver or writing; nothing of the
    // process must be torn down under it.
    ::_exit(128 + signal);
  }
}

}  // namespace

std::string startSignalStop(bool summary) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal);
  }
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return std::string();
  try {
    std::thread(takeSignals, signals, summary, std::chrono::steady_clock::now()).detach();
  } catch (const std::system_error& e) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return e.code().message();
  }
  return std::string();
}

}  // namespace rowpress
