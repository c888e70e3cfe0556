#include "app/signal_stop.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "app/run_watchdog.h"
#include "app/startup.h"
#include "export/stop_request.h"
#include "files/run_files.h"
#include "job/exit_status.h"

namespace rowpress {

namespace {

// What a timer's signal carries: which timer it is.
constexpr int kGraceTimer = 1;
constexpr int kTimeoutTimer = 2;
// How often a stop held off by a step that must not be cut off looks again.
constexpr std::int64_t kHoldLookNs = 20'000'000;
// The coarse clock lags the exact one by up to a tick: a timer armed from it waits this much
// longer, so that it never fires before the limit.
constexpr std::int64_t kCoarseSlackNs = 10'000'000;
constexpr std::int64_t kSecondNs = 1'000'000'000;

// A text made before any handler runs, for a handler to write.
struct Said {
  char text[256] = {};
  std::size_t size = 0;
  void set(const std::string& from) {
    size = std::min(from.size(), sizeof text);
    std::memcpy(text, from.data(), size);
  }
};

// The summary line without its time: "rowpress: stopped by signal 15 after ".
std::string summaryStart(RunOutcome outcome, int signal) {
  RunResult result;
  result.outcome = outcome;
  std::string line = summaryLine(result, ExportResult{}, signal, std::chrono::duration<double>(0));
  return line.substr(0, line.size() - std::string_view("0.0 s").size());
}

// Everything the handlers know, set up before they are installed.
struct Handlers {
  StopRequest* stop = nullptr;
  // The run's files, taken before any handler runs: its first use allocates.
  RunFiles* files = nullptr;
  bool terminal = false;  // standard error is a terminal
  timespec start{};
  timer_t grace{};
  timer_t timeout{};
  std::int64_t limitNs = 0;
  // What a stop signal says (SIGINT, SIGTERM, SIGHUP), and the start of its summary line.
  Said stopLines[3];
  Said stopSummaries[3];
  bool summary = false;
  // What a run past -timeout says, in the connect and in the statement.
  Said connectLines, connectSummary, statementLine, statementSummary;
  bool timeoutSummary = false;
  // Set only inside the handlers, which block each other.
  volatile sig_atomic_t graceArmed = 0;
  volatile sig_atomic_t held = 0;
  // What the stop's end says: the signal that asked, or 0 for a timeout.
  volatile sig_atomic_t endSignal = 0;
};

Handlers handlers;

constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

int indexOf(int signal) {
  for (int i = 0; i < 3; ++i) {
    if (kStopSignals[i] == signal) return i;
  }
  return -1;
}

// A line put together inside a handler, in memory of its own.
class HandlerText {
 public:
  void add(const char* text, std::size_t size) {
    const std::size_t n = std::min(size, sizeof text_ - size_);
    std::memcpy(text_ + size_, text, n);
    size_ += n;
  }
  void add(const Said& said) { add(said.text, said.size); }
  // The time since the handlers were installed, as "3.0 s", and the line's end.
  void addElapsed() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t ns =
        (now.tv_sec - handlers.start.tv_sec) * kSecondNs + (now.tv_nsec - handlers.start.tv_nsec);
    const std::int64_t tenths = ns < 0 ? 0 : (ns + kSecondNs / 20) / (kSecondNs / 10);
    char digits[24];
    int n = 0;
    std::int64_t whole = tenths / 10;
    do {
      digits[n++] = static_cast<char>('0' + whole % 10);
      whole /= 10;
    } while (whole > 0 && n < 20);
    while (n > 0) add(&digits[--n], 1);
    const char rest[] = {'.', static_cast<char>('0' + tenths % 10), ' ', 's', '\n'};
    add(rest, sizeof rest);
  }
  // Writes the text to standard error; a progress line that may stand there is erased first.
  void write() const {
    std::size_t done = 0;
    if (handlers.terminal) {
      ssize_t ignored = ::write(STDERR_FILENO, "\r\033[K", 4);
      (void)ignored;
    }
    while (done < size_) {
      const ssize_t n = ::write(STDERR_FILENO, text_ + done, size_ - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }

 private:
  char text_[1024];
  std::size_t size_ = 0;
};

void arm(timer_t timer, std::int64_t ns) {
  itimerspec when{};
  when.it_value.tv_sec = ns / kSecondNs;
  when.it_value.tv_nsec = ns % kSecondNs;
  if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
  timer_settime(timer, 0, &when, nullptr);
}

void armGrace() {
  handlers.graceArmed = 1;
  arm(handlers.grace, std::chrono::nanoseconds(kStopGrace).count());
}

// Ends the process for a stop that the run did not end in time: removes the run's files and
// says why, unless the run is saying it itself (it then ends the process).
void endStop() {
  StopRequest& stop = *handlers.stop;
  handlers.files->removeAll();
  if (!stop.claimReport()) return;
  HandlerText text;
  int status = exitStatusOf(RunOutcome::StatementFailed);
  const int index = indexOf(handlers.endSignal);
  if (index >= 0) {
    text.add(handlers.stopLines[index]);
    if (handlers.summary) {
      text.add(handlers.stopSummaries[index]);
      text.addElapsed();
    }
    status = exitStatusOf(RunOutcome::Stopped, handlers.endSignal);
  } else {
    text.add(handlers.statementLine);
    if (handlers.timeoutSummary) {
      text.add(handlers.statementSummary);
      text.addElapsed();
    }
  }
  text.write();
  // Not exit(): the run may still be inside the driver or writing; nothing of the process
  // must be torn down under it.
  ::_exit(status);
}

void onStopSignal(int signal) {
  const int saved = errno;
  StopRequest& stop = *handlers.stop;
  stop.request(signal);
  // A second signal changes nothing: the first one's grace runs.
  if (!handlers.graceArmed) {
    handlers.endSignal = signal;
    if (stop.idle() && !stop.publishing()) {
      // Nothing to wait for: no file of the run exists.
      endStop();
    } else {
      armGrace();
    }
  }
  errno = saved;
}

void graceOver() {
  StopRequest& stop = *handlers.stop;
  if (stop.holdsOff()) {
    // A workbook being assembled, or the publication: waited for past any deadline.
    handlers.held = 1;
    arm(handlers.grace, kHoldLookNs);
    return;
  }
  if (handlers.held) {
    // The run gets the same time again to finish what follows the step.
    handlers.held = 0;
    armGrace();
    return;
  }
  if (stop.publishing()) {
    // The run has replaced the target: it reports that (the path, status 0) and ends the
    // process itself; saying "stopped" would tell that the old file stayed. A process that
    // goes on after that (the window, a driver that hangs as it disconnects) ends here, with
    // the status of a kept file.
    ::_exit(0);
  }
  endStop();
}

void timeoutLook() {
  StopRequest& stop = *handlers.stop;
  const StopRequest::Wait waiting = stop.waiting();
  // Between waits nothing is bounded; a new wait or a row starts the limit again.
  if (waiting == StopRequest::Wait::Nothing) {
    arm(handlers.timeout, handlers.limitNs);
    return;
  }
  const std::int64_t since = coarseNow() - stop.lastActivity();
  if (since < handlers.limitNs) {
    arm(handlers.timeout, handlers.limitNs - since + kCoarseSlackNs);
    return;
  }
  const int seconds = static_cast<int>(handlers.limitNs / kSecondNs);
  if (waiting == StopRequest::Wait::Connect) {
    // The driver holds the run inside the connect, which cannot be interrupted; no output
    // exists yet, but a run that just got past the connect may have registered one.
    handlers.files->removeAll();
    stop.requestTimeout(seconds);
    if (stop.claimReport()) {
      HandlerText text;
      text.add(handlers.connectLines);
      if (handlers.timeoutSummary) {
        text.add(handlers.connectSummary);
        text.addElapsed();
      }
      text.write();
    }
    ::_exit(exitStatusOf(RunOutcome::NoConnection));
  }
  // A run that sees the request ends as a failed statement and says so itself; one inside
  // the driver is ended by the grace timer.
  stop.requestTimeout(seconds);
  if (!handlers.graceArmed) {
    handlers.endSignal = 0;
    armGrace();
  }
}

void onTimer(int, siginfo_t* info, void*) {
  // Only the timers' own signals: the same number sent by kill is not one.
  if (info->si_code != SI_TIMER) return;
  const int saved = errno;
  if (info->si_value.sival_int == kGraceTimer) graceOver();
  if (info->si_value.sival_int == kTimeoutTimer) timeoutLook();
  errno = saved;
}

// The signals whose handlers must not interrupt each other.
sigset_t handledSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kStopSignals) sigaddset(&signals, signal);
  sigaddset(&signals, SIGRTMIN);
  return signals;
}

bool makeTimer(int which, timer_t& timer) {
  sigevent event{};
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGRTMIN;
  event.sigev_value.sival_int = which;
  return timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
}

}  // namespace

