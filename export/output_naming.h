// Where the output of a run goes, how it is written safely, and how the finished file is
// handed to the program that shows it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/job_settings.h"
#include "export/output_file.h"

namespace rowpress {

// $ROWPRESS_HOME when set and not empty, else $HOME/rowpress.
std::string defaultDirectory();

// Creates the default directory (and its parents); an existing one is fine.
bool createDefaultDirectory(const std::string& directory);

struct OutputPath {
  std::string path;   // empty when no path could be chosen
  std::string error;  // why, when path is empty
};

// Reserves a unique name "rowXXXX.TMP" in the default directory (created first), removes it
// again and chooses the output path by output type: the job's file name, or the unique name
// with ".xls", ".xml" (excel2007), ".csv" or ".html".
OutputPath prepareOutputPath(const JobSettings& job, OutputType type);

// The output file of one run. It is written under a temporary name beside its target and
// renamed over the target only when the run keeps it, so a failing run, a run without rows
// or a crash never empties or deletes a file that already had the target's name.
// Temporary names look like ".NAME.rowpress-PID.part"; leftovers of runs that died are
// removed when a later run writes the same target.
class OutputTarget {
 public:
  OutputTarget() = default;
  ~OutputTarget() { discard(); }
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  // Opens the temporary file for `path`. False (and error()) when it cannot be created.
  bool open(const std::string& path);
  OutputFile& file() { return file_; }
  const std::string& path() const { return path_; }
  const std::string& temporaryPath() const { return temporary_; }
  // The reason the file could not be created or written.
  std::string error() const;

  // Closes and renames the file over the target. False when a write, the close or the
  // rename failed; the temporary file is then removed and the target left as it was.
  bool keep();
  // Closes and removes the temporary file; the target is untouched.
  void discard();

 private:
  std::string path_;
  std::string temporary_;
  OutputFile file_;
  int error_ = 0;
};

// The temporary name used while writing `path`, for the process `pid`.
std::string temporaryNameFor(const std::string& path, long pid);

// Splits an application text into words as a shell would, without expanding anything:
// blanks separate words, single and double quotes group, a backslash escapes outside
// single quotes.
std::vector<std::string> splitCommandWords(std::string_view text);

// The program and arguments that open `path`: the job's application with the path as its
// last argument; for HTML without an application `xdg-open`; otherwise the spreadsheet
// program (`libreoffice --calc` when on the PATH, else `xdg-open`). Empty when noAutoOpen.
std::vector<std::string> viewerCommand(const JobSettings& job, OutputType type,
                                       const std::string& path);

// Starts the viewer without a shell, in a session of its own, and waits only until it has
// been started. A launch that fails is ignored.
void launchViewer(const JobSettings& job, OutputType type, const std::string& path);

}  // namespace rowpress
