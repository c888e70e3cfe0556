#include "tests/support/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

#include "tests/support/test_files.h"

extern char** environ;

namespace rowpress::support {

namespace {

// Waits until `pid` has ended (it stays a zombie, to be reaped by the caller) or `limit`
// has passed; true when it ended. A pidfd wakes the wait when the child ends; where there
// is none, the child is looked at every few milliseconds.
bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto left = [&deadline] {
    const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return rest.count() > 0 ? static_cast<int>(std::min<long long>(rest.count(), 1 << 30)) : 0;
  };
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) {
    pollfd ended{pidfd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&ended, 1, left())) < 0 && errno == EINTR) {
    }
    ::close(pidfd);
    return ready > 0;
  }
  siginfo_t info{};
  while (true) {
    info.si_pid = 0;
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
      return true;
    }
    if (left() == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !status_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

std::vector<std::string> environmentWith(const EnvironmentChanges& changes) {
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (!changes.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [name, value] : changes) {
    if (value) environment.push_back(name + "=" + *value);
  }
  return environment;
}

bool ChildProcess::start(const std::vector<std::string>& args, const EnvironmentChanges& changes) {
  return startWithEnvironment(args, environmentWith(changes));
}

bool ChildProcess::startWithEnvironment(const std::vector<std::string>& args,
                                        std::vector<std::string> environment) {
  std::vector<std::string> argv = args;

  // Everything the child needs is prepared before the fork.
  std::vector<char*> argp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string out = directory_ + "/child.stdout";
  const std::string err = directory_ + "/child.stderr";
  // Descriptors given for 0, 1 and 2, in a form the child reads without allocating.
  std::vector<std::pair<int, int>> given;
  for (const auto& [target, fd] : given_) {
    if (target >= 0 && target <= 2) given.emplace_back(target, fd);
  }

  status_.reset();
  pid_ = argv.empty() ? -1 : ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) ::_exit(126);
    // Above the standard numbers first, so that no dup2 below overwrites one still needed.
    int moved[3] = {-1, -1, -1};
    for (const auto& [target, fd] : given) moved[target] = fd < 0 ? -1 : ::fcntl(fd, F_DUPFD, 3);
    ::dup2(in, STDIN_FILENO);
    ::dup2(o, STDOUT_FILENO);
    ::dup2(e, STDERR_FILENO);
    for (const auto& [target, fd] : given) {
      if (fd < 0) {
        ::close(target);
      } else {
        ::dup2(moved[target], target);
        ::close(moved[target]);
      }
    }
    // Every signal at its default action and none blocked, whatever the test does with them.
    for (int signal = 1; signal < NSIG; ++signal) {
      if (signal != SIGKILL && signal != SIGSTOP) ::signal(signal, SIG_DFL);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : ignored_) ::signal(signal, SIG_IGN);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  return true;
}

PausePoint::PausePoint(const std::string& directory, const std::string& point)
    : point_(point), fifo_(directory + "/pause-" + point) {
  EXPECT_EQ(::mkfifo(fifo_.c_str(), 0600), 0) << "cannot make the FIFO " << fifo_;
}

PausePoint::~PausePoint() {
  release();
  ::unlink(fifo_.c_str());
}

EnvironmentChanges PausePoint::environment() const {
  return {{"ROWPRESS_TEST_PAUSE", point_ + "=" + fifo_}};
}

bool PausePoint::waitUntilReached(ChildProcess& child, std::chrono::milliseconds limit) {
  return waitUntilReached([&child] { return child.running(); }, limit);
}

