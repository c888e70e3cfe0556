#include "export/stop_request.h"

#include <signal.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "db/result_cursor.h"

namespace rowpress {

StopRequest& StopRequest::instance() {
  // Never destroyed: a handler may still use it while the process ends.
  static StopRequest* request = new StopRequest();
  return *request;
}

void StopRequest::request(int signal, int timeoutSeconds, bool cancel) {
  // The first request is written whole before the flag says that there is one.
  if (!claimed_.exchange(true)) {
    signal_.store(signal, std::memory_order_relaxed);
    timedOutAfter_.store(timeoutSeconds, std::memory_order_relaxed);
    cancelled_.store(cancel, std::memory_order_relaxed);
    requested_.store(true);
  }
  // The driver is never called here (a handler may be asking): the thread that waits for
  // the request does it.
  if (cancellerWaits_.load()) ::sem_post(&cancelWake_);
}

bool StopRequest::beginPublish() {
  // Either the run sees a request made before this, and publishes nothing, or the stop sees
  // the publication and waits for it: both sides store first and load after.
  publishing_.store(true);
  uninterruptible_.fetch_add(1);
  if (!requested_.load()) return true;
  uninterruptible_.fetch_sub(1);
  publishing_.store(false);
  return false;
}

void StopRequest::endPublish(bool published) {
  if (!published) publishing_.store(false);
  uninterruptible_.fetch_sub(1);
}

void StopRequest::reset() {
  publishing_.store(false);
  requested_.store(false);
  signal_.store(0);
  timedOutAfter_.store(0);
  cancelled_.store(false);
  claimed_.store(false);
}

std::string StopRequest::beginExecute(ResultCursor* cursor, bool cancelSafe) {
  executing_.store(true);
  if (!cancelSafe) return {};
  ::sem_init(&cancelWake_, 0, 0);
  executionEnded_.store(false);
  // The thread starts with every signal blocked, so that the handlers run on the run's
  // thread, as they do where no such thread exists.
  sigset_t all, kept;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &kept);
  std::string failure;
  try {
    canceller_ = std::thread([this, cursor] {
      while (::sem_wait(&cancelWake_) != 0 && errno == EINTR) {
      }
      if (!executionEnded_.load()) cursor->cancel();
    });
  } catch (const std::system_error& e) {
    // No thread for the cancel: a statement that ran now could not be ended by a stop.
    failure = e.code().message();
  }
  pthread_sigmask(SIG_SETMASK, &kept, nullptr);
  if (!canceller_.joinable()) return failure.empty() ? "no thread" : failure;
  cancellerWaits_.store(true);
  // A request made before the statement began cancels it as soon as it runs.
  if (requested_.load()) ::sem_post(&cancelWake_);
  return {};
}

void StopRequest::endExecute() {
  if (canceller_.joinable()) {
    cancellerWaits_.store(false);
    executionEnded_.store(true);
    ::sem_post(&cancelWake_);
    // A cancel still inside the driver uses the statement: it is not given back before the
    // cancel returns. A cancel that never returns leaves the run here, and the stop's
    // deadline ends the process.
    canceller_.join();
    ::sem_destroy(&cancelWake_);
  }
  executing_.store(false);
}

bool StopRequest::idle() const {
  return steps_.load() == 0 && !executing_.load() && files_.empty();
}

std::string stopLogLine(int signal) {
  return "rowpress: stopped by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")\n";
}

std::string timedOutText(int seconds) {
  return "timed out after " + std::to_string(seconds) + " s";
}

ExecutingStatement::ExecutingStatement(StopRequest& stop, ResultCursor& cursor) : stop_(stop) {
  const std::string reason = stop_.beginExecute(&cursor, cursor.cancelsSafely());
  if (!reason.empty())
    failure_ = "could not start the thread that cancels the statement: " + reason;
}

}  // namespace rowpress
