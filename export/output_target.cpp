#include "export/output_target.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

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
    registered_.set(atomic_.temporaryPath());
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
  // Known to the stop request before it exists, like the temporary file.
  workRegistered_.set(path);
  if (::mkdir(path.c_str(), 0700) != 0) {
    error_ = std::strerror(errno);
    workRegistered_.release();
    return false;
  }
  workPath_ = path;
  workFd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st;
  if (workFd_ < 0 || ::fstat(workFd_, &st) != 0 || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    // Not the directory just made: another took its name in between.
    error_ = std::strerror(workFd_ < 0 ? errno : EEXIST);
    closeWorkDirectory();
    return false;
  }
  while (::flock(workFd_, LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
  }
  file_.setWorkDirectory(workFd_);
  return true;
}

void OutputTarget::closeWorkDirectory() {
  if (workPath_.empty()) return;
  // Only the directory this run made, never one that has taken its name since.
  struct stat mine, named;
  if (workFd_ >= 0 && ::fstat(workFd_, &mine) == 0 && ::lstat(workPath_.c_str(), &named) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
    ::rmdir(workPath_.c_str());
  }
  if (workFd_ >= 0) ::close(workFd_);
  workFd_ = -1;
  file_.setWorkDirectory(-1);
  workPath_.clear();
  workRegistered_.release();
}

std::string OutputTarget::error() const {
  if (!error_.empty()) return error_;
  return file_.errorText();
}

bool OutputTarget::keep() {
  if (!atomic_.isOpen()) return false;
  if (!file_.close()) {
    error_ = file_.errorText();
    discard();
    return false;
  }
  closeWorkDirectory();
  // Only the file the run wrote takes the target's name: a link or another file that took
  // the temporary name during the run is never published.
  struct stat mine, named;
  if (::fstat(atomic_.descriptor(), &mine) != 0 ||
      ::lstat(atomic_.temporaryPath().c_str(), &named) != 0 || mine.st_dev != named.st_dev ||
      mine.st_ino != named.st_ino) {
    error_ = "The temporary file was replaced during the run";
    discard();
    return false;
  }
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
