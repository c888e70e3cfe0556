// The files of the running export that must not outlive it: its temporary files, its work
// directory and the default names it reserved. When the run cannot end in time to remove them
// itself (a stop whose grace time ran out, a signal that ends the process), removeAll() does.
//
// removeAll() runs in signal handlers while the run may be changing the list, so the list is a
// table of fixed size with a lock-free state per slot: no lock, no allocation. The list is
// process-wide and never destroyed, so that a handler may still use it while the process ends.
#pragma once

#include <limits.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace rowpress {

class RunFiles {
 public:
  static RunFiles& instance();

  // How many files the list holds at most: a CSV report without an output name holds two for
  // each sheet (its reserved name and its temporary file), and the type report one.
  static constexpr int kCapacity = 256;

  // A temporary file (or the work directory) of the run. A file in a directory that the run
  // holds open as `directory` is removed through (a copy of) that descriptor, wherever the
  // directory has gone since. Paths of PATH_MAX bytes or more, and files beyond kCapacity,
  // throw std::system_error, before the file exists.
  void addTemporary(const std::string& path, int directory = -1);
  void removeTemporary(const std::string& path);

  // A default output name that the run reserved as an empty file (`device`, `inode`): removed
  // by removeAll only while it is still that empty file, so a kept output that has taken the
  // name since is never touched. `directory` as for addTemporary.
  void addReservation(const std::string& path, dev_t device, ino_t inode, int directory = -1);
  void removeReservation(const std::string& path);

  // Whether no file is listed.
  bool empty() const;
  // Removes every listed temporary file and reserved name. Async-signal-safe.
  void removeAll();

 private:
  RunFiles() = default;
  void add(const std::string& path, int directory, bool reservation, dev_t device, ino_t inode);
  void remove(const std::string& path, bool reservation);

  // A file of the run. Its fields are written only by the thread that took the slot from
  // Free to Filling, and read only once it is Ready; a handler takes a Ready slot for itself
  // (Taken) before it touches it, so it never removes what the run is unregistering.
  enum SlotState : int { kFree, kFilling, kReady, kTaken };
  struct RunFile {
    std::atomic<int> state{kFree};
    bool reservation = false;
    int directory = -1;  // a copy of the run's descriptor, owned by the list, or -1
    dev_t device = 0;
    ino_t inode = 0;
    std::size_t nameAt = 0;  // where the name within `directory` begins in `path`
    char path[PATH_MAX] = {};
  };
  RunFile files_[kCapacity];

  static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the list");
};

// Lists a temporary file with the run's files until release() or the end of its life.
class RegisteredTemporary {
 public:
  RegisteredTemporary() = default;
  ~RegisteredTemporary() { release(); }
  RegisteredTemporary(const RegisteredTemporary&) = delete;
  RegisteredTemporary& operator=(const RegisteredTemporary&) = delete;

  // Lists `path`, in the directory open as `directory` if not -1 (before the file exists, so
  // that a stop never misses it).
  void set(const std::string& path, int directory = -1) {
    release();
    if (path.empty()) return;
    RunFiles::instance().addTemporary(path, directory);
    path_ = path;
  }
  void release() {
    if (path_.empty()) return;
    RunFiles::instance().removeTemporary(path_);
    path_.clear();
  }

 private:
  std::string path_;
};

}  // namespace rowpress
