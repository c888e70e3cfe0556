// The request to stop the running export. One request serves every way a run can be
// stopped: a stop signal (SIGINT, SIGTERM, SIGHUP), the timeout of an unattended run, and the
// window's Cancel. The fetch loop checks it once per row; a statement still executing is
// interrupted with SQLCancel, but only on drivers where that is safe from another thread;
// where no call can interrupt the driver, the stop's grace timer removes the run's temporary
// files itself and ends the process.
//
// Signal handlers make the request and read it, so everything that they touch is a lock-free
// atomic. The request is process-wide and never destroyed, so that a handler may still use it
// while the process ends. The files that a stop removes when the run cannot are the run's
// list (files/run_files.h).
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "export/statement_canceller.h"
#include "files/run_files.h"

namespace rowpress {

// Nanoseconds of the system's coarse monotonic clock: a few milliseconds coarse, and cheap
// enough to read once per row.
inline std::int64_t coarseNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

class ResultCursor;

class StopRequest {
 public:
  static StopRequest& instance();

  // Asks the running export to stop; `signal` is the signal that asked (0 for none). The
  // first request wins. A statement that is executing on a driver that allows it is
  // cancelled at once. Async-signal-safe.
  void request(int signal) { request(signal, 0); }
  // Asks the running export to stop because a wait took longer than `seconds`.
  void requestTimeout(int seconds) { request(0, seconds); }
  // Asks the running export to stop because the user cancelled it in the window, which stays
  // open: the run says so in its own words.
  void requestCancel() { request(0, 0, true); }
  bool requested() const { return requested_.load(std::memory_order_relaxed); }
  int signal() const {
    return requested_.load(std::memory_order_acquire) ? signal_.load(std::memory_order_relaxed) : 0;
  }
  // Whether the request that won came from the window's Cancel.
  bool cancelled() const {
    return requested_.load(std::memory_order_acquire) && cancelled_.load(std::memory_order_relaxed);
  }
  // The seconds of the limit when the request came from a timeout, else 0.
  int timedOutAfter() const {
    // The acquiring load of the flag makes the seconds stored before it visible.
    return requested_.load(std::memory_order_acquire)
               ? timedOutAfter_.load(std::memory_order_relaxed)
               : 0;
  }

  // What the run is waiting for, as the timeout sees it: the connect, the statement
  // (executing it, or the next row), or nothing that a timeout bounds. A wait begins now.
  enum class Wait { Nothing, Connect, Statement };
  void beginWait(Wait what) {
    lastActivity_.store(coarseNow(), std::memory_order_relaxed);
    wait_.store(what, std::memory_order_relaxed);
  }
  Wait waiting() const { return wait_.load(std::memory_order_relaxed); }
  // A row arrived at `now` (coarseNow()): the wait for the next one starts then. Called by
  // the thread that runs the export, once per row: a plain store.
  void rowArrived(std::int64_t now) { lastActivity_.store(now, std::memory_order_relaxed); }
  // When the last wait began or the last row arrived, on the coarse clock.
  std::int64_t lastActivity() const { return lastActivity_.load(std::memory_order_relaxed); }

  // Forgets a request, before a new command starts.
  void reset();
  // True for the first caller only: the run and the stop's forced end both may end the
  // process, and the log says once why it stopped. Async-signal-safe.
  bool claimReport() { return !reported_.exchange(true); }

  // The cursor whose statement is being executed, and whether it may be cancelled from
  // another thread while it executes. Between the two calls a request cancels it through the
  // statement canceller. Returns why the canceller's thread could not start (then no
  // statement may run, since no stop could end it); empty when it started or none is needed.
  std::string beginExecute(ResultCursor& cursor, bool cancelSafe);
  void endExecute();

  // A short step that creates files before it can register them (a default name is reserved
  // in two creations): while one runs, the run is not idle.
  void beginStep() { steps_.fetch_add(1); }
  void endStep() { steps_.fetch_sub(1); }

  // A step that must not be cut off (a workbook being assembled when it is closed): while
  // one runs, a stop waits for it past any deadline, and the run removes its file after it.
  void beginUninterruptible() { uninterruptible_.fetch_add(1); }
  void endUninterruptible() { uninterruptible_.fetch_sub(1); }
  // Whether such a step (or a publication) runs now.
  bool holdsOff() const { return uninterruptible_.load() > 0; }

