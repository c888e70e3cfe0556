// Replacing a file as a whole: the new content is written to a temporary file beside the file
// it replaces and renamed over it at the end, so the old file stays as it was until the new
// one is complete. Output files, the column type report and settings files are all written
// this way. A plain header that every subsystem may use, like the job record.
//
// What the replaced file was carries over: its permission bits, and its owner and group
// where the user may set them. A symbolic link is followed (chains and relative links too)
// and the file it points to is replaced; the link stays. A link that points nowhere creates
// the file it names. Refused before anything is written: a directory or anything else that
// is not a regular file, a file the user may not write, a file with more than one hard link
// (replacing it would split the links), a file that the directory's sticky bit keeps the
// user from replacing, and a link in a sticky world-writable directory that belongs to
// someone else (the rule the kernel applies with protected_symlinks).
//
// Temporary names are ".NAME.rowpress-RANDOM.part": a random part of 12 letters and digits,
// created with O_EXCL. The run holds an exclusive flock on its temporary file through the
// descriptor it writes with, from creation until the file is renamed or removed. A leftover
// of a run that is gone is removed only when its lock can be taken and it is older than a
// few minutes (a run that has just created its file may not hold the lock yet).
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace rowpress {

// A leftover is abandoned only once it is this old (by its modification time).
inline constexpr int kAbandonedAfterSeconds = 5 * 60;
inline constexpr std::size_t kTemporaryRandomLength = 12;

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
  // exists: prepare() does everything but creating it, and sets temporaryPath(); create()
  // creates and locks it. The name is random and unpredictable, so a name that exists
  // already is an error.
  bool prepare(const std::string& path);
  bool create(mode_t newFileMode);

  bool isOpen() const { return fd_ >= 0; }
  // The descriptor of the temporary file, open for reading and writing; it holds the lock
  // and stays open until commit() or discard().
  int descriptor() const { return fd_; }
  // Empty when no temporary file is open.
  const std::string& temporaryPath() const { return temporary_; }
  // Why the file could not be replaced, as a short sentence without a final stop.
  const std::string& error() const { return error_; }

  // Writes the temporary file to disk, gives it what the replaced file was and renames it
  // over the target. False, with error(), when that failed; the temporary file is then
  // removed and the target left as it was.
  bool commit();
  // Removes the temporary file; the target is untouched.
  void discard();

 private:
  void fail(int err);
  void closeDescriptor();

  std::string target_;
  std::string temporary_;
  std::string error_;
  int fd_ = -1;
  bool replacing_ = false;  // the target exists
};

// The temporary name used while replacing the file `path` (links already followed), with
// the random part `random`: ".NAME.rowpress-RANDOM.part" beside it, the name cut on a
// character boundary so that the whole fits in a file name of 255 bytes.
std::string temporaryNameFor(const std::string& path, std::string_view random);

// The work directory of a run beside its temporary file `temporaryPath`, where a library
// that writes the file keeps its own temporary files: the same name with ".d" in place of
// ".part" (".NAME.rowpress-RANDOM.d"). Its run holds a lock on it as on the temporary file.
std::string workDirectoryFor(const std::string& temporaryPath);

// Removes the abandoned temporary files in `directory`: names of rowpress's temporary
// files and work directories (for the file named `forName` only, when it is not empty) that
// are older than kAbandonedAfterSeconds and whose lock can be taken; a work directory goes
// with the files in it. Temporary files of this process are never touched.
void removeAbandonedTemporaryFiles(const std::string& directory, const std::string& forName = {});

}  // namespace rowpress
