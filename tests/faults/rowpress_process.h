// The real rowpress executable as a child process for the fault tests: started with -silent
// in the ODBC world of the test (the fixture's environment, with changes), its standard
// output and error kept in files, its exit status or the signal that ended it reported.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rowpress::testing {

struct ChildResult {
  int exitStatus = -1;  // -1 when the child did not exit by itself
  int signal = 0;       // the signal that ended it, or 0
  std::string out;
  std::string err;
};

// Environment changes for a child: a value sets the variable, nothing removes it.
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

class RowpressProcess {
 public:
  // Output files go to `directory`.
  explicit RowpressProcess(std::string directory) : directory_(std::move(directory)) {}
  ~RowpressProcess();
  RowpressProcess(const RowpressProcess&) = delete;
  RowpressProcess& operator=(const RowpressProcess&) = delete;

  // Starts `ROWPRESS_BINARY args...` without a display and with standard input from
  // /dev/null. False when it could not be started.
  bool start(const std::vector<std::string>& args, const EnvironmentChanges& changes = {});
  pid_t pid() const { return pid_; }
  // Waits for the child and collects what it printed.
  ChildResult wait();
  // Sends `signal` to the child.
  void kill(int signal);
  // The child starts with `signal` ignored, as under nohup. Call before start().
  void ignoreAtStart(int signal) { ignored_.push_back(signal); }

 private:
  std::string directory_;
  pid_t pid_ = -1;
  std::vector<int> ignored_;
};

// Runs the executable to its end.
ChildResult runRowpress(const std::string& directory, const std::vector<std::string>& args,
                        const EnvironmentChanges& changes = {});

// Runs a /bin/sh script whose "$ROWPRESS" names the executable; its standard output and
// error are kept as the result's out and err. The script sees the test's environment.
ChildResult runScript(const std::string& directory, const std::string& script);

// A settings file for a job on `dataSource` with `sql` and extra lines (as `CSV="1";`).
std::string jobFileText(const std::string& dataSource, const std::string& sql,
                        const std::vector<std::string>& lines = {});

// The size of a file, or nothing when it does not exist.
std::optional<long long> fileSize(const std::string& path);

}  // namespace rowpress::testing
