// The interactive program's entry, as the executable sees it: the Qt window (app/qt/) where
// rowpress is built with its window, app/no_window.cpp where it is built without.
#pragma once

#include "app/command_line.h"
#include "app/credentials.h"
#include "export/stop_request.h"

namespace rowpress {

// The interactive program: the application object, the window with the dialog logic on it,
// start-up from the command line (settings files and switches; their problems go to the
// status list), then the window until it is closed; its fetches answer `stop`. Returns the
// exit status.
int runMainWindow(int& argc, char** argv, const CommandLine& line, StopRequest& stop,
                  const OutsideCredentials& outside = {});

}  // namespace rowpress
