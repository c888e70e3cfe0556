#include "files/replaced_file.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "files/file_descriptor.h"
#include "files/temporary_files.h"

namespace rowpress {

namespace {

constexpr int kMaxLinks = 40;  // as many links as the kernel follows in one path
constexpr char kAccessControlList[] = "system.posix_acl_access";

// Reads the extended attributes of the file `name` in the directory open as `directory`
// without opening the file: through /proc/self/fd, where the kernel finds the directory by
// its descriptor. Where /proc is missing, through a descriptor of the file.
class AttributeReader {
 public:
  AttributeReader(int directory, const std::string& name)
      : directory_(directory),
        name_(name),
        path_("/proc/self/fd/" + std::to_string(directory) + "/" + name) {}
  AttributeReader(const AttributeReader&) = delete;
  AttributeReader& operator=(const AttributeReader&) = delete;

  // The attributes' names; 0 or an errno value.
  int names(std::vector<std::string>& names) {
    std::string list;
    const int err = sized(list, [this](char* buffer, std::size_t size) {
      return fd_ ? ::flistxattr(fd_.get(), buffer, size)
                 : ::llistxattr(path_.c_str(), buffer, size);
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
      return fd_ ? ::fgetxattr(fd_.get(), attribute.c_str(), buffer, size)
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
        if (err != ENOENT || fd_ || !fallBack()) return err;
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
    fd_.reset(::openat(directory_, name_.c_str(), O_RDONLY | flags));
    if (!fd_ && errno == EACCES) fd_.reset(::openat(directory_, name_.c_str(), O_WRONLY | flags));
    if (!fd_) errno = ENOENT;
    return static_cast<bool>(fd_);
  }

  int directory_;
  std::string name_;
  std::string path_;
  FileDescriptor fd_;
};

// Whether an extended attribute of the replaced file goes to its new version besides the
// access control list: not a file capability, and none of the file system's own (system.*).
bool attributeIsKept(std::string_view name) {
  return name != "security.capability" && !name.starts_with("system.");
}

}  // namespace

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

namespace {

bool hasCapability(int capability) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return ::geteuid() == 0;
  return (data[capability / 32].effective & (1u << (capability % 32))) != 0;
}

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

}  // namespace

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

std::string whyNotReplaced(int directory, const std::string& name, const struct stat& st,
                           const struct stat& parent) {
  std::string why;
  const uid_t me = ::geteuid();
  ReplacedFile replaced;
  if (S_ISDIR(st.st_mode)) {
    why = std::strerror(EISDIR);
  } else if (!S_ISREG(st.st_mode)) {
    why = "Not a regular file";
  } else if (st.st_nlink > 1) {
    why = "File has " + std::to_string(st.st_nlink) + " hard links; replacing it would split them";
  } else if (::faccessat(directory, name.c_str(), W_OK, AT_EACCESS) != 0) {
    why = std::strerror(errno);
  } else if ((parent.st_mode & S_ISVTX) && me != st.st_uid &&
             ((parent.st_mode & S_IWOTH) || (me != 0 && me != parent.st_uid))) {
    // Where anyone may create files, a file of someone else may have been planted for this
    // run to write into: root and the directory's owner get no exception. Elsewhere the
    // sticky bit stops whom the kernel's rename would stop.
    why = "File belongs to another user in a sticky directory";
  } else if (st.st_uid != me && !hasCapability(CAP_CHOWN)) {
    why = ownerNotKept(st.st_uid);
  } else if (!readAttributes(directory, name, replaced, why)) {
    // readAttributes said why
  } else if (replaced.hasAccessControlList && !groupCanBeGiven(st.st_gid, parent)) {
    why = accessControlListNotKept(st.st_gid);
  }
  return why;
}

}  // namespace rowpress
