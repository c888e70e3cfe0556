// Replacing a file as a whole: the new content is written to a temporary file beside the file
// it replaces and renamed over it at the end, so the old file stays as it was until the new
// one is complete. Output files, the column type report and settings files are all written
// this way. A plain header that every subsystem may use, like the job record.
//
// A symbolic link is followed (chains and relative links too) and the file it points to is
// replaced; the link stays. A link that points nowhere creates the file it names. Once the
// links are followed, the directory of the file is opened, once, and everything after goes
// through that descriptor: the checks, the temporary file's creation and removal, the rename.
// A directory that is moved or replaced while the file is written cannot redirect any of it;
// the file is then not renamed at all, because its path no longer names where it was written.
//
// What the replaced file was carries over, in this order: its owner and group, its permission
// bits, its POSIX access control list, and its other extended attributes (never a file
// capability, which would give a program's rights to whatever the new file holds). Refused
// before anything is written: a directory or anything else that is not a regular file, a file
// the user may not write, a file with more than one hard link (replacing it would split the
// links), a file that belongs to another user in a sticky directory that anyone may write to
// (for root too: such a file may have been planted there) or that the sticky bit keeps the
// user from replacing, a file whose owner, or whose access control list, the new file could
// not keep, and a link in a sticky world-writable directory that belongs to someone else (the
// rule the kernel applies with protected_symlinks).
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "files/temporary_files.h"

namespace rowpress {

// Why a file is not replaced: its directory was moved or replaced while it was written.
inline constexpr char kDirectoryMoved[] =
    "Its directory was moved or replaced while the file was written";

// Why a file is not replaced: its temporary name was taken by another file during the run.
inline constexpr char kTemporaryReplaced[] = "The temporary file was replaced during the run";

// Where a replaced file goes: the directory and the name in it once the links are followed,
// and the file that the name leads to now, links followed, when there is one.
struct FileTarget {
  dev_t directoryDevice = 0;
  ino_t directoryInode = 0;
  std::string name;
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
};

// Whether two targets are one file: the same name in the same directory, or names that lead to
// the same file (a hard link, a link made after the names were followed). Writing both would
// leave one file holding what was written last.
bool sameTarget(const FileTarget& a, const FileTarget& b);

// The target of `path`, its links followed as AtomicFile follows them; nothing when the links
// cannot be followed or the directory is not there (opening the file says why).
std::optional<FileTarget> fileTargetOf(const std::string& path);

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile() { discard(); }
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Checks that the file `path` names can be replaced (or created) and creates the locked
  // temporary file beside it; abandoned leftovers for the same file are removed first.
  // `newFileMode` is the mode of a file that does not exist yet (the umask applies).
  // False, with error(), when the file cannot be replaced; nothing is created then.
  bool open(const std::string& path, mode_t newFileMode) {
    return prepare(path) && create(newFileMode);
  }
  // open() in two steps, for a caller that must know the temporary name before the file
  // exists: prepare() does everything but creating it, and sets temporaryPath() and
  // directoryDescriptor(); create() creates and locks it. The name is random and
  // unpredictable, so a name that exists already is an error.
  bool prepare(const std::string& path);
  bool create(mode_t newFileMode);

  bool isOpen() const { return static_cast<bool>(fd_); }
  // The descriptor of the temporary file, open for reading and writing; it holds the lock
  // and stays open until commit() or discard().
  int descriptor() const { return fd_.get(); }
  // The descriptor of the file's directory from prepare() until commit() or discard(), else -1.
  int directoryDescriptor() const { return dirFd_.get(); }
  // Empty when no temporary file is prepared or open.
  const std::string& temporaryPath() const { return temporary_; }
  // The target as it is now, found through the directory descriptor; nothing when no
  // temporary file is prepared or open.
  std::optional<FileTarget> target() const;
  // Why the file could not be replaced, as a short sentence without a final stop.
  const std::string& error() const { return error_; }

  // Writes the temporary file to disk, gives it what the replaced file was and renames it
  // over the target, unless the target's directory path no longer names the directory it was
  // written in. False, with error(), when that failed; the temporary file is then removed and
  // the target left as it was.
  bool commit();
  // The first half of commit(), for a caller that publishes several files together: writes
  // the file to disk and gives it what the replaced file was. False, with error(), when that
  // failed; the temporary file is then removed. commit() then only renames it.
  bool sync();
  // Removes the target itself, found through the directory descriptor, ahead of a commit that
  // may come too late or not at all: for a file that describes other files (a manifest), none
  // is better than one that lies. True when the target is gone or was never there; false, with
  // error(), when it could not be removed.
  bool removeTarget();
  // Whether removeTarget() removed a file.
  bool removedTarget() const { return removedTarget_; }
  // Removes the temporary file; the target is untouched.
  void discard();

 private:
  void fail(int err);
  // Removes the temporary file and records `why`; false, for the caller to return.
  bool failBecause(std::string why);
  void closeDescriptors();

  std::string directory_;  // the path of the target's directory, links followed
  std::string name_;       // the target's name in it
  std::string temporaryName_;
  std::string temporary_;  // directory_ and temporaryName_
  std::string error_;
  RunLockedDescriptor fd_;
  FileDescriptor dirFd_;
  dev_t dirDevice_ = 0;
  ino_t dirInode_ = 0;
  bool replacing_ = false;  // the target exists
  bool synced_ = false;     // sync() is done
  bool removedTarget_ = false;
};

}  // namespace rowpress
