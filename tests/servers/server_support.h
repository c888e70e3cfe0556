// What the server tests need besides the ODBC fixture: the connection facts of the database
// servers that tests/servers/start.sh started, programs run with a time limit, and a
// watchdog that ends a test process that hangs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace rowpress::testing {

// The KEY=VALUE lines that start.sh wrote: ports, socket directories, the login role and
// its password, the ODBC driver libraries.
class ServerFacts {
 public:
  static ServerFacts load(const std::string& path);

  bool loaded() const { return error_.empty(); }
  // Why the facts could not be read.
  const std::string& error() const { return error_; }
  // The value of `key`; empty when it is absent.
  std::string operator[](const std::string& key) const;
  // The keys among `keys` that are absent or empty.
  std::vector<std::string> missing(const std::vector<std::string>& keys) const;

 private:
  std::map<std::string, std::string> values_;
  std::string error_;
};

// The facts of this build's servers, read once per process.
const ServerFacts& serverFacts();

// A program started by a test, with standard input from /dev/null and standard output and
// error into files. A child still running when the object goes is killed and reaped.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the program's path. False when the process could not be started.
  bool start(const std::vector<std::string>& argv, const std::string& outPath,
             const std::string& errPath);
  bool running();
  // Waits at most `limit` for the end: the exit status, -1 after a signal, or nothing when
  // the limit passed (the child is then killed).
  std::optional<int> wait(std::chrono::milliseconds limit);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs a program to its end within `limit`; standard output and error together go to
// `output`. The exit status, or -1 after a signal or when the limit passed.
int runProgram(const std::vector<std::string>& argv, std::chrono::seconds limit,
               std::string* output = nullptr);

// Ends the whole test process with a message when it is still alive `limit` after the
// watchdog was made: a hang then fails at once instead of waiting for the test timeout.
class Watchdog {
 public:
  Watchdog(std::chrono::seconds limit, std::string what);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace rowpress::testing
