// Start-up: the defaults, the settings files and switches of the command line, the controls
// brought into line with the job, and the unattended run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/crowpress_dlg.h"

namespace rowpress {

// The default state of the job and the controls before the command line applies.
void applyDefaults(JobSettings& job, View& view);

// Reads the named settings files in order, then applies the switches, then shows the result
// in the controls. Returns the problems that the settings files reported.
std::vector<std::string> applyCommandLine(const CommandLine& line, JobSettings& job, View& view);

// Runs the fetch on the job as start-up left it; reports on `err` (message boxes as
// "CAPTION: TEXT", the lines of a failure) and the path of a kept file on `out`. Returns the exit
// status.
int runUnattended(CrowpressDlg& dialog, std::ostream& out, std::ostream& err);

}  // namespace rowpress
