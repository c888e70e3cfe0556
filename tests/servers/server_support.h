// What the server tests need besides the ODBC fixture: the connection facts of the database
// servers that tests/servers/start.sh started, and a watchdog that ends a test process that
// hangs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rowpress::support {

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

}  // namespace rowpress::support
