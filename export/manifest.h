// The manifest of a run: a JSON account beside the output ("PATH.manifest.json") of what the
// file holds and where it came from (the data source, a digest of the SQL, the times, the rows,
// the file's size and SHA-256, the columns and the values changed to fit it), for whoever
// checks or archives the file without opening it.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/value_account.h"
#include "job/job_settings.h"

namespace rowpress {

// The manifest of `path`: "PATH.manifest.json".
std::string manifestPathFor(const std::string& path);

// The SHA-256 of `data`, in lower-case hexadecimal.
std::string sha256Hex(std::string_view data);

// One file the run published: its path, size and SHA-256.
struct ManifestFile {
  std::string path;
  long long bytes = 0;
  std::string sha256;
};

// Reads the file at `path` to its end: its size and SHA-256; nothing, with `error`, when it
// cannot be read.
std::optional<ManifestFile> digestFile(const std::string& path, std::string& error);

// What the manifest says of a run.
struct ManifestRun {
  const JobSettings* job = nullptr;
  std::chrono::system_clock::time_point started, finished;
  const std::vector<SheetAccount>* sheets = nullptr;  // one, unnamed, for a job of one query
  long long rows = 0;
  // The files, in sheet order: one, or a file per sheet of a CSV or TSV report.
  std::vector<ManifestFile> files;
  // The session's time zone as the database reported it; empty when the job set none.
  std::string timeZone;
};

// The manifest's JSON text. A name that is no valid UTF-8 (a column's, from the driver) has
// its invalid bytes replaced, never refused.
std::string manifestText(const ManifestRun& run);

// A time as UTC ISO 8601 with milliseconds: "2026-12-09T16:45:03.125Z".
std::string isoUtc(std::chrono::system_clock::time_point time);

}  // namespace rowpress