  // Publication: the run is about to replace the target with its finished file. Begins only
  // when no stop was requested before (false then: the run discards its file); from then on
  // a stop waits for the publication past any deadline and no longer ends the process, and
  // the run finishes and reports what it did. endPublish(false) after a publication that
  // failed gives the stop its say again.
  bool beginPublish();
  void endPublish(bool published);
  // Whether the run has replaced (or is replacing) the target: a stop leaves the outcome to
  // the run.
  bool publishing() const { return publishing_.load(); }

  // Whether the run holds nothing that a stop would have to clean up: none of the run's files
  // listed (files/run_files.h), no step creating files, no statement executing.
  bool idle() const;

 private:
  StopRequest() = default;
  void request(int signal, int timeoutSeconds, bool cancel = false);
  std::atomic<bool> claimed_{false};  // a request has won and is being written
  std::atomic<bool> requested_{false};
  std::atomic<int> signal_{0};
  std::atomic<int> timedOutAfter_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> reported_{false};
  std::atomic<bool> publishing_{false};
  std::atomic<Wait> wait_{Wait::Nothing};
  std::atomic<std::int64_t> lastActivity_{0};
  std::atomic<int> steps_{0};
  std::atomic<int> uninterruptible_{0};
  std::atomic<bool> executing_{false};
  StatementCanceller canceller_;
  // The run's files, taken with the request: a handler that asks idle() allocates nothing.
  RunFiles& files_ = RunFiles::instance();

  static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                    std::atomic<std::int64_t>::is_always_lock_free,
                "a signal handler reads the request");
};

// The log line of a run stopped by `signal`: "rowpress: stopped by signal 15 (Terminated)".
std::string stopLogLine(int signal);

// What a run that timed out says: "timed out after 30 s".
std::string timedOutText(int seconds);

// Marks what the run waits for while it lives; afterwards it waits for nothing that a timeout
// bounds.
class WaitingFor {
 public:
  WaitingFor(StopRequest& stop, StopRequest::Wait what) : stop_(stop) { stop_.beginWait(what); }
  ~WaitingFor() { stop_.beginWait(StopRequest::Wait::Nothing); }
  WaitingFor(const WaitingFor&) = delete;
  WaitingFor& operator=(const WaitingFor&) = delete;

 private:
  StopRequest& stop_;
};

// Marks a step that creates files before it registers them, for as long as it lives.
class StepBeforeRegistration {
 public:
  explicit StepBeforeRegistration(StopRequest& stop) : stop_(stop) { stop_.beginStep(); }
  ~StepBeforeRegistration() { stop_.endStep(); }
  StepBeforeRegistration(const StepBeforeRegistration&) = delete;
  StepBeforeRegistration& operator=(const StepBeforeRegistration&) = delete;

 private:
  StopRequest& stop_;
};

// The publication of the run's file, for as long as it lives: see StopRequest::beginPublish.
class PublishingStep {
 public:
  explicit PublishingStep(StopRequest& stop) : stop_(stop), begun_(stop.beginPublish()) {}
  ~PublishingStep() {
    if (begun_) stop_.endPublish(published_);
  }
  PublishingStep(const PublishingStep&) = delete;
  PublishingStep& operator=(const PublishingStep&) = delete;
  // False when a stop came first: nothing may be published.
  bool begun() const { return begun_; }
  void published() { published_ = true; }

 private:
  StopRequest& stop_;
  bool begun_;
  bool published_ = false;
};

// Marks a step that a stop must wait for, for as long as it lives.
class UninterruptibleStep {
 public:
  explicit UninterruptibleStep(StopRequest& stop) : stop_(stop) { stop_.beginUninterruptible(); }
  ~UninterruptibleStep() { stop_.endUninterruptible(); }
  UninterruptibleStep(const UninterruptibleStep&) = delete;
  UninterruptibleStep& operator=(const UninterruptibleStep&) = delete;

 private:
  StopRequest& stop_;
};

// Registers a cursor with the stop request while its statement executes; the stop request
// cancels it only where its driver allows that from another thread.
class ExecutingStatement {
 public:
  ExecutingStatement(StopRequest& stop, ResultCursor& cursor);
  ~ExecutingStatement() { stop_.endExecute(); }
  ExecutingStatement(const ExecutingStatement&) = delete;
  ExecutingStatement& operator=(const ExecutingStatement&) = delete;

  // "could not start the thread that cancels the statement: REASON" when the statement's
  // driver cancels from a thread of its own and that thread could not start: the statement
  // must not run. Empty otherwise.
  const std::string& failure() const { return failure_; }

 private:
  StopRequest& stop_;
  std::string failure_;
};

}  // namespace rowpress
