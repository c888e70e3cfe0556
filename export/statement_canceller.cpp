#include "export/statement_canceller.h"

#include <signal.h>

#include <cerrno>
#include <system_error>

#include "db/result_cursor.h"

namespace rowpress {

std::string StatementCanceller::start(ResultCursor& cursor) {
  ::sem_init(&wake_, 0, 0);
  ended_.store(false);
  sigset_t all, kept;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &kept);
  std::string failure;
  try {
    thread_ = std::thread([this, &cursor] {
      while (::sem_wait(&wake_) != 0 && errno == EINTR) {
      }
      if (!ended_.load()) cursor.cancel();
    });
  } catch (const std::system_error& e) {
    failure = e.code().message();
  }
  pthread_sigmask(SIG_SETMASK, &kept, nullptr);
  if (!thread_.joinable()) {
    ::sem_destroy(&wake_);
    return failure.empty() ? "no thread" : failure;
  }
  waits_.store(true);
  return {};
}

void StatementCanceller::finish() {
  if (!thread_.joinable()) return;
  waits_.store(false);
  ended_.store(true);
  ::sem_post(&wake_);
  // A cancel that never returns leaves the run here, and the stop's deadline ends the
  // process.
  thread_.join();
  ::sem_destroy(&wake_);
}

}  // namespace rowpress
