#include "files/atomic_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "files/file_descriptor.h"
#include "files/replaced_file.h"

namespace rowpress {

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : directory_(std::move(other.directory_)),
      name_(std::move(other.name_)),
      temporaryName_(std::move(other.temporaryName_)),
      temporary_(std::move(other.temporary_)),
      error_(std::move(other.error_)),
      fd_(std::move(other.fd_)),
      dirFd_(std::move(other.dirFd_)),
      dirDevice_(other.dirDevice_),
      dirInode_(other.dirInode_),
      replacing_(other.replacing_),
      synced_(other.synced_) {
  other.temporary_.clear();
  other.temporaryName_.clear();
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    discard();
    directory_ = std::move(other.directory_);
    name_ = std::move(other.name_);
    temporaryName_ = std::move(other.temporaryName_);
    temporary_ = std::move(other.temporary_);
    error_ = std::move(other.error_);
    fd_ = std::move(other.fd_);
    dirFd_ = std::move(other.dirFd_);
    dirDevice_ = other.dirDevice_;
    dirInode_ = other.dirInode_;
    replacing_ = other.replacing_;
    synced_ = other.synced_;
    other.temporary_.clear();
    other.temporaryName_.clear();
  }
  return *this;
}

void AtomicFile::fail(int err) { error_ = std::strerror(err); }

bool AtomicFile::prepare(const std::string& path) {
  discard();
  error_.clear();
  std::string file;
  if (path.empty()) {
    fail(ENOENT);
    return false;
  }
  if (!followLinks(path, file, error_)) return false;
  const std::string name = baseNameOf(file);
  if (name.empty()) {  // "dir/": a directory, whether it exists or not
    fail(EISDIR);
    return false;
  }
  const std::string directory = directoryOf(file);
  dirFd_.reset(openRunDirectory(directory));
  struct stat dir;
  if (!dirFd_ || ::fstat(dirFd_.get(), &dir) != 0) {
    fail(errno);
    discard();
    return false;
  }

  struct stat st;
  const bool exists = ::fstatat(dirFd_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) fail(errno);
  if (exists) error_ = whyNotReplaced(dirFd_.get(), name, st, dir);
  if (!error_.empty()) {
    discard();
    return false;
  }
  directory_ = directory;
  name_ = name;
  dirDevice_ = dir.st_dev;
  dirInode_ = dir.st_ino;
  replacing_ = exists;
  removeAbandonedTemporaryFiles(dirFd_.get(), name);
  const std::string random = randomTemporaryPart();
  temporaryName_ = temporaryNameFor(name, random);
  temporary_ = temporaryNameFor(file, random);
  return true;
}

namespace {

// The target `name` in the directory open as `dirFd`.
std::optional<FileTarget> targetIn(int dirFd, const std::string& name) {
  struct stat dir;
  if (::fstat(dirFd, &dir) != 0) return std::nullopt;
  FileTarget target{dir.st_dev, dir.st_ino, name};
  struct stat st;
  if (::fstatat(dirFd, name.c_str(), &st, 0) == 0) {
    target.exists = true;
    target.device = st.st_dev;
    target.inode = st.st_ino;
  }
  return target;
}

}  // namespace

bool sameTarget(const FileTarget& a, const FileTarget& b) {
  if (a.directoryDevice == b.directoryDevice && a.directoryInode == b.directoryInode &&
      a.name == b.name) {
    return true;
  }
  return a.exists && b.exists && a.device == b.device && a.inode == b.inode;
}

