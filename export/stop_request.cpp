#include "export/stop_request.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "db/result_cursor.h"

namespace rowpress {

StopRequest& StopRequest::instance() {
  // Never destroyed: the stopping thread may still use it while the process ends.
  static StopRequest* request = new StopRequest();
  return *request;
}

void StopRequest::request(int signal, int timeoutSeconds, bool cancel) {
  ResultCursor* toCancel = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!requested_.load()) {
      signal_.store(signal);
      timedOutAfter_.store(timeoutSeconds);
      cancelled_.store(cancel);
      requested_.store(true);
    }
    if (executing_ != nullptr && cancelSafe_ && !cancelling_) {
      toCancel = executing_;
      cancelling_ = true;
    }
    changed_.notify_all();
  }
  if (toCancel == nullptr) return;
  // The driver is never called under the lock, and never on the requesting thread: a cancel
  // that the server's side never answers would hold it, and the stop's deadline with it. The
  // statement stays the one executing until the cancel returns: endExecute waits for it.
  try {
    std::thread([this, toCancel] {
      toCancel->cancel();
      std::lock_guard<std::mutex> lock(mutex_);
      cancelling_ = false;
      changed_.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread for the cancel: the statement runs on, and the stop's deadline decides.
    std::lock_guard<std::mutex> lock(mutex_);
    cancelling_ = false;
    changed_.notify_all();
  }
}

bool StopRequest::beginPublish() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Under the lock that request() takes: a stop is either before the publication, which
  // then does not begin, or after its beginning, which it then waits for.
  if (requested_.load()) return false;
  publishing_.store(true, std::memory_order_release);
  ++uninterruptible_;
  return true;
}

void StopRequest::endPublish(bool published) {
  std::lock_guard<std::mutex> lock(mutex_);
  --uninterruptible_;
  if (!published) publishing_.store(false, std::memory_order_release);
  changed_.notify_all();
}

void StopRequest::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  publishing_.store(false);
  requested_.store(false);
  signal_.store(0);
  timedOutAfter_.store(0);
  cancelled_.store(false);
  rows_.store(0, std::memory_order_relaxed);
}

void StopRequest::beginExecute(ResultCursor* cursor, bool cancelSafe) {
  std::lock_guard<std::mutex> lock(mutex_);
  executing_ = cursor;
  cancelSafe_ = cancelSafe;
}

void StopRequest::endExecute() {
  std::unique_lock<std::mutex> lock(mutex_);
  // A cancel still inside the driver uses the statement: it is not given back before the
  // cancel returns. A cancel that never returns leaves the run here, and the stop's deadline
  // ends the process.
  changed_.wait(lock, [this] { return !cancelling_; });
  executing_ = nullptr;
  cancelSafe_ = false;
  changed_.notify_all();
}

namespace {

// A copy of the run's descriptor of `directory`, or -1: the run closes its own when it is done.
int copyOf(int directory) { return directory < 0 ? -1 : ::fcntl(directory, F_DUPFD_CLOEXEC, 0); }

std::string nameIn(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

void StopRequest::addTemporary(const std::string& path, int directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  temporaries_.push_back({path, copyOf(directory)});
}

void StopRequest::removeTemporary(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = temporaries_.begin(); it != temporaries_.end(); ++it) {
    if (it->path == path) {
      if (it->directory >= 0) ::close(it->directory);
      temporaries_.erase(it);
      break;
    }
  }
  changed_.notify_all();
}

void StopRequest::addReservation(const std::string& path, dev_t device, ino_t inode,
                                 int directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  reservations_.push_back({{path, copyOf(directory)}, device, inode});
}

void StopRequest::removeReservation(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = reservations_.begin(); it != reservations_.end(); ++it) {
    if (it->file.path == path) {
      if (it->file.directory >= 0) ::close(it->file.directory);
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
  for (const RunFile& file : temporaries_) {
    if (file.directory >= 0) {
      const std::string name = nameIn(file.path);
      if (::unlinkat(file.directory, name.c_str(), 0) != 0 && errno == EISDIR) {
        ::unlinkat(file.directory, name.c_str(), AT_REMOVEDIR);
      }
      ::close(file.directory);
    } else if (::unlink(file.path.c_str()) != 0 && errno == EISDIR) {
      ::rmdir(file.path.c_str());
    }
  }
  temporaries_.clear();
  for (const Reservation& reserved : reservations_) {
    const RunFile& file = reserved.file;
    const int at = file.directory >= 0 ? file.directory : AT_FDCWD;
    const std::string name = file.directory >= 0 ? nameIn(file.path) : file.path;
    struct stat st;
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        st.st_dev == reserved.device && st.st_ino == reserved.inode && S_ISREG(st.st_mode) &&
        st.st_size == 0) {
      ::unlinkat(at, name.c_str(), 0);
    }
    if (file.directory >= 0) ::close(file.directory);
  }
  reservations_.clear();
}

std::string stopLogLine(int signal) {
  return "rowpress: stopped by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")\n";
}

std::string timedOutText(int seconds) {
  return "timed out after " + std::to_string(seconds) + " s";
}

ExecutingStatement::ExecutingStatement(ResultCursor& cursor) {
  StopRequest::instance().beginExecute(&cursor, cursor.cancelsSafely());
}

}  // namespace rowpress
