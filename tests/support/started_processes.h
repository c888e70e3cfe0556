// What the children of a test started behind its back. While a StartedProcesses lives, the
// test process is a child subreaper: every process that a child of the test starts and
// leaves behind, detached or forked twice, becomes a child of the test process when its
// parent ends. Once the test has waited for its own children, what is still a child of the
// test process was started by them, running or ended; when nothing is, nothing was started,
// and no wait can be too short to see it.
#pragma once

#include <string>
#include <vector>

namespace rowpress::support {

class StartedProcesses {
 public:
  StartedProcesses();
  // Ends and reaps what is left, and gives the test process back its former setting. Make
  // it before the test's own ChildProcess objects, so that they end their children first.
  ~StartedProcesses();
  StartedProcesses(const StartedProcesses&) = delete;
  StartedProcesses& operator=(const StartedProcesses&) = delete;

  // Whether the test process could become a subreaper.
  bool active() const { return active_; }

  // The children of the test process, each as "PID (command)" or "PID (ended)": the ones
  // that ended are reaped, the running ones are killed and reaped. Call it when every child
  // that the test started itself was waited for.
  std::vector<std::string> collect();

 private:
  bool active_ = false;
  int before_ = 0;
};

}  // namespace rowpress::support
