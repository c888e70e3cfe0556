#include "export/stop_request.h"

#include <cstring>

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
  // The driver is never called here (a handler may be asking): the canceller's thread does it.
  canceller_.wake();
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

std::string StopRequest::beginExecute(ResultCursor& cursor, bool cancelSafe) {
  executing_.store(true);
  if (!cancelSafe) return {};
  std::string failure = canceller_.start(cursor);
  // A request made before the statement began cancels it as soon as it runs. The canceller
  // waits before this load, and a request stores before its wake: one of the two wakes it.
  if (failure.empty() && requested_.load()) canceller_.wake();
  return failure;
}

void StopRequest::endExecute() {
  canceller_.finish();
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
  const std::string reason = stop_.beginExecute(cursor, cursor.cancelsSafely());
  if (!reason.empty())
    failure_ = "could not start the thread that cancels the statement: " + reason;
}

}  // namespace rowpress
