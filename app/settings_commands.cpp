#include "app/settings_commands.h"

#include "app/job_controls.h"
#include "app/status_list.h"

namespace rowpress {

FileDialogSetup saveSettingsDialog() {
  FileDialogSetup setup;
  setup.title = "Save Settings to an DIRU File";
  setup.filters = {{"DIRU", "*.DIRU"}, {"All", "*.*"}};
  setup.promptOverwrite = true;
  // A name typed without an extension gets .DIRU, so that the load dialog shows the file.
  setup.filterExtension = true;
  return setup;
}

FileDialogSetup loadSettingsDialog() {
  FileDialogSetup setup;
  setup.filters = {{"DIRU", "*.DIRU"}, {"All", "*.*"}};
  setup.mustExist = true;
  return setup;
}

bool saveSettingsCommand(JobSettings& job, View& view) {
  auto path = view.chooseSaveFile(saveSettingsDialog());
  if (!path) {
    AddStatusLine(view, "Aborted File Save");
    return false;
  }
  SettingsSaveResult saved = saveSettingsFile(job, view, *path);
  AddStatusLine(view, (saved.written ? "saved to " : "not saved to ") + *path);
  // The error is a whole sentence that says what was not done and why.
  if (!saved.written) AddStatusLine(view, saved.error);
  for (const std::string& problem : saved.problems) AddStatusLine(view, problem);
  return saved.written;
}

bool loadSettingsCommand(JobSettings& job, View& view) {
  auto path = view.chooseOpenFile(loadSettingsDialog());
  if (!path) {
    AddStatusLine(view, "Aborted File Open ");
    return false;
  }
  SettingsLoadResult loaded = loadSettingsFile(job, view, *path);
  AddStatusLine(view, (loaded.opened ? "loaded from " : "not loaded from ") + *path);
  if (!loaded.opened) AddStatusLine(view, loaded.error);
  for (const std::string& problem : loaded.problems) AddStatusLine(view, problem);
  return loaded.opened;
}

}  // namespace rowpress
