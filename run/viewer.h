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

// Whether every quote that `text` opens is closed, as splitCommandWords reads it.
bool quotesClosed(std::string_view text);

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
  // Why the command could not be started ("No such file or directory"); empty when it was.
  virtual std::string start(const std::vector<std::string>& command) = 0;
  // For a launcher that watches its viewers: the read end of a pipe that gives the viewer
  // last started its wait status (an int, as waitpid gives it) when the viewer ends soon after
  // its start, and closes without it otherwise. The caller owns it; -1 when nothing watches.
  virtual int takeEndWatch() { return -1; }
};

// Starts a command without a shell, in a session of its own, with /dev/null as its standard
// input, output and error and no signal blocked, and waits only until it has been started:
// until its program runs, or failed to. SIGPIPE and SIGXFSZ are as rowpress found them at
// start (see ignoreWriteSignals).
Launcher& processLauncher();
// The same, watching each viewer for its first seconds (see takeEndWatch): for the window,
// which says when a viewer gave up at once.
Launcher& watchingLauncher();

// What the window says of a viewer that ended with `status` (from waitpid) soon after its
// start: "VIEWER ended with status N", "VIEWER ended by signal N"; empty when it ended well.
std::string viewerEndLine(const std::string& viewer, int status);

// Hands `path` to the viewer that viewerCommand names, through `launcher`; nothing when
// noAutoOpen. Returns "could not start VIEWER: REASON" when the viewer could not be started,
// VIEWER being the program as the command names it; empty otherwise.
std::string launchViewer(const JobSettings& job, OutputType type, const std::string& path,
                         Launcher& launcher = processLauncher());

// SIGPIPE and SIGXFSZ end a process that writes to a pipe nobody reads or past its file size
// limit. rowpress ignores both, so that such a write fails and is reported like any other,
// and remembers which of them had their default action, so that the viewer gets that back.
// Call it first in main, before any other thread exists.
void ignoreWriteSignals();

}  // namespace rowpress
