#include "tests/servers/server_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tests/odbc_fixture.h"

namespace rowpress::testing {

ServerFacts ServerFacts::load(const std::string& path) {
  ServerFacts facts;
  std::ifstream in(path);
  if (!in) {
    facts.error_ = "cannot read " + path +
                   ": the database servers were not started (the ctest fixture db_servers runs "
                   "tests/servers/start.sh; run the tests through ctest)";
    return facts;
  }
  std::string line;
  while (std::getline(in, line)) {
    std::size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    facts.values_[line.substr(0, equals)] = line.substr(equals + 1);
  }
  if (facts.values_.empty()) facts.error_ = path + " holds no connection facts";
  return facts;
}

std::string ServerFacts::operator[](const std::string& key) const {
  auto found = values_.find(key);
  return found == values_.end() ? std::string() : found->second;
}

std::vector<std::string> ServerFacts::missing(const std::vector<std::string>& keys) const {
  std::vector<std::string> absent;
  for (const std::string& key : keys) {
    if ((*this)[key].empty()) absent.push_back(key);
  }
  return absent;
}

const ServerFacts& serverFacts() {
  static const ServerFacts facts = ServerFacts::load(ROWPRESS_SERVERS_ENV);
  return facts;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::string& outPath,
                         const std::string& errPath) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = errPath == outPath ? ::dup(out)
                                 : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  status_.reset();
  return true;
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return false;
  }
  return true;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      status_ = -1;
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status_;
}

int runProgram(const std::vector<std::string>& argv, std::chrono::seconds limit,
               std::string* output) {
  TempDir scratch;
  ChildProcess child;
  if (!child.start(argv, scratch / "out", scratch / "out")) return -1;
  std::optional<int> status = child.wait(limit);
  if (output) *output = readFile(scratch / "out");
  return status.value_or(-1);
}

Watchdog::Watchdog(std::chrono::seconds limit, std::string what) {
  thread_ = std::thread([this, limit, what = std::move(what)] {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
      std::fprintf(stderr, "HANG: %s did not end within %lld s\n", what.c_str(),
                   static_cast<long long>(limit.count()));
      std::fflush(stderr);
      std::_Exit(1);
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  done_.notify_all();
  thread_.join();
}

}  // namespace rowpress::testing
