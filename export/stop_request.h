// The request to stop the running export. One request serves every way a run can be
// stopped: a signal (SIGINT, SIGTERM, SIGHUP) taken by the thread that waits for them, the
// timeout watchdog, and the window's Cancel. The fetch loop checks it once per row; a
// statement still executing is interrupted through its result cursor, but only on drivers
// where that is safe from another thread; where no call can interrupt the driver, the
// stopping thread removes the run's temporary files itself.
//
// The request is process-wide and never destroyed, so that the stopping thread may still use
// it while the main thread ends the process.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace rowpress {

class ResultCursor;

class StopRequest {
 public:
  static StopRequest& instance();

  // Asks the running export to stop; `signal` is the signal that asked (0 for none). The
  // first request wins. A statement that is executing on a driver that allows it is
  // cancelled at once.
  void request(int signal) { request(signal, 0); }
  // Asks the running export to stop because a wait took longer than `seconds`.
  void requestTimeout(int seconds) { request(0, seconds); }
  // Asks the running export to stop because the user cancelled it in the window, which stays
  // open: the run says so in its own words.
  void requestCancel() { request(0, 0, true); }
  bool requested() const { return requested_.load(std::memory_order_relaxed); }
  int signal() const { return signal_.load(std::memory_order_relaxed); }
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

  // What the run is waiting for, as the timeout watchdog sees it: the connect, the
  // statement (executing it, or the next row), or nothing that a timeout bounds.
  enum class Wait { Nothing, Connect, Statement };
  void beginWait(Wait what) {
    waits_.store(waits_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    wait_.store(what, std::memory_order_relaxed);
  }
  Wait waiting() const { return wait_.load(std::memory_order_relaxed); }
  // The running export wrote its row number `rows` (0 when it starts), and the wait for the
  // next row starts now. Called only by the thread that runs the export, once per row, so a
  // plain store is enough (no lock, no read-modify-write).
  void rowWritten(long long rows) { rows_.store(rows, std::memory_order_relaxed); }
  // The data rows the running export has written so far, for a thread that shows progress.
  const std::atomic<long long>& rowsWritten() const { return rows_; }
  // What the watchdog watches: it changes whenever a wait begins or a row arrives.
  struct Progress {
    std::uint64_t waits = 0;
    long long rows = 0;
    bool operator==(const Progress&) const = default;
  };
  Progress progress() const {
    return {waits_.load(std::memory_order_relaxed), rows_.load(std::memory_order_relaxed)};
  }
  // Forgets a request and the row count of the last run, before a new command starts.
  void reset();
  // True for the first caller only: the thread that took the signal and the main thread
  // both may end the process, and the log says once why it stopped.
  bool claimReport() { return !reported_.exchange(true); }

  // The cursor whose statement is being executed, and whether it may be cancelled from
  // another thread while it executes. Between the two calls a request cancels it.
  void beginExecute(ResultCursor* cursor, bool cancelSafe);
  void endExecute();

  // The temporary files (and the work directory) of the running export: removed by stopProcess when
  // the run does not end in time to remove them itself. A file in a directory that the run holds
  // open as `directory` is removed through (a copy of) that descriptor, wherever the directory has
  // gone since.
  void addTemporary(const std::string& path, int directory = -1);
  void removeTemporary(const std::string& path);

  // A default output name that the run reserved as an empty file (`device`, `inode`): removed
  // by removeTemporaries only while it is still that empty file, so a kept output that has
  // taken the name since is never touched. `directory` as for addTemporary.
  void addReservation(const std::string& path, dev_t device, ino_t inode, int directory = -1);
  void removeReservation(const std::string& path);

  // A short step that creates files before it can register them (a default name is reserved
  // in two creations): while one runs, a stop waits for it instead of ending the process
  // between the creation and the registration.
  void beginStep();
  void endStep();

  // A step that must not be cut off (a workbook being assembled when it is closed): while
  // one runs, a stop waits for it past any deadline, and the run removes its file after it.
  void beginUninterruptible();
  void endUninterruptible();

  // Publication: the run is about to replace the target with its finished file. Begins only
  // when no stop was requested before (false then: the run discards its file); from then on
  // a stop waits for the publication past any deadline and no longer ends the process, and
  // the run finishes and reports what it did. endPublish(false) after a publication that
  // failed gives the stop its say again.
  bool beginPublish();
  void endPublish(bool published);
  // Whether the run has replaced (or is replacing) the target: a stop leaves the outcome to
  // the run.
  bool publishing() const { return publishing_.load(std::memory_order_acquire); }

  // Waits until no temporary file or reservation is registered and no statement executes,
  // or until `deadline`. True when that state was reached. An uninterruptible step holds the
  // deadline off: after it ends, the wait goes on for as long again as the deadline gave.
  bool waitUntilIdle(std::chrono::steady_clock::time_point deadline);
  // Removes every registered temporary file and reserved name.
  void removeTemporaries();

 private:
  StopRequest() = default;
  void request(int signal, int timeoutSeconds, bool cancel = false);
  bool idle() const {
    return temporaries_.empty() && reservations_.empty() && steps_ == 0 && executing_ == nullptr;
  }

  // A file of the run: its path, and a descriptor of its directory (or -1) that this owns.
  struct RunFile {
    std::string path;
    int directory = -1;
  };
  struct Reservation {
    RunFile file;
    dev_t device;
    ino_t inode;
  };

  std::atomic<bool> requested_{false};
  std::atomic<int> signal_{0};
  std::atomic<int> timedOutAfter_{0};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> reported_{false};
  std::atomic<bool> publishing_{false};
  std::atomic<Wait> wait_{Wait::Nothing};
  std::atomic<std::uint64_t> waits_{0};
  std::atomic<long long> rows_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  ResultCursor* executing_ = nullptr;
  bool cancelSafe_ = false;
  bool cancelling_ = false;  // a thread of its own is cancelling executing_
  std::vector<RunFile> temporaries_;
  std::vector<Reservation> reservations_;
  int steps_ = 0;
  int uninterruptible_ = 0;
};

// The log line of a run stopped by `signal`: "rowpress: stopped by signal 15 (Terminated)".
std::string stopLogLine(int signal);

// What a run that timed out says: "timed out after 30 s".
std::string timedOutText(int seconds);

// Marks what the run waits for while it lives; afterwards it waits for nothing that a timeout
// bounds.
class WaitingFor {
 public:
  explicit WaitingFor(StopRequest::Wait what) { StopRequest::instance().beginWait(what); }
  ~WaitingFor() { StopRequest::instance().beginWait(StopRequest::Wait::Nothing); }
  WaitingFor(const WaitingFor&) = delete;
  WaitingFor& operator=(const WaitingFor&) = delete;
};

// Registers a temporary file with the stop request until release() or the end of its life.
class RegisteredTemporary {
 public:
  RegisteredTemporary() = default;
  ~RegisteredTemporary() { release(); }
  RegisteredTemporary(const RegisteredTemporary&) = delete;
  RegisteredTemporary& operator=(const RegisteredTemporary&) = delete;

