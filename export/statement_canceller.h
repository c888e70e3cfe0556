// The thread that cancels an executing statement when a stop comes. A stop may come from a
// signal handler, which must not call the driver: it only wakes this thread, which calls
// SQLCancel through the statement's cursor. The stop request holds one for as long as the
// process lives, so that a handler may still wake it while the process ends.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <string>
#include <thread>

namespace rowpress {

class ResultCursor;

class StatementCanceller {
 public:
  StatementCanceller() = default;
  StatementCanceller(const StatementCanceller&) = delete;
  StatementCanceller& operator=(const StatementCanceller&) = delete;

  // Starts the thread that cancels `cursor`'s statement when woken, with every signal
  // blocked, so that the handlers run on the run's thread, as they do where no such thread
  // exists. Returns why the thread could not start (then no statement may run, since no stop
  // could end it); empty when it started.
  std::string start(ResultCursor& cursor);
  // Wakes the thread, which cancels the statement unless it has ended. Does nothing while no
  // thread waits. Async-signal-safe.
  void wake() {
    if (waits_.load()) ::sem_post(&wake_);
  }
  // The statement has ended: the thread ends without cancelling, after a cancel still inside
  // the driver returns (the statement is not given back before). Nothing when none started.
  void finish();

 private:
  std::thread thread_;
  sem_t wake_{};
  std::atomic<bool> waits_{false};
  std::atomic<bool> ended_{false};
};

}  // namespace rowpress
