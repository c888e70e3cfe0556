// Programs started by tests, the real rowpress executable above all: an argument vector (no
// shell in between), standard input from /dev/null, standard output and error kept in
// files (or any descriptor the test gives, or none), the environment of the test with
// changes, every signal at its default action unless the test ignores it, the exit status or
// the signal that ended the child, and waits that end at a deadline. Also the few shell
// helpers that tests use to drive other programs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rowpress::support {

struct ChildResult {
  int exitStatus = -1;    // -1 when the child did not exit by itself
  int signal = 0;         // the signal that ended it, or 0
  bool timedOut = false;  // it was killed because its time ran out
  long peakKiB = 0;       // the child's peak resident memory, as wait4 reports it
  std::string out;
  std::string err;
};

// Environment changes for a child: a value sets the variable, nothing removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// The test's environment with `changes`, as NAME=VALUE entries.
std::vector<std::string> environmentWith(const EnvironmentChanges& changes);

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
  // Starts argv[0] with exactly `environment` as its environment block, in that order: a
  // name may stand in it more than once, as a program started by another can find it.
  bool startWithEnvironment(const std::vector<std::string>& argv,
                            std::vector<std::string> environment);
  // Starts `ROWPRESS_BINARY args...` without a display.
  bool startRowpress(const std::vector<std::string>& args, const EnvironmentChanges& changes = {});
  // The child starts with `signal` ignored, as under nohup. Call before start().
  void ignoreAtStart(int signal) { ignored_.push_back(signal); }
  // The child gets `fd` of this process as its descriptor `target` (0, 1 or 2) instead of
  // /dev/null or its output file, or starts with `target` closed when `fd` is -1. Call
  // before start(); what the child printed there is then not in out() or err().
  void giveDescriptor(int target, int fd) { given_[target] = fd; }

  pid_t pid() const { return pid_; }
  // Whether the child still runs; an ended child is reaped here.
  bool running();
  // How many threads the child runs now, as /proc tells it; -1 when it cannot be read.
  int threads() const;
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
  long peakKiB_ = 0;           // and its peak resident memory
  std::vector<int> ignored_;
  std::map<int, int> given_;  // descriptor of the child: descriptor of this process, or -1
};

// A point where the executable waits for the test (see files/pause_point.h): a FIFO in a
// directory of the test, and the variable that names it to a child. The test knows that the
// child has arrived when it can open the FIFO for writing, changes what it wants to change,
// and lets the child go on by closing it.
class PausePoint {
 public:
  PausePoint(const std::string& directory, const std::string& point);
  // Lets a child still waiting go on, and removes the FIFO, so that the point can be made
  // again.
  ~PausePoint();
  PausePoint(const PausePoint&) = delete;
  PausePoint& operator=(const PausePoint&) = delete;

  // The change to a child's environment that has it wait at the point.
  EnvironmentChanges environment() const;
  // Waits until `child` waits at the point: true; false when the child ended first or
  // `limit` passed.
  bool waitUntilReached(ChildProcess& child,
                        std::chrono::milliseconds limit = std::chrono::seconds(60));
  // The same for a run in this process, which goes on while `going` says so.
  bool waitUntilReached(const std::function<bool()>& going,
                        std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Lets the child go on.
  void release();
  // Lets the child go on each time it reaches the point again, until it has ended.
  void releaseUntilEnded(ChildProcess& child);

 private:
  std::string point_;
  std::string fifo_;
  int fd_ = -1;
};

// The environment changes under which a child's peak memory counts what it holds: in the
// sanitizer build, freed memory would otherwise wait in a quarantine and count.
EnvironmentChanges forPeakMemory();

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

// The standard error of an unattended run without its summary line, which holds the time the
// run took, and the notes after it. Fails the test when the last line before the notes is not a
// summary line.
std::string withoutSummary(const std::string& err);

// Single-quotes `text` for /bin/sh.
std::string shellQuote(const std::string& text);

// Runs `command` with /bin/sh; returns its exit status, or -1 when it did not exit.
int runShell(const std::string& command);

}  // namespace rowpress::support
