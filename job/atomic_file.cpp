#include "job/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <set>
#include <utility>

#include "job/job_settings.h"

namespace rowpress {

namespace {

constexpr std::string_view kMarker = ".rowpress-";
constexpr std::string_view kSuffix = ".part";
constexpr std::string_view kWorkSuffix = ".d";
constexpr std::size_t kNameMax = 255;
constexpr int kMaxLinks = 40;  // as many links as the kernel follows in one path
constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "." and the file's name, cut so that the temporary name fits in a file name.
std::string temporaryPrefixFor(std::string_view name) {
  const std::size_t room = kNameMax - 1 - kMarker.size() - kTemporaryRandomLength - kSuffix.size();
  return "." + std::string(name.substr(0, cutOnCharacterBoundary(name, room)));
}

bool isRandomPart(std::string_view text) {
  if (text.size() != kTemporaryRandomLength) return false;
  for (char c : text) {
    if (std::strchr(kAlphabet, c) == nullptr || c == '\0') return false;
  }
  return true;
}

// Whether `name` is a temporary name of rowpress ending in `suffix`: of any file when
// `prefix` is empty, else of the file whose temporary prefix it is.
bool isTemporaryName(std::string_view name, std::string_view prefix,
                     std::string_view suffix = kSuffix) {
  const std::size_t tail = kMarker.size() + kTemporaryRandomLength + suffix.size();
  if (name.size() < tail + 2 || name[0] != '.') return false;
  const std::string_view head = name.substr(0, name.size() - tail);
  const std::string_view rest = name.substr(name.size() - tail);
  if (!prefix.empty() && head != prefix) return false;
  return rest.starts_with(kMarker) && rest.ends_with(suffix) &&
         isRandomPart(rest.substr(kMarker.size(), kTemporaryRandomLength));
}

std::string randomPart() {
  unsigned char bytes[64];
  std::string part;
  while (part.size() < kTemporaryRandomLength) {
    ssize_t got = ::getrandom(bytes, sizeof bytes, 0);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      std::random_device device;  // no getrandom: the library's source of entropy
      for (auto& b : bytes) b = static_cast<unsigned char>(device());
      got = sizeof bytes;
    }
    for (ssize_t i = 0; i < got && part.size() < kTemporaryRandomLength; ++i) {
      if (bytes[i] < 248) part += kAlphabet[bytes[i] % 62];  // 248 = 4 * 62: no bias
    }
  }
  return part;
}

// The temporary files this process has open: never taken for another run's leftovers,
// whatever the file system's locks say (where flock is emulated with fcntl locks, as on
// NFS, a process can take a lock it already holds, and closing any of its descriptors of
// the file would drop it).
std::mutex liveMutex;
std::set<std::pair<dev_t, ino_t>>& liveFiles() {
  static std::set<std::pair<dev_t, ino_t>> files;
  return files;
}

bool isLive(const struct stat& st) {
  std::lock_guard<std::mutex> lock(liveMutex);
  return liveFiles().count({st.st_dev, st.st_ino}) != 0;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string temporaryNameFor(const std::string& path, std::string_view random) {
  const std::string name = temporaryPrefixFor(baseNameOf(path)) + std::string(kMarker) +
                           std::string(random) + std::string(kSuffix);
  if (path.find('/') == std::string::npos) return name;
  const std::string dir = directoryOf(path);
  return (dir == "/" ? "/" : dir + "/") + name;
}

std::string workDirectoryFor(const std::string& temporaryPath) {
  if (!temporaryPath.ends_with(kSuffix)) return std::string();
  return temporaryPath.substr(0, temporaryPath.size() - kSuffix.size()) + std::string(kWorkSuffix);
}

namespace {

// Removes the abandoned work directory `name` in `dirFd` with the files in it: only when it
// is old enough and its lock can be taken, as for a temporary file. A directory below it is
// not rowpress's: the directory then stays.
void removeAbandonedWorkDirectory(int dirFd, const char* name, std::time_t now) {
  struct stat named;
  if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(named.st_mode) ||
      now - named.st_mtime < kAbandonedAfterSeconds) {
    return;
  }
  const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !sameFile(opened, named) ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  const int listFd = ::dup(fd);
  DIR* entries = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
  if (entries == nullptr) {
    if (listFd >= 0) ::close(listFd);
  } else {
    while (dirent* entry = ::readdir(entries)) {
      struct stat st;
      if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
        ::unlinkat(fd, entry->d_name, 0);
      }
    }
    ::closedir(entries);
  }
  struct stat again;
  if (::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened)) {
    ::unlinkat(dirFd, name, AT_REMOVEDIR);
  }
  ::close(fd);
}

}  // namespace

