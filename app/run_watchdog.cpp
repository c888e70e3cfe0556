#include "app/run_watchdog.h"

#include "app/signal_stop.h"
#include "export/stop_request.h"

namespace rowpress {

std::string connectTimedOutLines(int seconds) {
  return "rowpress: did not connect\nrowpress: " + timedOutText(seconds) + "\n";
}

std::string statementTimedOutLine(int seconds) {
  return "SQL statement failed.: " + timedOutText(seconds) + "\n";
}

std::string startRunWatchdog(int seconds, bool summary) {
  return startStopTimeout(seconds, summary);
}

}  // namespace rowpress
