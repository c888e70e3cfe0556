#include "tests/servers/server_support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace rowpress::support {

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

}  // namespace rowpress::support