void removeAbandonedTemporaryFiles(const std::string& directory, const std::string& forName) {
  const std::string prefix = forName.empty() ? std::string() : temporaryPrefixFor(forName);
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return;
  const int dirFd = ::dirfd(dir);
  const std::time_t now = std::time(nullptr);
  while (dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (isTemporaryName(name, prefix, kWorkSuffix)) {
      removeAbandonedWorkDirectory(dirFd, name, now);
      continue;
    }
    if (!isTemporaryName(name, prefix)) continue;
    // A leftover whose lock can be taken was left by a run that is gone, unless it is so new
    // that its run may not have locked it yet. This process's own temporary files are not
    // even opened: where flock is emulated with fcntl locks, closing any descriptor of a file
    // drops the process's lock on it.
    struct stat named;
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode) ||
        isLive(named) || now - named.st_mtime < kAbandonedAfterSeconds) {
      continue;
    }
    // Read and write where allowed: where flock is emulated with fcntl locks, an exclusive
    // lock needs a descriptor open for writing.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::openat(dirFd, name, O_RDWR | flags);
    if (fd < 0 && errno == EACCES) fd = ::openat(dirFd, name, O_RDONLY | flags);
    if (fd < 0) continue;
    struct stat opened;
    if (::fstat(fd, &opened) == 0 && sameFile(opened, named) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Still the same file under that name: removed while its lock is held.
      struct stat again;
      if (::fstatat(dirFd, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened)) {
        ::unlinkat(dirFd, name, 0);
      }
    }
    ::close(fd);
  }
  ::closedir(dir);
}

namespace {

// Follows the symbolic links that `path` names, one after the other, to the file that is
// to be replaced. False, with the reason, for a loop or a link that may not be followed.
bool followLinks(const std::string& path, std::string& file, std::string& why) {
  file = path;
  for (int hops = 0;; ++hops) {
    struct stat link;
    if (::lstat(file.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return true;
    if (hops == kMaxLinks) {
      why = std::strerror(ELOOP);
      return false;
    }
    // In a sticky directory that anyone may write to, a link of someone else (and not of
    // the directory's owner) may have been planted there: the kernel does not follow such
    // links (protected_symlinks), and neither does this.
    struct stat dir;
    const std::string directory = directoryOf(file);
    if (::stat(directory.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) &&
        (dir.st_mode & S_IWOTH) && link.st_uid != ::geteuid() && link.st_uid != dir.st_uid) {
      why = "Symbolic link in a sticky directory belongs to another user";
      return false;
    }
    std::string target(PATH_MAX, '\0');
    ssize_t n = ::readlink(file.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) == target.size()) {
      why = std::strerror(n < 0 ? errno : ENAMETOOLONG);
      return false;
    }
    target.resize(static_cast<std::size_t>(n));
    if (target.empty()) {
      why = std::strerror(ENOENT);
      return false;
    }
    if (target[0] == '/' || file.find('/') == std::string::npos) {
      file = target;
    } else {
      file = (directory == "/" ? "/" : directory + "/") + target;
    }
  }
}

}  // namespace

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      error_(std::move(other.error_)),
      fd_(std::exchange(other.fd_, -1)) {
  other.temporary_.clear();
}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    discard();
    target_ = std::move(other.target_);
    temporary_ = std::move(other.temporary_);
    error_ = std::move(other.error_);
    fd_ = std::exchange(other.fd_, -1);
    other.temporary_.clear();
  }
  return *this;
}