bool PausePoint::waitUntilReached(const std::function<bool()>& going,
                                  std::chrono::milliseconds limit) {
  // Without a reader, an open for writing that does not wait fails with ENXIO.
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (fd_ < 0) {
    fd_ = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) break;
    if (errno != ENXIO || !going() || std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void PausePoint::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void PausePoint::releaseUntilEnded(ChildProcess& child) {
  while (child.running()) {
    release();
    waitUntilReached(child, std::chrono::milliseconds(100));
  }
  release();
}

bool ChildProcess::startRowpress(const std::vector<std::string>& args,
                                 const EnvironmentChanges& changes) {
  EnvironmentChanges all = changes;
  all.emplace("DISPLAY", std::nullopt);
  all.emplace("WAYLAND_DISPLAY", std::nullopt);
  std::vector<std::string> argv = {ROWPRESS_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return start(argv, all);
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) return false;
  int status = 0;
  rusage usage{};
  if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
    status_ = status;
    peakKiB_ = usage.ru_maxrss;
    return false;
  }
  return true;
}

int ChildProcess::threads() const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

void ChildProcess::kill(int signal) {
  if (running()) ::kill(pid_, signal);
}

ChildResult ChildProcess::wait(std::chrono::milliseconds limit) {
  ChildResult result;
  if (pid_ <= 0) return result;
  if (!status_) {
    if (limit != kNoLimit && !endsWithin(pid_, limit)) {
      ::kill(pid_, SIGKILL);
      result.timedOut = true;
    }
    int status = 0;
    rusage usage{};
    pid_t got;
    while ((got = ::wait4(pid_, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    if (got != pid_) return result;
    status_ = status;
    peakKiB_ = usage.ru_maxrss;
  }
  result.peakKiB = peakKiB_;
  if (WIFEXITED(*status_)) result.exitStatus = WEXITSTATUS(*status_);
  if (WIFSIGNALED(*status_)) result.signal = WTERMSIG(*status_);
  result.out = out();
  result.err = err();
  return result;
}

std::string ChildProcess::out() const { return readFile(directory_ + "/child.stdout"); }

std::string ChildProcess::err() const { return readFile(directory_ + "/child.stderr"); }

EnvironmentChanges forPeakMemory() {
  const char* asan = ::getenv("ASAN_OPTIONS");
  return {{"ASAN_OPTIONS", std::string(asan ? asan : "") + ":quarantine_size_mb=0"}};
}

ChildResult runProgram(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                       const EnvironmentChanges& changes) {
  TempDir scratch;
  ChildProcess child(scratch.path());
  if (!child.start(argv, changes)) return {};
  return child.wait(limit);
}

ChildResult runRowpress(const std::string& directory, const std::vector<std::string>& args,
                        const EnvironmentChanges& changes, std::chrono::milliseconds limit) {
  ChildProcess child(directory);
  if (!child.startRowpress(args, changes)) {
    ADD_FAILURE() << "cannot start " << ROWPRESS_BINARY;
    return {};
  }
  return child.wait(limit);
}

ChildResult runScript(const std::string& directory, const std::string& script) {
  const std::string file = directory + "/child.sh";
  writeFile(file, "ROWPRESS=" + shellQuote(ROWPRESS_BINARY) + "\nunset DISPLAY WAYLAND_DISPLAY\n" +
                      script + "\n");
  ChildProcess child(directory);
  if (!child.start({"/bin/sh", file})) return {};
  return child.wait();
}

std::string jobFileText(const std::string& dataSource, const std::string& sql,
                        const std::vector<std::string>& lines) {
  std::string text =
      "-- job of a fault test\nDatabase=\"" + dataSource + "\";\nSQL=\"" + sql + "\";\n";
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string findProgram(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string_view rest(path ? path : "");
  while (!rest.empty()) {
    std::size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return {};
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

int runShell(const std::string& command) {
  int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string withoutSummary(const std::string& text) {
  // The notes of the values changed to fit the file follow the summary line.
  std::string err = text;
  static const std::string note = "rowpress: note: ";
  while (err.size() > 1) {
    const std::size_t start = err.rfind('\n', err.size() - 2);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    if (err.compare(from, note.size(), note) != 0) break;
    err.resize(from);
  }
  const std::size_t end = err.size() >= 1 && err.back() == '\n' ? err.size() - 1 : err.size();
  const std::size_t start = err.rfind('\n', end == 0 ? 0 : end - 1);
  const std::size_t from = start == std::string::npos || end == 0 ? 0 : start + 1;
  const std::string last = err.substr(from, end - from);
  static const std::regex summary(
      "rowpress: .* (in|after) [0-9]+\\.[0-9] s( \\(stopped at a workbook limit\\))?");
  EXPECT_TRUE(std::regex_match(last, summary)) << "no summary line at the end of: " << err;
  return err.substr(0, from);
}

}  // namespace rowpress::support