std::optional<FileTarget> fileTargetOf(const std::string& path) {
  std::string file;
  std::string why;
  if (path.empty() || !followLinks(path, file, why)) return std::nullopt;
  const std::string name = baseNameOf(file);
  if (name.empty()) return std::nullopt;
  const FileDescriptor dirFd(::open(directoryOf(file).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!dirFd) return std::nullopt;
  return targetIn(dirFd.get(), name);
}

std::optional<FileTarget> AtomicFile::target() const {
  if (!dirFd_ || name_.empty()) return std::nullopt;
  return targetIn(dirFd_.get(), name_);
}

bool AtomicFile::create(mode_t newFileMode) {
  if (temporaryName_.empty() || fd_) {
    if (error_.empty()) fail(EINVAL);
    return false;
  }
  // A new file gets the mode asked for; one that replaces a file is private until it gets the
  // replaced file's permissions at the end.
  const mode_t mode = replacing_ ? S_IRUSR | S_IWUSR : newFileMode;
  const int fd = ::openat(dirFd_.get(), temporaryName_.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    fail(errno);
    discard();
    return false;
  }
  lockForRun(fd);
  fd_.reset(fd);
  return true;
}

void AtomicFile::closeDescriptors() {
  fd_.reset();
  dirFd_.reset();
  temporary_.clear();
  temporaryName_.clear();
  synced_ = false;
}

bool AtomicFile::failBecause(std::string why) {
  discard();
  error_ = std::move(why);
  return false;
}

bool AtomicFile::sync() {
  if (!fd_) {
    if (error_.empty()) fail(EBADF);
    return false;
  }
  // On disk before it takes the name; a file system that cannot sync says so with EINVAL.
  if (::fsync(fd_.get()) != 0 && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return failBecause(std::strerror(errno));
  }

  ReplacedFile old;
  struct stat mine;
  if (::fstatat(dirFd_.get(), name_.c_str(), &old.status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old.status.st_mode)) {
    std::string why;
    if (::fstat(fd_.get(), &mine) != 0) return failBecause(std::strerror(errno));
    if (!readAttributes(dirFd_.get(), name_, old, why) ||
        !keepWhatItWas(fd_.get(), mine, old, why)) {
      return failBecause(why);
    }
  }
  synced_ = true;
  return true;
}

bool AtomicFile::commit() {
  if (!fd_) {
    if (error_.empty()) fail(EBADF);
    return false;
  }
  if (!synced_ && !sync()) return false;
  // The file goes where its path leads, or nowhere: a directory moved away (or replaced) while
  // it was written would get a file that its path no longer names.
  struct stat named;
  if (::stat(directory_.c_str(), &named) != 0 || named.st_dev != dirDevice_ ||
      named.st_ino != dirInode_) {
    return failBecause(kDirectoryMoved);
  }
  // Only the file this run wrote takes the target's name: a link or another file that took
  // the temporary name during the run is never published.
  struct stat written, temporary;
  if (::fstat(fd_.get(), &written) != 0 ||
      ::fstatat(dirFd_.get(), temporaryName_.c_str(), &temporary, AT_SYMLINK_NOFOLLOW) != 0 ||
      !sameFile(written, temporary)) {
    return failBecause(kTemporaryReplaced);
  }
  if (::renameat(dirFd_.get(), temporaryName_.c_str(), dirFd_.get(), name_.c_str()) != 0) {
    return failBecause(std::strerror(errno));
  }
  // The lock goes only now, with the descriptor, once the file has its final name.
  closeDescriptors();
  return true;
}

bool AtomicFile::removeTarget() {
  if (!dirFd_) {
    if (error_.empty()) fail(EBADF);
    return false;
  }
  if (::unlinkat(dirFd_.get(), name_.c_str(), 0) == 0) {
    removedTarget_ = true;
    return true;
  }
  if (errno == ENOENT) return true;
  error_ = std::strerror(errno);
  return false;
}

void AtomicFile::discard() {
  // Only the file this run created goes, never one that has taken its name since.
  struct stat mine, named;
  if (fd_ && ::fstat(fd_.get(), &mine) == 0 &&
      ::fstatat(dirFd_.get(), temporaryName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      sameFile(mine, named)) {
    ::unlinkat(dirFd_.get(), temporaryName_.c_str(), 0);
  }
  closeDescriptors();
}

}  // namespace rowpress