void AtomicFile::fail(int err) { error_ = std::strerror(err); }

bool AtomicFile::prepare(const std::string& path) {
  discard();
  error_.clear();
  target_.clear();
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

  struct stat st;
  const bool exists = ::lstat(file.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    fail(errno);
    return false;
  }
  const std::string directory = directoryOf(file);
  if (exists) {
    // Everything that would make the rename at the end fail, or replace something that is not
    // this user's file to replace, is found now, before anything is written.
    struct stat dir;
    if (S_ISDIR(st.st_mode)) {
      fail(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
      error_ = "Not a regular file";
    } else if (st.st_nlink > 1) {
      error_ =
          "File has " + std::to_string(st.st_nlink) + " hard links; replacing it would split them";
    } else if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) {
      fail(errno);
    } else if (::stat(directory.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) &&
               ::geteuid() != 0 && ::geteuid() != st.st_uid && ::geteuid() != dir.st_uid) {
      error_ = "File belongs to another user in a sticky directory";
    }
    if (!error_.empty()) return false;
  }
  target_ = file;
  replacing_ = exists;
  removeAbandonedTemporaryFiles(directory, name);
  temporary_ = temporaryNameFor(file, randomPart());
  return true;
}

bool AtomicFile::create(mode_t newFileMode) {
  if (temporary_.empty() || fd_ >= 0) {
    if (error_.empty()) fail(EINVAL);
    return false;
  }
  // A new file gets the mode asked for; one that replaces a file is private until it gets the
  // replaced file's permissions at the end.
  const mode_t mode = replacing_ ? S_IRUSR | S_IWUSR : newFileMode;
  int fd = ::open(temporary_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    fail(errno);
    temporary_.clear();
    return false;
  }
  // Where the file system has no locks, no other run can take one either, so nobody takes
  // the file for a leftover: the run goes on without.
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
  }
  struct stat mine;
  if (::fstat(fd, &mine) == 0) {
    std::lock_guard<std::mutex> lock(liveMutex);
    liveFiles().insert({mine.st_dev, mine.st_ino});
  }
  fd_ = fd;
  return true;
}

void AtomicFile::closeDescriptor() {
  if (fd_ < 0) return;
  struct stat mine;
  if (::fstat(fd_, &mine) == 0) {
    std::lock_guard<std::mutex> lock(liveMutex);
    liveFiles().erase({mine.st_dev, mine.st_ino});
  }
  ::close(fd_);
  fd_ = -1;
  temporary_.clear();
}

bool AtomicFile::commit() {
  if (fd_ < 0) {
    if (error_.empty()) fail(EBADF);
    return false;
  }
  auto failWith = [this](int err) {
    discard();
    fail(err);
    return false;
  };
  // On disk before it takes the name; a file system that cannot sync says so with EINVAL.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return failWith(errno);
  }

  struct stat old, mine;
  if (::lstat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode) && ::fstat(fd_, &mine) == 0) {
    mode_t mode = old.st_mode & 0777;
    if (mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) {
      // Only root may give a file away; a user may still keep the group, if a member of it.
      if (::fchown(fd_, old.st_uid, old.st_gid) != 0 &&
          ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) != 0 && mine.st_gid != old.st_gid) {
        // Another group than the replaced file's gets no more than everybody else.
        mode = (mode & ~S_IRWXG) | (mode & S_IRWXG & ((mode & S_IRWXO) << 3));
      }
    }
    if (::fchmod(fd_, mode) != 0) return failWith(errno);
  }
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return failWith(errno);
  // The lock goes only now, with the descriptor, once the file has its final name.
  closeDescriptor();
  return true;
}

void AtomicFile::discard() {
  if (fd_ < 0) {
    temporary_.clear();  // prepared, never created
    return;
  }
  // Only the file this run created goes, never one that has taken its name since.
  struct stat mine, named;
  if (::fstat(fd_, &mine) == 0 && ::lstat(temporary_.c_str(), &named) == 0 &&
      sameFile(mine, named)) {
    ::unlink(temporary_.c_str());
  }
  closeDescriptor();
}

}  // namespace rowpress
