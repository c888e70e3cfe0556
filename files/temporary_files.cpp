#include "files/temporary_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <set>
#include <utility>

#include "files/directory_entries.h"
#include "files/file_descriptor.h"
#include "job/utf8.h"

namespace rowpress {

namespace {

constexpr std::string_view kMarker = ".rowpress-";
constexpr std::string_view kSuffix = ".part";
constexpr std::string_view kWorkSuffix = ".d";
constexpr std::size_t kNameMax = 255;
constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

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

}  // namespace

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

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string randomTemporaryPart() {
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

std::string temporaryNameFor(const std::string& path, std::string_view random) {
  const std::string name = temporaryPrefixFor(baseNameOf(path)) + std::string(kMarker) +
                           std::string(random) + std::string(kSuffix);
  if (path.find('/') == std::string::npos) return name;
  const std::string dir = directoryOf(path);
  return (dir == "/" ? "/" : dir + "/") + name;
}

int openRunDirectory(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

void lockForRun(int fd) {
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
  }
  struct stat mine;
  if (::fstat(fd, &mine) == 0) {
    std::lock_guard<std::mutex> lock(liveMutex);
    liveFiles().insert({mine.st_dev, mine.st_ino});
  }
}

void closeLockedForRun(int fd) {
  if (fd < 0) return;
  struct stat mine;
  if (::fstat(fd, &mine) == 0) {
    std::lock_guard<std::mutex> lock(liveMutex);
    liveFiles().erase({mine.st_dev, mine.st_ino});
  }
  ::close(fd);
}

void removeAbandonedFiles(int directory, const LeftoverKind& kind) {
  DirectoryEntries entries(directory);
  const std::time_t now = std::time(nullptr);
  while (const char* name = entries.next()) {
    if (!kind.matches(name)) continue;
    // A leftover whose lock can be taken was left by a run that is gone, unless it is so new
    // that its run may not have locked it yet. This process's own files are not even opened:
    // where flock is emulated with fcntl locks, closing any descriptor of a file drops the
    // process's lock on it.
    struct stat named;
    if (::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode) ||
        (kind.emptyOnly && named.st_size != 0) || isLive(named) ||
        now - named.st_mtime < kAbandonedAfterSeconds) {
      continue;
    }
    // Read and write where allowed: where flock is emulated with fcntl locks, an exclusive
    // lock needs a descriptor open for writing.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    FileDescriptor fd(::openat(directory, name, O_RDWR | flags));
    if (!fd && errno == EACCES) fd.reset(::openat(directory, name, O_RDONLY | flags));
    if (!fd) continue;
    struct stat opened;
    if (::fstat(fd.get(), &opened) == 0 && sameFile(opened, named) &&
        ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) {
      // Still the same file under that name (and still empty, where only an empty one is a
      // leftover): removed while its lock is held.
      struct stat again;
      if (::fstatat(directory, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened) &&
          (!kind.emptyOnly || again.st_size == 0)) {
        ::unlinkat(directory, name, 0);
      }
    }
  }
}

std::string workDirectoryFor(const std::string& temporaryPath) {
  if (!temporaryPath.ends_with(kSuffix)) return std::string();
  return temporaryPath.substr(0, temporaryPath.size() - kSuffix.size()) + std::string(kWorkSuffix);
}

namespace {

// Removes the abandoned work directory `name` in `directory` with the files in it: only when
// it is old enough and its lock can be taken, as for a temporary file. A directory below it
// is not rowpress's: the directory then stays.
void removeAbandonedWorkDirectory(int directory, const char* name, std::time_t now) {
  struct stat named;
  if (::fstatat(directory, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(named.st_mode) ||
      isLive(named) || now - named.st_mtime < kAbandonedAfterSeconds) {
    return;
  }
  const FileDescriptor fd(
      ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return;
  struct stat opened;
  if (::fstat(fd.get(), &opened) != 0 || !sameFile(opened, named) ||
      ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    return;
  }
  {
    DirectoryEntries entries(fd.get());
    while (const char* entry = entries.next()) {
      struct stat st;
      if (::fstatat(fd.get(), entry, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
        ::unlinkat(fd.get(), entry, 0);
      }
    }
  }
  struct stat again;
  if (::fstatat(directory, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened)) {
    ::unlinkat(directory, name, AT_REMOVEDIR);
  }
}

}  // namespace

void removeAbandonedTemporaryFiles(int directory, const std::string& forName) {
  const std::string prefix = forName.empty() ? std::string() : temporaryPrefixFor(forName);
  removeAbandonedFiles(directory, LeftoverKind{[&prefix](std::string_view name) {
                         return isTemporaryName(name, prefix);
                       }});
  DirectoryEntries entries(directory);
  const std::time_t now = std::time(nullptr);
  while (const char* name = entries.next()) {
    if (isTemporaryName(name, prefix, kWorkSuffix)) {
      removeAbandonedWorkDirectory(directory, name, now);
    }
  }
}

}  // namespace rowpress
