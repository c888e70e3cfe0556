// The output file of one run, written under a temporary name and kept or discarded whole.
#pragma once

#include <optional>
#include <string>

#include "export/output_file.h"
#include "export/output_naming.h"
#include "files/atomic_file.h"
#include "files/file_descriptor.h"
#include "files/run_files.h"
#include "files/temporary_files.h"

namespace rowpress {

// The output file of one run. It is written under a temporary name beside its target and
// renamed over the target only when the run keeps it, so a failing run, a run without rows
// or a crash never empties or deletes a file that already had the target's name. What can
// stop the replacement is found when the file is opened, before the statement runs (see
// AtomicFile: directories, files the user may not write, hard links, sticky directories).
//
// A library that writes the file itself (the .xlsx workbook) reaches it through the run's
// descriptor, and keeps its own temporary files in the run's work directory beside it
// (".NAME.rowpress-RANDOM.d", mode 0700, locked while the run lives like the temporary file).
// Besides its flock, the run holds a lock of its own descriptor's open file (F_OFD_SETLK):
// where flock is emulated with fcntl locks, as on NFS, closing any descriptor of the file
// would drop the process's lock, and the library's descriptor and the read-back's closes
// before the rename.
class OutputTarget {
 public:
  OutputTarget() = default;
  ~OutputTarget() { discard(); }
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  // Opens the temporary file for `path`, with the work directory beside it when asked. False
  // (and error()) when the target cannot be replaced or the file or directory cannot be
  // created. A reserved default name is removed again unless the file is kept.
  bool open(const std::string& path, NameReservation reserved = {}, bool withWorkDirectory = false);
  OutputFile& file() { return file_; }
  const std::string& temporaryPath() const { return atomic_.temporaryPath(); }
  // Where the file goes, as it is now (see AtomicFile::target()).
  std::optional<FileTarget> target() const { return atomic_.target(); }
  // The reason the file could not be created or written.
  std::string error() const;

  // Closes the file and writes it to disk, for a run that renames several files together
  // once all are ready. False when a write, the close or the sync failed; the temporary file
  // is then removed and the target left as it was.
  bool ready();
  // Closes and renames the file over the target, making it ready() first. False when a
  // write, the close or the rename failed; the temporary file is then removed and the target
  // left as it was.
  bool keep();
  // Removes the file that the target's name holds now (see AtomicFile::removeTarget()).
  bool removeTarget() {
    if (atomic_.removeTarget()) return true;
    error_ = atomic_.error();
    return false;
  }
  bool removedTarget() const { return atomic_.removedTarget(); }
  // Closes and removes the temporary file; the target is untouched.
  void discard();

 private:
  bool openWorkDirectory();
  // Removes the work directory once the library is done with it; one that still holds
  // something stays, for the cleaner to take once it is abandoned.
  void closeWorkDirectory();

  // The temporary file is known to the stop request from before it is created until it has
  // been renamed or removed.
  RegisteredTemporary registered_;
  AtomicFile atomic_;
  RegisteredTemporary workRegistered_;
  std::string workName_;       // its name in the target's directory; empty without one
  FileDescriptor workParent_;  // the target's directory, for as long as the work directory lives
  RunLockedDescriptor workFd_;
  OutputFile file_;
  NameReservation reserved_;
  std::string error_;
  bool ready_ = false;
};

}  // namespace rowpress
