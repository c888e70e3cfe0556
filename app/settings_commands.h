// The "Save Settings" and "Load Previous" commands: a file dialog, the settings file, and
// one line in the status list.
#pragma once

#include "app/view.h"
#include "job/job_settings.h"

namespace rowpress {

// The dialogs' filters: "DIRU" (*.DIRU), then "All" (*.*).
FileDialogSetup saveSettingsDialog();
FileDialogSetup loadSettingsDialog();

// Each returns whether the file was written or read.
bool saveSettingsCommand(JobSettings& job, View& view);
bool loadSettingsCommand(JobSettings& job, View& view);

}  // namespace rowpress
