#include "export/stop_request.h"

#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace rowpress {

StopRequest& StopRequest::instance() {
  // Never destroyed: the stopping thread may still use it while the process ends.
  static StopRequest* request = new StopRequest();
  return *request;
}

void StopRequest::request(int signal, int timeoutSeconds, bool cancel) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!requested_.load()) {
    signal_.store(signal);
    timedOutAfter_.store(timeoutSeconds);
    cancelled_.store(cancel);
    requested_.store(true);
  }
  // The executing thread cannot leave endExecute while the lock is held, so the statement
  // is still the one executing (or just done executing, and not used again once the run
  // sees the request).
  if (executing_ != SQL_NULL_HSTMT && cancelSafe_) SQLCancel(executing_);
  changed_.notify_all();
}

void StopRequest::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  requested_.store(false);
  signal_.store(0);
  timedOutAfter_.store(0);
  cancelled_.store(false);
  rows_.store(0, std::memory_order_relaxed);
}

void StopRequest::beginExecute(SQLHSTMT statement, bool cancelSafe) {
  std::lock_guard<std::mutex> lock(mutex_);
  executing_ = statement;
  cancelSafe_ = cancelSafe;
}

void StopRequest::endExecute() {
  std::lock_guard<std::mutex> lock(mutex_);
  executing_ = SQL_NULL_HSTMT;
  cancelSafe_ = false;
  changed_.notify_all();
}

void StopRequest::addTemporary(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  temporaries_.insert(path);
}

void StopRequest::removeTemporary(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = temporaries_.find(path);
  if (found != temporaries_.end()) temporaries_.erase(found);
  changed_.notify_all();
}

void StopRequest::addReservation(const std::string& path, dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> lock(mutex_);
  reservations_.push_back({path, device, inode});
}

void StopRequest::removeReservation(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = reservations_.begin(); it != reservations_.end(); ++it) {
    if (it->path == path) {
      reservations_.erase(it);
      break;
    }
  }
  changed_.notify_all();
}

void StopRequest::beginStep() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++steps_;
}

void StopRequest::endStep() {
  std::lock_guard<std::mutex> lock(mutex_);
  --steps_;
  changed_.notify_all();
}

void StopRequest::beginUninterruptible() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++uninterruptible_;
}

void StopRequest::endUninterruptible() {
  std::lock_guard<std::mutex> lock(mutex_);
  --uninterruptible_;
  changed_.notify_all();
}

bool StopRequest::waitUntilIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto grace = deadline - std::chrono::steady_clock::now();
  for (;;) {
    if (changed_.wait_until(lock, deadline, [this] { return idle(); })) return true;
    if (uninterruptible_ == 0) return false;
    changed_.wait(lock, [this] { return idle() || uninterruptible_ == 0; });
    if (idle()) return true;
    // The run gets the same time again to finish what follows the step.
    deadline = std::chrono::steady_clock::now() + grace;
  }
}

void StopRequest::removeTemporaries() {
  std::lock_guard<std::mutex> lock(mutex_);
  // A work directory goes too when the library's files in it are gone (they have no names
  // once created); one that still holds something is left to the cleaner.
  for (const std::string& path : temporaries_) {
    if (::unlink(path.c_str()) != 0 && errno == EISDIR) ::rmdir(path.c_str());
  }
  temporaries_.clear();
  for (const Reservation& reserved : reservations_) {
    struct stat st;
    if (::lstat(reserved.path.c_str(), &st) == 0 && st.st_dev == reserved.device &&
        st.st_ino == reserved.inode && S_ISREG(st.st_mode) && st.st_size == 0) {
      ::unlink(reserved.path.c_str());
    }
  }
  reservations_.clear();
}

std::string stopLogLine(int signal) {
  return "rowpress: stopped by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")\n";
}

std::string timedOutText(int seconds) {
  return "timed out after " + std::to_string(seconds) + " s";
}

bool driverCancelsSafely(SQLHDBC connection) {
  SQLCHAR name[256] = {0};
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetInfo(connection, SQL_DRIVER_NAME, name, sizeof name, &length);
  if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return false;
  std::string_view driver(reinterpret_cast<const char*>(name));
  // The file name of the driver library, as the driver manager loaded it.
  return driver.find("psqlodbc") != std::string_view::npos;
}

}  // namespace rowpress
