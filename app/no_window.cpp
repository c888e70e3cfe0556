// The interactive program of a build without the window (a server that only runs jobs):
// nothing opens, and the line says how to run a job instead.
#include <iostream>

#include "app/window.h"
#include "job/exit_status.h"

namespace rowpress {

int runMainWindow(int&, char**, const CommandLine&, StopRequest&, const OutsideCredentials&) {
  std::cerr << "rowpress: this rowpress was built without its window; run a job with -silent "
               "(see rowpress --help)\n";
  return exitStatusOf(RunOutcome::JobUnreadable);
}

}  // namespace rowpress
