// The files that a run keeps beside the file it replaces, and what is left of runs that are
// gone.
//
// Temporary names are ".NAME.rowpress-RANDOM.part": a random part of 12 letters and digits,
// created with O_EXCL. The run holds an exclusive flock on its temporary file through the
// descriptor it writes with, from creation until the file is renamed or removed. A leftover
// of a run that is gone is removed only when its lock can be taken and it is older than a
// few minutes (a run that has just created its file may not hold the lock yet).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "files/file_descriptor.h"

namespace rowpress {

// A leftover is abandoned only once it is this old (by its modification time).
inline constexpr int kAbandonedAfterSeconds = 5 * 60;
inline constexpr std::size_t kTemporaryRandomLength = 12;

// The directory part of `path` ("." for a bare name) and its last part.
std::string directoryOf(const std::string& path);
std::string baseNameOf(const std::string& path);
// Whether two statuses are of one file.
bool sameFile(const struct stat& a, const struct stat& b);

// The random part of a temporary name: kTemporaryRandomLength letters and digits from the
// kernel's random source.
std::string randomTemporaryPart();

// The temporary name used while replacing the file `path` (links already followed), with
// the random part `random`: ".NAME.rowpress-RANDOM.part" beside it, the name cut on a
// character boundary so that the whole fits in a file name of 255 bytes.
std::string temporaryNameFor(const std::string& path, std::string_view random);

// Opens the directory `path` as the one descriptor through which a run works in it: for
// reading where allowed (its leftovers are listed through it), else for paths only (a
// directory that the user may write to and enter but not list). -1, with errno, on failure.
int openRunDirectory(const std::string& path);

// Takes the run's exclusive lock on `fd`, a file that this process has just created and keeps
// open while the run needs it, and counts the file as this process's own, which no cleaner of
// this process takes for a leftover. Where the file system has no locks, nobody can take one,
// so nobody takes the file for a leftover either: the run goes on without.
void lockForRun(int fd);
// Closes a descriptor that lockForRun() locked; its lock goes with it.
void closeLockedForRun(int fd);

struct CloseLockedForRun {
  void operator()(int fd) const { closeLockedForRun(fd); }
};
// A descriptor that lockForRun() locked, which closes itself with closeLockedForRun().
using RunLockedDescriptor = BasicFileDescriptor<CloseLockedForRun>;

// What a leftover of a run looks like in a directory: its names, and whether only an empty
// file counts (a reserved name is empty until its run's file takes it).
struct LeftoverKind {
  std::function<bool(std::string_view name)> matches;
  bool emptyOnly = false;
};

// Removes the abandoned files of `kind` in the directory open as `directory`: regular files
// older than kAbandonedAfterSeconds whose lock can be taken. Files that this process holds
// (lockForRun) are never touched.
void removeAbandonedFiles(int directory, const LeftoverKind& kind);

// The work directory of a run beside its temporary file `temporaryPath`, where a library
// that writes the file keeps its own temporary files: the same name with ".d" in place of
// ".part" (".NAME.rowpress-RANDOM.d"). Its run holds a lock on it as on the temporary file.
std::string workDirectoryFor(const std::string& temporaryPath);

// Removes the abandoned temporary files and work directories in the directory open as
// `directory` (a work directory goes with the files in it): of the file named `forName`
// only, when it is not empty.
void removeAbandonedTemporaryFiles(int directory, const std::string& forName = {});

}  // namespace rowpress
