#include "app/signal_stop.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "export/stop_request.h"

namespace rowpress {

namespace {

[[noreturn]] void takeSignals(sigset_t signals) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    StopRequest& stop = StopRequest::instance();
    stop.request(signal);
    if (!stop.waitUntilIdle(std::chrono::steady_clock::now() + kStopGrace)) {
      // The driver is still inside one long call: the run cannot clean up, so its files are
      // removed here and the process ends under it.
      stop.removeTemporaries();
    }
    if (stop.claimReport()) {
      // On a terminal the line replaces the progress line that may stand there.
      const std::string line = (::isatty(STDERR_FILENO) ? "\r\033[K" : "") + stopLogLine(signal);
      ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
      (void)ignored;
    }
    // Not exit(): the main thread may still be inside the driver or writing; nothing of the
    // process must be torn down under it.
    ::_exit(128 + signal);
  }
}

}  // namespace

std::string startSignalStop() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&signals, signal);
  }
  if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return std::string();
  try {
    std::thread(takeSignals, signals).detach();
  } catch (const std::system_error& e) {
    pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    return e.code().message();
  }
  return std::string();
}

}  // namespace rowpress
