// Where the output of a run goes: the default directory and the default names reserved in
// it, or the job's own file name.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "export/name_reservation.h"
#include "export/stop_request.h"
#include "files/atomic_file.h"
#include "job/job_settings.h"

namespace rowpress {

// $ROWPRESS_HOME when set and not empty, else $HOME/rowpress, else rowpress in the home
// directory of the user's password entry; empty when there is none of them (a service
// without HOME, run under a user id that the password database does not know) or when the
// variable that counts holds a relative path. Never a path relative to the working
// directory.
std::string defaultDirectory();

// Why defaultDirectory() is empty when no variable names a directory.
inline constexpr char kNoDefaultDirectory[] =
    "There is no default directory: neither ROWPRESS_HOME nor HOME is set and the user has "
    "no home directory in the password database";

// Why defaultDirectory() is empty: kNoDefaultDirectory, or the variable that holds a
// relative path.
std::string noDefaultDirectoryReason();

// The name of an output type as its check box says it: "XML", "CSV", "TSV", "HTML", "XLSX".
const char* outputTypeName(OutputType type);

// The line that says that the extension of `path` names another output type than `type` (.xls
// and .xml the XML workbook, .csv CSV or TSV, .tsv TSV, .htm and .html HTML, .xlsx the .xlsx
// workbook, case aside); nothing when it names `type`, no type or none. The file is still
// written as named: the name may be what a script expects.
std::optional<std::string> otherTypeNamed(std::string_view path, OutputType type);

// Whether a run of `job` with output `type` writes to a default name rather than the job's
// own file name (a 2007 workbook always takes a default name).
bool needsDefaultName(const JobSettings& job, OutputType type);

// The line that refuses a run whose output file, manifest or column type report would replace
// a file that the job was read from (the same file under any name, links followed), or whose
// files are not all distinct: two of them the same file (one name a link to another's target,
// a hard link, the same path); nothing when neither is so. A default output name is new, so
// only a named output can be such a file.
std::optional<std::string> runFilesInTheWay(const JobSettings& job, OutputType type);

// Two files of a run that are one file: `path`, and the earlier `other`.
struct SameFile {
  std::string path;
  std::string other;
  // Why `path` cannot be created: "it is the same file as OTHER, another file of this run".
  std::string reason() const;
};

// The first pair of `files` (paths and their targets) that are one file; nothing when all
// are distinct.
std::optional<SameFile> sameFileAmong(const std::vector<std::pair<std::string, FileTarget>>& files);

// The job's output file name with its placeholders filled in: "{date}" is the local date of
// `local` (YYYY-MM-DD), "{time}" its time (HHMMSS), "{NAME}" the value of the job's parameter
// NAME with every byte other than an ASCII letter, a digit, '-', '_' and '.' written as '_',
// so that a value never adds a directory or a hidden path. Any other braces stay as they are.
// `refusal` says why the name cannot be made: a parameter value that becomes ".", ".." or
// nothing.
struct ExpandedName {
  std::string name;
  std::optional<std::string> refusal;
};
ExpandedName expandOutputName(std::string_view name, const std::vector<JobParameter>& parameters,
                              const std::tm& local);

// Creates the default directory (and its parents); an existing one is fine.
bool createDefaultDirectory(const std::string& directory);

struct OutputPath {
  std::string path;          // empty when no path could be chosen
  std::string error;         // why, when path is empty
  std::string refused;       // the path that was refused for its length, when one was
  NameReservation reserved;  // the default name, when the path is one
};

// Creates the default directory and removes the abandoned temporary files and reservations
// in it, then
// chooses the output path by output type: the job's file name, or a default name
// "rowXXXX.TMP" with ".xls", ".xml" (excel2007), ".csv", ".html" or ".xlsx". A default name is
// reserved with its extension (O_EXCL); a name of which either form exists is skipped. While
// names are reserved and not yet listed with the run's files, `stop` waits for them.
OutputPath prepareOutputPath(const JobSettings& job, OutputType type, StopRequest& stop);

// Whether a run of `job` writes a file for each sheet: a report written as CSV or TSV.
bool writesFilePerSheet(const JobSettings& job, OutputType type);
// The file of sheet `sheet` of a report written to `path`: "-SHEET" before the extension that
// follows the file name's last '.' (month.csv: month-Orders.csv), or at the end without one.
std::string sheetFileName(std::string_view path, std::string_view sheet);
// prepareOutputPath() for every file of the run, in sheet order: for a CSV or TSV report the
// job's file name with each sheet's name (sheetFileName), or default names "rowXXXX.TMP-NAME.csv"
// reserved under one number; else the one path. A job with a manifest and a default name gets
// the manifest's name reserved under the same number as the last path. When no path can be
// made, the one path returned is empty and holds the error.
std::vector<OutputPath> prepareOutputPaths(const JobSettings& job, OutputType type,
                                           StopRequest& stop);

}  // namespace rowpress