  // Registers `path`, in the directory open as `directory` if not -1 (before the file exists,
  // so that a stop never misses it).
  void set(const std::string& path, int directory = -1) {
    release();
    path_ = path;
    if (!path_.empty()) StopRequest::instance().addTemporary(path_, directory);
  }
  void release() {
    if (path_.empty()) return;
    StopRequest::instance().removeTemporary(path_);
    path_.clear();
  }

 private:
  std::string path_;
};

// Marks a step that creates files before it registers them, for as long as it lives.
class StepBeforeRegistration {
 public:
  StepBeforeRegistration() { StopRequest::instance().beginStep(); }
  ~StepBeforeRegistration() { StopRequest::instance().endStep(); }
  StepBeforeRegistration(const StepBeforeRegistration&) = delete;
  StepBeforeRegistration& operator=(const StepBeforeRegistration&) = delete;
};

// The publication of the run's file, for as long as it lives: see StopRequest::beginPublish.
class PublishingStep {
 public:
  PublishingStep() : begun_(StopRequest::instance().beginPublish()) {}
  ~PublishingStep() {
    if (begun_) StopRequest::instance().endPublish(published_);
  }
  PublishingStep(const PublishingStep&) = delete;
  PublishingStep& operator=(const PublishingStep&) = delete;
  // False when a stop came first: nothing may be published.
  bool begun() const { return begun_; }
  void published() { published_ = true; }

 private:
  bool begun_;
  bool published_ = false;
};

// Marks a step that a stop must wait for, for as long as it lives.
class UninterruptibleStep {
 public:
  UninterruptibleStep() { StopRequest::instance().beginUninterruptible(); }
  ~UninterruptibleStep() { StopRequest::instance().endUninterruptible(); }
  UninterruptibleStep(const UninterruptibleStep&) = delete;
  UninterruptibleStep& operator=(const UninterruptibleStep&) = delete;
};

// Registers a cursor with the stop request while its statement executes; the stop request
// cancels it only where its driver allows that from another thread.
class ExecutingStatement {
 public:
  explicit ExecutingStatement(ResultCursor& cursor);
  ~ExecutingStatement() { StopRequest::instance().endExecute(); }
  ExecutingStatement(const ExecutingStatement&) = delete;
  ExecutingStatement& operator=(const ExecutingStatement&) = delete;
};

}  // namespace rowpress
