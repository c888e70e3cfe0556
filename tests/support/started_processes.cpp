#include "tests/support/started_processes.h"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "tests/support/test_files.h"

namespace rowpress::support {

namespace {

// The running children of this process, from /proc/self/task/TID/children.
std::vector<pid_t> runningChildren() {
  std::vector<pid_t> children;
  for (const std::string& task : listDirectory("/proc/self/task")) {
    std::istringstream pids(readFile("/proc/self/task/" + task + "/children"));
    pid_t pid;
    while (pids >> pid) children.push_back(pid);
  }
  return children;
}

std::string commandOf(pid_t pid) {
  std::string command = readFile("/proc/" + std::to_string(pid) + "/cmdline");
  for (char& c : command) {
    if (c == '\0') c = ' ';
  }
  while (!command.empty() && command.back() == ' ') command.pop_back();
  return command;
}

}  // namespace

StartedProcesses::StartedProcesses() {
  ::prctl(PR_GET_CHILD_SUBREAPER, &before_);
  active_ = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
}

StartedProcesses::~StartedProcesses() {
  collect();
  if (active_) ::prctl(PR_SET_CHILD_SUBREAPER, before_);
}

std::vector<std::string> StartedProcesses::collect() {
  std::vector<std::string> found;
  while (true) {
    // Each is named while it still has a command line (one that ended has none), then
    // ended and reaped.
    for (pid_t pid : runningChildren()) {
      const std::string command = commandOf(pid);
      found.push_back(std::to_string(pid) + " (" + (command.empty() ? "ended" : command) + ")");
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    // Then any that /proc did not list; waitpid fails with ECHILD once no child is left.
    pid_t pid;
    while ((pid = ::waitpid(-1, nullptr, WNOHANG)) > 0)
      found.push_back(std::to_string(pid) + " (ended)");
    if (pid < 0 && errno == EINTR) continue;
    if (pid < 0) return found;
    // A child that runs and was not listed: one that came since, or /proc does not list
    // children at all.
    if (runningChildren().empty()) {
      found.push_back("a running child that /proc does not list");
      return found;
    }
  }
}

}  // namespace rowpress::support
