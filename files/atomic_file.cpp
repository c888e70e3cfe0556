#include "files/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "job/utf8.h"

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
  // The directory may be open for paths only, which cannot be read: it is read through a
  // descriptor of its own, opened through that one.
  const int listed = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return;
  DIR* dir = ::fdopendir(listed);
  if (!dir) {
    ::close(listed);
    return;
  }
  const std::time_t now = std::time(nullptr);
  while (dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
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
    int fd = ::openat(directory, name, O_RDWR | flags);
    if (fd < 0 && errno == EACCES) fd = ::openat(directory, name, O_RDONLY | flags);
    if (fd < 0) continue;
    struct stat opened;
    if (::fstat(fd, &opened) == 0 && sameFile(opened, named) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      // Still the same file under that name (and still empty, where only an empty one is a
      // leftover): removed while its lock is held.
      struct stat again;
      if (::fstatat(directory, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened) &&
          (!kind.emptyOnly || again.st_size == 0)) {
        ::unlinkat(directory, name, 0);
      }
    }
    ::close(fd);
  }
  ::closedir(dir);
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
  const int fd = ::openat(directory, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat opened;
  if (::fstat(fd, &opened) != 0 || !sameFile(opened, named) ||
      ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  const int listed = ::dup(fd);
  DIR* entries = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (entries == nullptr) {
    if (listed >= 0) ::close(listed);
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
  if (::fstatat(directory, name, &again, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(again, opened)) {
    ::unlinkat(directory, name, AT_REMOVEDIR);
  }
  ::close(fd);
}

}  // namespace

void removeAbandonedTemporaryFiles(int directory, const std::string& forName) {
  const std::string prefix = forName.empty() ? std::string() : temporaryPrefixFor(forName);
  removeAbandonedFiles(directory, LeftoverKind{[&prefix](std::string_view name) {
                         return isTemporaryName(name, prefix);
                       }});
  const int listed = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (dir == nullptr) {
    if (listed >= 0) ::close(listed);
    return;
  }
  const std::time_t now = std::time(nullptr);
  while (dirent* entry = ::readdir(dir)) {
    if (isTemporaryName(entry->d_name, prefix, kWorkSuffix)) {
      removeAbandonedWorkDirectory(directory, entry->d_name, now);
    }
  }
  ::closedir(dir);
}

namespace {

constexpr char kAccessControlList[] = "system.posix_acl_access";

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

bool hasCapability(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return ::geteuid() == 0;
  return (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

// Whether a new file of this process can be given the group `gid`.
bool groupCanBeGiven(gid_t gid, const struct stat& directory) {
  if (gid == ::getegid() || hasCapability(CAP_CHOWN)) return true;
  // A directory with the set-group-ID bit gives new files its own group.
  if ((directory.st_mode & S_ISGID) && directory.st_gid == gid) return true;
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
  if (count > 0 && ::getgroups(count, groups.data()) == count) {
    for (gid_t group : groups) {
      if (group == gid) return true;
    }
  }
  return false;
}

std::string ownerNotKept(uid_t uid) {
  return "File belongs to another user (uid " + std::to_string(uid) +
         "); the new file could not keep that owner";
}

std::string accessControlListNotKept(gid_t gid) {
  return "File has an access control list for its group (gid " + std::to_string(gid) +
         "), which the new file could not keep";
}

// Reads the extended attributes of the file `name` in the directory open as `directory`
// without opening the file: through /proc/self/fd, where the kernel finds the directory by
// its descriptor. Where /proc is missing, through a descriptor of the file.
class AttributeReader {
 public:
  AttributeReader(int directory, const std::string& name)
      : directory_(directory),
        name_(name),
        path_("/proc/self/fd/" + std::to_string(directory) + "/" + name) {}
  ~AttributeReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  AttributeReader(const AttributeReader&) = delete;
  AttributeReader& operator=(const AttributeReader&) = delete;

  // The attributes' names; 0 or an errno value.
  int names(std::vector<std::string>& names) {
    std::string list;
    const int err = sized(list, [this](char* buffer, std::size_t size) {
      return fd_ >= 0 ? ::flistxattr(fd_, buffer, size) : ::llistxattr(path_.c_str(), buffer, size);
    });
    names.clear();
    for (std::size_t from = 0; from < list.size();) {
      const std::size_t end = list.find('\0', from);
      names.push_back(list.substr(from, end - from));
      if (end == std::string::npos) break;
      from = end + 1;
    }
    return err;
  }
  // The value of the attribute `attribute`; 0 or an errno value (ENODATA: it has none).
  int value(const std::string& attribute, std::string& value) {
    return sized(value, [&](char* buffer, std::size_t size) {
      return fd_ >= 0 ? ::fgetxattr(fd_, attribute.c_str(), buffer, size)
                      : ::lgetxattr(path_.c_str(), attribute.c_str(), buffer, size);
    });
  }

 private:
  // Asks for the size, then for the bytes, again while the value grows in between.
  template <typename Read>
  int sized(std::string& out, Read read) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      ssize_t size = read(nullptr, 0);
      if (size < 0) {
        const int err = errno;
        if (err != ENOENT || fd_ >= 0 || !fallBack()) return err;
        if ((size = read(nullptr, 0)) < 0) return errno;
      }
      out.resize(static_cast<std::size_t>(size));
      if (size == 0) return 0;
      const ssize_t got = read(out.data(), out.size());
      if (got >= 0) {
        out.resize(static_cast<std::size_t>(got));
        return 0;
      }
      if (errno != ERANGE) return errno;
    }
    return ERANGE;
  }
  // Without /proc: the file itself, for reading or else for writing (the user may write it).
  bool fallBack() {
    if (::access("/proc/self/fd", F_OK) == 0) return false;
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    fd_ = ::openat(directory_, name_.c_str(), O_RDONLY | flags);
    if (fd_ < 0 && errno == EACCES) fd_ = ::openat(directory_, name_.c_str(), O_WRONLY | flags);
    if (fd_ < 0) errno = ENOENT;
    return fd_ >= 0;
  }

  int directory_;
  std::string name_;
  std::string path_;
  int fd_ = -1;
};

// What a replaced file was, as its new version keeps it.
struct ReplacedFile {
  struct stat status {};
  bool hasAccessControlList = false;
  std::string accessControlList;
  std::vector<std::pair<std::string, std::string>> attributes;  // the other ones
};

// Whether an extended attribute of the replaced file goes to its new version besides the
// access control list: not a file capability, and none of the file system's own (system.*).
bool attributeIsKept(std::string_view name) {
  return name != "security.capability" && !name.starts_with("system.");
}

// Reads the attributes of the file `name` in the directory open as `directory`, whose status
// `replaced` already holds. False, with the reason, when they cannot be read.
bool readAttributes(int directory, const std::string& name, ReplacedFile& replaced,
                    std::string& why) {
  AttributeReader reader(directory, name);
  int err = reader.value(kAccessControlList, replaced.accessControlList);
  replaced.hasAccessControlList = err == 0;
  if (err != 0 && err != ENODATA && err != ENOTSUP) {
    why = std::string("The file's access control list could not be read: ") + std::strerror(err);
    return false;
  }
  std::vector<std::string> names;
  err = reader.names(names);
  if (err == ENOTSUP) return true;  // a file system without extended attributes
  for (const std::string& attribute : names) {
    if (err != 0) break;
    if (!attributeIsKept(attribute)) continue;
    std::string value;
    err = reader.value(attribute, value);
    if (err == ENODATA) {  // gone since it was listed
      err = 0;
      continue;
    }
    replaced.attributes.emplace_back(attribute, std::move(value));
  }
  if (err != 0) {
    why = std::string("The file's extended attributes could not be read: ") + std::strerror(err);
    return false;
  }
  return true;
}

// Gives the new file open as `fd` (whose status is `mine`) what the replaced file was, in
// this order: owner and group, permission bits, access control list (setting it sets the
// group bits from its mask, which a later chmod would rewrite), the other extended
// attributes. False, with the reason, when something could not be kept.
bool keepWhatItWas(int fd, const struct stat& mine, const ReplacedFile& old, std::string& why) {
  mode_t mode = old.status.st_mode & 0777;
  if (mine.st_uid != old.status.st_uid || mine.st_gid != old.status.st_gid) {
    if (::fchown(fd, old.status.st_uid, old.status.st_gid) != 0) {
      if (mine.st_uid != old.status.st_uid) {
        why = ownerNotKept(old.status.st_uid);
        return false;
      }
      // A user may still keep the group, if a member of it.
      if (::fchown(fd, static_cast<uid_t>(-1), old.status.st_gid) != 0 &&
          mine.st_gid != old.status.st_gid) {
        if (old.hasAccessControlList) {
          why = accessControlListNotKept(old.status.st_gid);
          return false;
        }
        // Another group than the replaced file's gets no more than everybody else.
        mode = (mode & ~S_IRWXG) | (mode & S_IRWXG & ((mode & S_IRWXO) << 3));
      }
    }
  }
  // A new file takes the default access control list of its directory: the replaced file had
  // none of its own, and its new version gets none either.
  if (!old.hasAccessControlList && ::fremovexattr(fd, kAccessControlList) != 0 &&
      errno != ENODATA && errno != ENOTSUP) {
    why = std::strerror(errno);
    return false;
  }
  if (::fchmod(fd, mode) != 0) {
    why = std::strerror(errno);
    return false;
  }
  if (old.hasAccessControlList && ::fsetxattr(fd, kAccessControlList, old.accessControlList.data(),
                                              old.accessControlList.size(), 0) != 0) {
    why = std::string("The access control list could not be kept: ") + std::strerror(errno);
    return false;
  }
  for (const auto& [name, value] : old.attributes) {
    if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) == 0) continue;
    // A security label (SELinux, IMA) is the security module's to give: a new file has the
    // one its policy gives it where the old label may not be copied.
    if (name.starts_with("security.")) continue;
    why = "The extended attribute " + name + " could not be kept: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : directory_(std::move(other.directory_)),
      name_(std::move(other.name_)),
      temporaryName_(std::move(other.temporaryName_)),
      temporary_(std::move(other.temporary_)),
      error_(std::move(other.error_)),
      fd_(std::exchange(other.fd_, -1)),
      dirFd_(std::exchange(other.dirFd_, -1)),
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
    fd_ = std::exchange(other.fd_, -1);
    dirFd_ = std::exchange(other.dirFd_, -1);
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
  dirFd_ = openRunDirectory(directory);
  struct stat dir;
  if (dirFd_ < 0 || ::fstat(dirFd_, &dir) != 0) {
    fail(errno);
    discard();
    return false;
  }

  struct stat st;
  const bool exists = ::fstatat(dirFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) fail(errno);
  if (exists) {
    // Everything that would make the rename at the end fail, or replace something that is not
    // this user's file to replace, or lose what the file is, is found now, before anything is
    // written.
    const uid_t me = ::geteuid();
    ReplacedFile replaced;
    if (S_ISDIR(st.st_mode)) {
      fail(EISDIR);
    } else if (!S_ISREG(st.st_mode)) {
      error_ = "Not a regular file";
    } else if (st.st_nlink > 1) {
      error_ =
          "File has " + std::to_string(st.st_nlink) + " hard links; replacing it would split them";
    } else if (::faccessat(dirFd_, name.c_str(), W_OK, AT_EACCESS) != 0) {
      fail(errno);
    } else if ((dir.st_mode & S_ISVTX) && me != st.st_uid &&
               ((dir.st_mode & S_IWOTH) || (me != 0 && me != dir.st_uid))) {
      // Where anyone may create files, a file of someone else may have been planted for this
      // run to write into: root and the directory's owner get no exception. Elsewhere the
      // sticky bit stops whom the kernel's rename would stop.
      error_ = "File belongs to another user in a sticky directory";
    } else if (st.st_uid != me && !hasCapability(CAP_CHOWN)) {
      error_ = ownerNotKept(st.st_uid);
    } else if (!readAttributes(dirFd_, name, replaced, error_)) {
      // error_ says why
    } else if (replaced.hasAccessControlList && !groupCanBeGiven(st.st_gid, dir)) {
      error_ = accessControlListNotKept(st.st_gid);
    }
  }
  if (!error_.empty()) {
    discard();
    return false;
  }
  directory_ = directory;
  name_ = name;
  dirDevice_ = dir.st_dev;
  dirInode_ = dir.st_ino;
  replacing_ = exists;
  removeAbandonedTemporaryFiles(dirFd_, name);
  const std::string random = randomPart();
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
  const int dirFd = ::open(directoryOf(file).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return std::nullopt;
  std::optional<FileTarget> target = targetIn(dirFd, name);
  ::close(dirFd);
  return target;
}

std::optional<FileTarget> AtomicFile::target() const {
  if (dirFd_ < 0 || name_.empty()) return std::nullopt;
  return targetIn(dirFd_, name_);
}

bool AtomicFile::create(mode_t newFileMode) {
  if (temporaryName_.empty() || fd_ >= 0) {
    if (error_.empty()) fail(EINVAL);
    return false;
  }
  // A new file gets the mode asked for; one that replaces a file is private until it gets the
  // replaced file's permissions at the end.
  const mode_t mode = replacing_ ? S_IRUSR | S_IWUSR : newFileMode;
  const int fd = ::openat(dirFd_, temporaryName_.c_str(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    fail(errno);
    discard();
    return false;
  }
  lockForRun(fd);
  fd_ = fd;
  return true;
}

void AtomicFile::closeDescriptors() {
  closeLockedForRun(fd_);
  fd_ = -1;
  if (dirFd_ >= 0) ::close(dirFd_);
  dirFd_ = -1;
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
  if (fd_ < 0) {
    if (error_.empty()) fail(EBADF);
    return false;
  }
  // On disk before it takes the name; a file system that cannot sync says so with EINVAL.
  if (::fsync(fd_) != 0 && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    return failBecause(std::strerror(errno));
  }

  ReplacedFile old;
  struct stat mine;
  if (::fstatat(dirFd_, name_.c_str(), &old.status, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(old.status.st_mode)) {
    std::string why;
    if (::fstat(fd_, &mine) != 0) return failBecause(std::strerror(errno));
    if (!readAttributes(dirFd_, name_, old, why) || !keepWhatItWas(fd_, mine, old, why)) {
      return failBecause(why);
    }
  }
  synced_ = true;
  return true;
}

bool AtomicFile::commit() {
  if (fd_ < 0) {
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
  if (::fstat(fd_, &written) != 0 ||
      ::fstatat(dirFd_, temporaryName_.c_str(), &temporary, AT_SYMLINK_NOFOLLOW) != 0 ||
      !sameFile(written, temporary)) {
    return failBecause(kTemporaryReplaced);
  }
  if (::renameat(dirFd_, temporaryName_.c_str(), dirFd_, name_.c_str()) != 0) {
    return failBecause(std::strerror(errno));
  }
  // The lock goes only now, with the descriptor, once the file has its final name.
  closeDescriptors();
  return true;
}

bool AtomicFile::removeTarget() {
  if (dirFd_ < 0) {
    if (error_.empty()) fail(EBADF);
    return false;
  }
  if (::unlinkat(dirFd_, name_.c_str(), 0) == 0) {
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
  if (fd_ >= 0 && ::fstat(fd_, &mine) == 0 &&
      ::fstatat(dirFd_, temporaryName_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
      sameFile(mine, named)) {
    ::unlinkat(dirFd_, temporaryName_.c_str(), 0);
  }
  closeDescriptors();
}

}  // namespace rowpress
