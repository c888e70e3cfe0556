#include "export/stop_request.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

void StopRequest::add(const std::string& path, int directory, bool reservation, dev_t device,
                      ino_t inode) {
  if (path.size() >= PATH_MAX) throw std::system_error(ENAMETOOLONG, std::generic_category());
  for (RunFile& file : files_) {
    int free = kFree;
    if (!file.state.compare_exchange_strong(free, kFilling)) continue;
    file.reservation = reservation;
    // A copy of the run's descriptor: the run closes its own when it is done.
    file.directory = directory < 0 ? -1 : ::fcntl(directory, F_DUPFD_CLOEXEC, 0);
    file.device = device;
    file.inode = inode;
    std::memcpy(file.path, path.c_str(), path.size() + 1);
    file.nameAt = file.directory >= 0 ? path.rfind('/') + 1 : 0;
    file.state.store(kReady);
    return;
  }
  throw std::system_error(EMFILE, std::generic_category());
}

void StopRequest::remove(const std::string& path, bool reservation) {
  for (RunFile& file : files_) {
    if (file.state.load() != kReady || file.reservation != reservation || path != file.path) {
      continue;
    }
    int ready = kReady;
    // Taken by the stop's forced end in the meantime: it removes the file, and the process ends.
    if (!file.state.compare_exchange_strong(ready, kFilling)) return;
    if (file.directory >= 0) ::close(file.directory);
    file.directory = -1;
    file.state.store(kFree);
    return;
  }
}

void StopRequest::addTemporary(const std::string& path, int directory) {
  add(path, directory, false, 0, 0);
}

void StopRequest::removeTemporary(const std::string& path) { remove(path, false); }

void StopRequest::addReservation(const std::string& path, dev_t device, ino_t inode,
                                 int directory) {
  add(path, directory, true, device, inode);
}

void StopRequest::removeReservation(const std::string& path) { remove(path, true); }

bool StopRequest::idle() const {
  if (steps_.load() != 0 || executing_.load()) return false;
  for (const RunFile& file : files_) {
    if (file.state.load() != kFree) return false;
  }
  return true;
}

void StopRequest::removeTemporaries() {
  // Only calls that a signal handler may make. A work directory goes too when the library's
  // files in it are gone (they have no names once created); one that still holds something
  // is left to the cleaner.
  for (RunFile& file : files_) {
    int ready = kReady;
    if (!file.state.compare_exchange_strong(ready, kTaken)) continue;
    const int at = file.directory >= 0 ? file.directory : AT_FDCWD;
    const char* name = file.path + file.nameAt;
    if (!file.reservation) {
      if (::unlinkat(at, name, 0) != 0 && errno == EISDIR) ::unlinkat(at, name, AT_REMOVEDIR);
    } else {
      struct stat st;
      if (::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == file.device &&
          st.st_ino == file.inode && S_ISREG(st.st_mode) && st.st_size == 0) {
        ::unlinkat(at, name, 0);
      }
    }
    if (file.directory >= 0) ::close(file.directory);
    file.directory = -1;
    file.state.store(kFree);
  }
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
