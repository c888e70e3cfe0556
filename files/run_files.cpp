#include "files/run_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace rowpress {

RunFiles& RunFiles::instance() {
  // Never destroyed: a handler may still use it while the process ends.
  static RunFiles* files = new RunFiles();
  return *files;
}

void RunFiles::add(const std::string& path, int directory, bool reservation, dev_t device,
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

void RunFiles::remove(const std::string& path, bool reservation) {
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

void RunFiles::addTemporary(const std::string& path, int directory) {
  add(path, directory, false, 0, 0);
}

void RunFiles::removeTemporary(const std::string& path) { remove(path, false); }

void RunFiles::addReservation(const std::string& path, dev_t device, ino_t inode, int directory) {
  add(path, directory, true, device, inode);
}

void RunFiles::removeReservation(const std::string& path) { remove(path, true); }

bool RunFiles::empty() const {
  for (const RunFile& file : files_) {
    if (file.state.load() != kFree) return false;
  }
  return true;
}

void RunFiles::removeAll() {
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

}  // namespace rowpress
