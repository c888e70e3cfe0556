// Saving the job to a settings (DIRU) file and loading it back. Saving writes the file (a new
// one can be read by its owner only) and reads it back to name every setting that would not
// load back as saved. Loading applies each setting found to the job and says what it applied,
// for the window to show.
#pragma once

#include <string>
#include <vector>

#include "job/job_settings.h"
#include "settings/settings_reader.h"

namespace rowpress {

struct SettingsSaveResult {
  bool written = false;  // the file now holds the job; an old file is replaced only then
  std::string error;     // why the file was not written
  // Lines for the status list after the path: one for each setting that will not load back
  // as it was saved.
  std::vector<std::string> problems;
};

struct SettingsLoadResult {
  bool opened = false;  // false: nothing changed
  std::string error;    // why the file could not be read
  // The file could be read but holds no line with a key of a job: it is not a settings file.
  bool holdsNoSettings = false;
  // Lines for the status list after the path: one for each setting that was refused.
  std::vector<std::string> problems;
  // The settings that changed the job, in file order, for the controls.
  std::vector<AppliedSetting> shown;
};

// Writes `job` to the file at `path`. The file is written beside its target under a
// temporary name and renamed over it, so a failed save leaves neither a partial file nor a
// damaged old one; a new file gets permissions 0600, a replaced one keeps its own, and a
// link is followed (see AtomicFile). A password that would not load back is not written: its
// value is left empty.
SettingsSaveResult saveSettings(const JobSettings& job, const std::string& path);

// Reads the file at `path` and applies its settings to `job`; before the first setting the
// output type goes back to the workbook. Only a regular file is read (anything else is
// refused without waiting for it), and the whole file is read before anything is applied: a
// file that cannot be read, or fails to read halfway, changes nothing. Refused values (over a
// limit of the job record, holding a NUL byte, a password that is not scrambled), an SQL text
// without its closing pair and a line over the line limit, which ends the reading, are named
// in `problems`. A file that holds no key of a job changes nothing (`holdsNoSettings`).
SettingsLoadResult loadSettings(JobSettings& job, const std::string& path);

// The SQL text as it loads back after a save: each line but the last gains two spaces.
std::string sqlAsLoadedBack(const std::string& sql);

}  // namespace rowpress