std::string startSignalStop(bool summary) {
  handlers.stop = &StopRequest::instance();
  handlers.files = &RunFiles::instance();
  handlers.terminal = ::isatty(STDERR_FILENO) == 1;
  ::clock_gettime(CLOCK_MONOTONIC, &handlers.start);
  handlers.summary = summary;
  for (int i = 0; i < 3; ++i) {
    handlers.stopLines[i].set(stopLogLine(kStopSignals[i]));
    handlers.stopSummaries[i].set(summaryStart(RunOutcome::Stopped, kStopSignals[i]));
  }
  struct sigaction timer {};
  timer.sa_sigaction = onTimer;
  timer.sa_flags = SA_SIGINFO | SA_RESTART;
  timer.sa_mask = handledSignals();
  if (sigaction(SIGRTMIN, &timer, nullptr) != 0 || !makeTimer(kGraceTimer, handlers.grace)) {
    return std::strerror(errno);
  }
  for (int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction stop {};
    stop.sa_handler = onStopSignal;
    stop.sa_flags = SA_RESTART;
    stop.sa_mask = handledSignals();
    sigaction(signal, &stop, nullptr);
  }
  return std::string();
}

std::string startStopTimeout(int seconds, bool summary) {
  handlers.limitNs = static_cast<std::int64_t>(seconds) * kSecondNs;
  handlers.timeoutSummary = summary;
  handlers.connectLines.set(connectTimedOutLines(seconds));
  handlers.connectSummary.set(summaryStart(RunOutcome::NoConnection, 0));
  handlers.statementLine.set(statementTimedOutLine(seconds));
  handlers.statementSummary.set(summaryStart(RunOutcome::StatementFailed, 0));
  if (handlers.stop == nullptr || !makeTimer(kTimeoutTimer, handlers.timeout)) {
    return std::strerror(handlers.stop == nullptr ? EINVAL : errno);
  }
  arm(handlers.timeout, handlers.limitNs);
  return std::string();
}

void endAfterStopSignal() {
  if (handlers.stop == nullptr) return;
  // With the handlers held off, as if the grace had run out: the run has removed its files.
  const sigset_t signals = handledSignals();
  sigset_t kept;
  pthread_sigmask(SIG_BLOCK, &signals, &kept);
  // A signal that came after the window's Cancel ends the process too.
  if (indexOf(handlers.endSignal) < 0) handlers.endSignal = handlers.stop->signal();
  if (indexOf(handlers.endSignal) >= 0) endStop();
  pthread_sigmask(SIG_SETMASK, &kept, nullptr);
}

}  // namespace rowpress
