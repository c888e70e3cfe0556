// How the finished file is handed to the program that shows it: the viewer's command and
// the launch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "job/job_settings.h"

namespace rowpress {

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

// What starts the viewer's command. The real one spawns it; tests record the command.
class Launcher {
 public:
  virtual ~Launcher() = default;
  virtual void start(const std::vector<std::string>& command) = 0;
};

// Starts a command without a shell, in a session of its own, with /dev/null as its standard
// input, output and error and no signal blocked, and waits only until it has been started.
// A launch that fails is ignored.
Launcher& processLauncher();

// Hands `path` to the viewer that viewerCommand names, through `launcher`; nothing when
// noAutoOpen.
void launchViewer(const JobSettings& job, OutputType type, const std::string& path,
                  Launcher& launcher = processLauncher());

}  // namespace rowpress
