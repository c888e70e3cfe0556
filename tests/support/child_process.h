// Programs started by tests, the real rowpress executable above all: an argument vector (no
// shell in between), standard input from /dev/null, standard output and error kept in
// files, the environment of the test with changes, the exit status or the signal that
// ended the child, and waits that end at a deadline. Also the few shell helpers that tests
// use to drive other programs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rowpress::testing {

struct ChildResult {
  int exitStatus = -1;    // -1 when the child did not exit by itself
  int signal = 0;         // the signal that ended it, or 0
  bool timedOut = false;  // it was killed because its time ran out
  std::string out;
  std::string err;
};

// Environment changes for a child: a value sets the variable, nothing removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// No deadline: wait as long as the child runs.
inline constexpr std::chrono::milliseconds kNoLimit = std::chrono::milliseconds::max();

// One child process. Its standard output and error go to DIRECTORY/child.stdout and
// DIRECTORY/child.stderr; a child still running when the object goes is killed and reaped.
class ChildProcess {
 public:
  explicit ChildProcess(std::string directory) : directory_(std::move(directory)) {}
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (a path) with the test's environment changed by `changes`. False when
  // it could not be started.
  bool start(const std::vector<std::string>& argv, const EnvironmentChanges& changes = {});
  // Starts `ROWPRESS_BINARY args...` without a display.
  bool startRowpress(const std::vector<std::string>& args, const EnvironmentChanges& changes = {});
  // The child starts with `signal` ignored, as under nohup. Call before start().
  void ignoreAtStart(int signal) { ignored_.push_back(signal); }

  pid_t pid() const { return pid_; }
  // Whether the child still runs; an ended child is reaped here.
  bool running();
  // Sends `signal` to the child while it runs.
  void kill(int signal);
  // Waits for the end and collects what the child printed. When `limit` passes first, the
  // child is killed and the result says it timed out.
  ChildResult wait(std::chrono::milliseconds limit = kNoLimit);

  // What the child printed so far.
  std::string out() const;
  std::string err() const;

 private:
  std::string directory_;
  pid_t pid_ = -1;
  std::optional<int> status_;  // the wait status once the child was reaped
  std::vector<int> ignored_;
};

// The pause points of a test build of the executable (export/pause_point.h): a FIFO that a
// child started with environment() writes the name of each point to, and then waits on until
// resume(). The test changes the world in between.
class TestPause {
 public:
  // Makes the FIFO `fifo`; fails the test when it cannot.
  explicit TestPause(std::string fifo);
  ~TestPause();
  TestPause(const TestPause&) = delete;
  TestPause& operator=(const TestPause&) = delete;

  EnvironmentChanges environment() const { return {{"ROWPRESS_TEST_PAUSE", fifo_}}; }
  // Waits until `child` stands at a pause point and returns its name; fails the test and
  // returns "" when the child ends or `limit` passes first.
  std::string waitForPoint(ChildProcess& child,
                           std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Lets the child go on from the point it stands at.
  void resume(std::chrono::milliseconds limit = std::chrono::seconds(60));

 private:
  std::string fifo_;
  int reader_ = -1;
};

// Runs a program to its end within `limit`, its output kept in a scratch directory.
ChildResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                       const EnvironmentChanges& changes = {});

// Runs the executable to its end without a display; its output files go to `directory`.
ChildResult runRowpress(const std::string& directory, const std::vector<std::string>& args,
                        const EnvironmentChanges& changes = {},
                        std::chrono::milliseconds limit = kNoLimit);

// Runs a /bin/sh script whose "$ROWPRESS" names the executable, without a display; its
// output files go to `directory`. The script sees the test's environment.
ChildResult runScript(const std::string& directory, const std::string& script);

// A settings file for a job on `dataSource` with `sql` and extra lines (as `CSV="1";`).
std::string jobFileText(const std::string& dataSource, const std::string& sql,
                        const std::vector<std::string>& lines = {});

// The full path of `program` on the PATH, or empty when it is not there.
std::string findProgram(const std::string& program);

// The standard error of an unattended run without its last line, the summary line, which
// holds the time the run took. Fails the test when the last line is not a summary line.
std::string withoutSummary(const std::string& err);

// Single-quotes `text` for /bin/sh.
std::string shellQuote(const std::string& text);

// Runs `command` with /bin/sh; returns its exit status, or -1 when it did not exit.
int runShell(const std::string& command);

}  // namespace rowpress::testing
