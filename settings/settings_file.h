// Saving the job to a settings (DIRU) file and loading it back, with the window's controls.
// Saving takes the job from the controls, writes the file (a new one can be read by its
// owner only), and reads it back to name every setting that would not load back as saved.
// Loading applies each setting found to the job and to the controls.
#pragma once

#include <string>
#include <vector>

#include "app/view.h"
#include "job/job_settings.h"

namespace rowpress {

struct SettingsSaveResult {
  bool written = false;  // the file now holds the job; an old file is replaced only then
  std::string error;     // why the file was not written
  // Lines for the status list after the path: one for each setting that will not load back
  // as it was saved.
  std::vector<std::string> problems;
};

struct SettingsLoadResult {
  bool opened = false;  // false: nothing changed, neither the job nor the controls
  std::string error;    // why the file could not be read
  // Lines for the status list after the path: one for each setting that was refused.
  std::vector<std::string> problems;
};

// Takes the job from the controls into `job` (the data source from the selected entry of the
// data source list, none when nothing is selected; the texts from their boxes; the flags
// from their check boxes), then writes the file at `path`. The file is written beside its
// target under a temporary name and renamed over it, so a failed save leaves neither a
// partial file nor a damaged old one; a new file gets permissions 0600, a replaced one keeps
// its own, and a link is followed (see AtomicFile). A password that would not load back
// is not written: its value is left empty.
SettingsSaveResult saveSettingsFile(JobSettings& job, View& view, const std::string& path);

// Reads the file at `path` and applies its settings to `job` and the controls. Before the
// first setting the data source list is emptied and the output type goes back to the
// workbook. Only a regular file is read (anything else is refused without waiting for it),
// and the whole file is read before anything is applied: a file that cannot be read, or
// fails to read halfway, changes nothing. Refused values (over a limit of the job record,
// holding a NUL byte, a password that is not scrambled) and a line over the line limit,
// which ends the reading, are named in `problems`.
SettingsLoadResult loadSettingsFile(JobSettings& job, View& view, const std::string& path);

// The SQL text as it loads back after a save: each line but the last gains two spaces.
std::string sqlAsLoadedBack(const std::string& sql);

}  // namespace rowpress
