// Where the output of a run goes, how it is written safely, and how the finished file is
// handed to the program that shows it.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "job/atomic_file.h"
#include "job/job_settings.h"
#include "export/output_file.h"
#include "export/stop_request.h"

namespace rowpress {

// $ROWPRESS_HOME when set and not empty, else $HOME/rowpress.
std::string defaultDirectory();

// Creates the default directory (and its parents); an existing one is fine.
bool createDefaultDirectory(const std::string& directory);

// The default name reserved for one run: the empty file "rowXXXX.TMP.ext" that the run
// created, so that no other run takes the name. Unless the run keeps its file under that
// name (release()), it is removed again, and only while it is still the empty file the run
// created.
class NameReservation {
 public:
  NameReservation() = default;
  // Known to the stop request until it is released or removed.
  NameReservation(std::string path, dev_t device, ino_t inode);
  ~NameReservation() { remove(); }
  NameReservation(NameReservation&& other) noexcept;
  NameReservation& operator=(NameReservation&& other) noexcept;
  NameReservation(const NameReservation&) = delete;
  NameReservation& operator=(const NameReservation&) = delete;

  const std::string& path() const { return path_; }
  // The name now holds the run's file: nothing is removed.
  void release();
  void remove();

 private:
  std::string path_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

struct OutputPath {
  std::string path;          // empty when no path could be chosen
  std::string error;         // why, when path is empty
  NameReservation reserved;  // the default name, when the path is one
};

// Creates the default directory and removes the abandoned temporary files in it, then
// chooses the output path by output type: the job's file name, or a default name
// "rowXXXX.TMP" with ".xls", ".xml" (excel2007), ".csv" or ".html". A default name is
// reserved with its extension (O_EXCL); a name of which either form exists is skipped.
OutputPath prepareOutputPath(const JobSettings& job, OutputType type);

// The output file of one run. It is written under a temporary name beside its target and
// renamed over the target only when the run keeps it, so a failing run, a run without rows
// or a crash never empties or deletes a file that already had the target's name. What can
// stop the replacement is found when the file is opened, before the statement runs (see
// AtomicFile: directories, files the user may not write, hard links, sticky directories).
class OutputTarget {
 public:
  OutputTarget() = default;
  ~OutputTarget() { discard(); }
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  // Opens the temporary file for `path`. False (and error()) when the target cannot be
  // replaced or the file cannot be created. A reserved default name is removed again unless
  // the file is kept.
  bool open(const std::string& path, NameReservation reserved = {});
  OutputFile& file() { return file_; }
  const std::string& path() const { return path_; }
  const std::string& temporaryPath() const { return atomic_.temporaryPath(); }
  // The reason the file could not be created or written.
  std::string error() const;

  // Closes and renames the file over the target. False when a write, the close or the
  // rename failed; the temporary file is then removed and the target left as it was.
  bool keep();
  // Closes and removes the temporary file; the target is untouched.
  void discard();

 private:
  std::string path_;
  // The temporary file is known to the stop request from before it is created until it has
  // been renamed or removed.
  RegisteredTemporary registered_;
  AtomicFile atomic_;
  OutputFile file_;
  NameReservation reserved_;
  std::string error_;
};

// Splits an application text into words as a shell would, without expanding anything:
// blanks separate words, single and double quotes group, a backslash escapes outside
// single quotes.
std::vector<std::string> splitCommandWords(std::string_view text);

// The program and arguments that open `path`: the job's application with the path as its
// last argument; for HTML without an application `xdg-open`; otherwise the spreadsheet
// program (`libreoffice --calc` when on the PATH, else `xdg-open`). A relative path that
// begins with "-" is given as "./-..." so that it is not taken for an option. Empty when
// noAutoOpen.
std::vector<std::string> viewerCommand(const JobSettings& job, OutputType type,
                                       const std::string& path);

// Starts the viewer without a shell, in a session of its own, with /dev/null as its standard
// input, output and error and no signal blocked, and waits only until it has been started.
// A launch that fails is ignored.
void launchViewer(const JobSettings& job, OutputType type, const std::string& path);

}  // namespace rowpress
