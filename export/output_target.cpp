#include "export/output_target.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "files/pause_point.h"

namespace rowpress {

namespace {

// A write lock over the whole file, of the open file that `fd` refers to: only closing that
// open file releases it. Where the system has no such locks the flock stays alone.
void holdOwnLock(int fd) {
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  while (::fcntl(fd, F_OFD_SETLK, &whole) != 0 && errno == EINTR) {
  }
}

}  // namespace

bool OutputTarget::open(const std::string& path, NameReservation reserved, bool withWorkDirectory) {
  discard();
  reserved_ = std::move(reserved);
  error_.clear();
  if (atomic_.prepare(path)) {
    registered_.set(atomic_.temporaryPath(), atomic_.directoryDescriptor());
    if (atomic_.create(0666)) {
      holdOwnLock(atomic_.descriptor());
      file_ = OutputFile::onDescriptor(atomic_.descriptor(), atomic_.temporaryPath());
      if (!withWorkDirectory || openWorkDirectory()) return true;
      const std::string why = error_;
      discard();
      error_ = why;
      return false;
    }
  }
  error_ = atomic_.error();
  registered_.release();
  reserved_.remove();
  return false;
}

bool OutputTarget::openWorkDirectory() {
  const std::string path = workDirectoryFor(atomic_.temporaryPath());
  const std::string name = path.substr(path.rfind('/') + 1);
  // Made, opened and later removed through the run's descriptor of the target's directory,
  // like the temporary file; known to the stop request before it exists.
  const int directory = atomic_.directoryDescriptor();
  workRegistered_.set(path, directory);
  if (::mkdirat(directory, name.c_str(), 0700) != 0) {
    error_ = std::strerror(errno);
    workRegistered_.release();
    return false;
  }
  workName_ = name;
  workParent_.reset(::fcntl(directory, F_DUPFD_CLOEXEC, 0));
  workFd_.reset(::openat(directory, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!workParent_ || !workFd_ || ::fstat(workFd_.get(), &st) != 0 || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    // Not the directory just made: another took its name in between.
    error_ = std::strerror(!workFd_ || !workParent_ ? errno : EEXIST);
    closeWorkDirectory();
    return false;
  }
  // Locked, and this process's own, as the temporary file is: no cleaner takes it.
  lockForRun(workFd_.get());
  file_.setWorkDirectory(workFd_.get());
  return true;
}

void OutputTarget::closeWorkDirectory() {
  if (workName_.empty()) return;
  // Only the directory this run made, never one that has taken its name since.
  struct stat mine, named;
  if (workFd_ && workParent_ && ::fstat(workFd_.get(), &mine) == 0 &&
      ::fstatat(workParent_.get(), workName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
    ::unlinkat(workParent_.get(), workName_.c_str(), AT_REMOVEDIR);
  }
  workFd_.reset();
  workParent_.reset();
  file_.setWorkDirectory(-1);
  workName_.clear();
  workRegistered_.release();
}

std::string OutputTarget::error() const {
  if (!error_.empty()) return error_;
  return file_.errorText();
}

bool OutputTarget::ready() {
  if (ready_) return true;
  if (!atomic_.isOpen()) return false;
  if (!file_.close()) {
    error_ = file_.errorText();
    discard();
    return false;
  }
  closeWorkDirectory();
  pausePoint(kPauseBeforeKeeping);
  if (!atomic_.sync()) {
    error_ = atomic_.error();
    registered_.release();
    reserved_.remove();
    return false;
  }
  ready_ = true;
  return true;
}

bool OutputTarget::keep() {
  if (!ready()) return false;
  const bool kept = atomic_.commit();
  registered_.release();
  if (!kept) {
    error_ = atomic_.error();
    reserved_.remove();
    return false;
  }
  reserved_.release();
  return true;
}

void OutputTarget::discard() {
  if (atomic_.isOpen()) {
    file_.close();
    closeWorkDirectory();
    atomic_.discard();
  }
  closeWorkDirectory();
  registered_.release();
  reserved_.remove();
}

}  // namespace rowpress
