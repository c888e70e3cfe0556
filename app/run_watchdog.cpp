#include "app/run_watchdog.h"

#include <unistd.h>

#include <chrono>
#include <system_error>
#include <thread>

#include "app/signal_stop.h"
#include "app/startup.h"
#include "export/stop_request.h"
#include "job/exit_status.h"

namespace rowpress {

namespace {

// How often the watchdog looks: a run ends at most this long after its limit.
constexpr std::chrono::milliseconds kLook{100};

struct Watch {
  int seconds;
  bool summary;
  std::chrono::steady_clock::time_point start;
};

// Writes the lines of a run that the watchdog ends, and its summary line when wanted; on a
// terminal they replace the progress line that may stand there.
void say(const Watch& watch, const std::string& lines, RunOutcome outcome) {
  std::string text = (::isatty(STDERR_FILENO) ? "\r\033[K" : "") + lines;
  if (watch.summary) {
    const auto elapsed = std::chrono::steady_clock::now() - watch.start;
    text += summaryLine(RunResult{outcome, "", ""}, ExportResult{}, 0, elapsed) + "\n";
  }
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

// Acts on a wait that took too long. Returns only when the run ends by itself.
void timedOut(StopRequest::Wait waiting, const Watch& watch) {
  const int seconds = watch.seconds;
  StopRequest& stop = StopRequest::instance();
  if (waiting == StopRequest::Wait::Connect) {
    // The driver holds the main thread inside the connect; no output exists yet, but a run
    // that just got past the connect may have registered one.
    stop.removeTemporaries();
    // Marked as timed out first: a connect that the driver gives up at this same moment
    // leaves the report to this thread (see runUnattended).
    stop.requestTimeout(seconds);
    if (stop.claimReport()) {
      say(watch, connectTimedOutLines(seconds), RunOutcome::NoConnection);
    }
    ::_exit(static_cast<int>(RunOutcome::NoConnection));
  }
  stop.requestTimeout(seconds);
  // A run that sees the request ends as a failed statement and says so itself.
  if (stop.waitUntilIdle(std::chrono::steady_clock::now() + kStopGrace)) return;
  // The driver is still inside one long call: the files go here and the process ends under
  // it, as for a stop signal.
  stop.removeTemporaries();
  if (stop.claimReport()) {
    say(watch, statementTimedOutLine(seconds), RunOutcome::StatementFailed);
  }
  ::_exit(static_cast<int>(RunOutcome::StatementFailed));
}

void watch(const Watch& watching) {
  const StopRequest& stop = StopRequest::instance();
  const std::chrono::seconds limit(watching.seconds);
  StopRequest::Progress seen = stop.progress();
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::this_thread::sleep_for(kLook);
    const auto now = std::chrono::steady_clock::now();
    const StopRequest::Progress progress = stop.progress();
    const StopRequest::Wait waiting = stop.waiting();
    // A new wait or a row starts the limit again; between waits nothing is bounded.
    if (progress != seen || waiting == StopRequest::Wait::Nothing) {
      seen = progress;
      deadline = now + limit;
      continue;
    }
    if (now < deadline) continue;
    timedOut(waiting, watching);
    return;
  }
}

}  // namespace

std::string connectTimedOutLines(int seconds) {
  return "rowpress: did not connect\nrowpress: " + timedOutText(seconds) + "\n";
}

std::string statementTimedOutLine(int seconds) {
  return "SQL statement failed.: " + timedOutText(seconds) + "\n";
}

std::string startRunWatchdog(int seconds, bool summary) {
  try {
    std::thread(watch, Watch{seconds, summary, std::chrono::steady_clock::now()}).detach();
  } catch (const std::system_error& e) {
    return e.code().message();
  }
  return std::string();
}

}  // namespace rowpress
