#include "run/viewer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <utility>

#include "files/file_descriptor.h"

namespace rowpress {

namespace {

// Where `program` is found on the PATH; empty when it is not.
std::string onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::string_view rest(path);
  while (true) {
    auto colon = rest.find(':');
    // An empty entry of PATH is the working directory.
    const std::string_view dir =
        colon == 0 || rest.empty() ? std::string_view(".") : rest.substr(0, colon);
    std::string candidate = std::string(dir) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return {};
    rest.remove_prefix(colon + 1);
  }
}

// Whether the LibreOffice that `launcher` starts can show a window. Debian's no-GUI build
// (libreoffice-core-nogui, which the tests' set-up installs where no LibreOffice is) has no
// window system plugin: handed a file, it ends at once with "Unspecified Application Error"
// and leaves its lock file beside the file, and nothing is shown.
bool showsWindows(const std::string& launcher) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::canonical(launcher, error).parent_path();
  if (error || !std::filesystem::exists(program / "soffice.bin", error)) return true;
  for (const auto& entry : std::filesystem::directory_iterator(program, error)) {
    if (entry.path().filename().string().starts_with("libvclplug_")) return true;
  }
  return false;
}

}  // namespace

namespace {

// The words of `text`, and whether a quote was still open at its end.
std::vector<std::string> splitWords(std::string_view text, bool& quoteOpen) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote == '\'') {
      if (c == '\'')
        quote = 0;
      else
        word += c;
    } else if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else if (c == '\\' && i + 1 < text.size() &&
                 std::strchr("\"\\$`", text[i + 1]) != nullptr) {
        word += text[++i];
      } else {
        word += c;
      }
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      inWord = true;
      if (c == '\'' || c == '"') {
        quote = c;
      } else if (c == '\\' && i + 1 < text.size()) {
        word += text[++i];
      } else {
        word += c;
      }
    }
  }
  if (inWord) words.push_back(std::move(word));
  quoteOpen = quote != 0;
  return words;
}

}  // namespace

std::vector<std::string> splitCommandWords(std::string_view text) {
  bool quoteOpen = false;
  return splitWords(text, quoteOpen);
}

bool quotesClosed(std::string_view text) {
  bool quoteOpen = false;
  splitWords(text, quoteOpen);
  return !quoteOpen;
}

std::vector<std::string> viewerCommand(const JobSettings& job, OutputType type,
                                       const std::string& path) {
  if (job.noAutoOpen) return {};
  std::vector<std::string> command;
  if (!job.launchApplication.empty()) {
    command = splitCommandWords(job.launchApplication);
  } else if (type == OutputType::Html) {
    command = {"xdg-open"};
  } else if (const std::string office = onPath("libreoffice");
             !office.empty() && showsWindows(office)) {
    command = {"libreoffice", "--calc"};
  } else {
    command = {"xdg-open"};
  }
  if (command.empty()) return {};
  command.push_back(path.starts_with('-') ? "./" + path : path);
  return command;
}

namespace {

class ProcessLauncher : public Launcher {
 public:
  explicit ProcessLauncher(std::chrono::milliseconds watchFor) : watchFor_(watchFor) {}
  std::string start(const std::vector<std::string>& command) override;
  int takeEndWatch() override;

 private:
  const std::chrono::milliseconds watchFor_;
  // The read end of the last started viewer's end, until taken.
  FileDescriptor ended_;
};

// A pipe whose ends close themselves; both closed on exec.
struct Pipe {
  FileDescriptor read;
  FileDescriptor write;
  // Opens the pipe; false, with errno, when it cannot be made.
  bool open() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    read.reset(ends[0]);
    write.reset(ends[1]);
    return true;
  }
};

// The watcher's descriptor that reports the viewer's end.
constexpr int kReportFd = 3;

// In the watcher, which never runs a program and so keeps every descriptor it was forked with
// (close-on-exec or not): it keeps only the pipe that reports the viewer's end, as kReportFd,
// and has /dev/null as its input and output. No file, connection or lock of rowpress stays open
// for the seconds it waits, and a script that reads rowpress's output does not wait for it.
void keepOnlyReport(int report) {
  if (report != kReportFd) ::dup2(report, kReportFd);
  if (::close_range(kReportFd + 1, ~0U, 0) != 0) {
    const long open = ::sysconf(_SC_OPEN_MAX);
    for (int fd = kReportFd + 1; fd < (open > 0 && open < 65536 ? open : 65536); ++fd) {
      ::close(fd);
    }
  }
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0) return;
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
  if (null > kReportFd) ::close(null);
}

// In the watcher, the viewer's parent: writes the viewer's wait status to `ended` when it ends
// within `watchFor`, and nothing when it is still running then (the pipe closes as the watcher
// ends, and the viewer goes on alone).
void watchViewer(pid_t viewer, int ended, std::chrono::milliseconds watchFor) {
  const auto deadline = std::chrono::steady_clock::now() + watchFor;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    const pid_t done = ::waitpid(viewer, &status, WNOHANG);
    if (done == viewer) {
      ssize_t ignored = ::write(ended, &status, sizeof status);
      (void)ignored;
      return;
    }
    if (done < 0 && errno != EINTR) return;
    ::usleep(20 * 1000);
  }
}

constexpr int kWriteSignals[] = {SIGPIPE, SIGXFSZ};
// Whether ignoreWriteSignals found each of kWriteSignals with its default action; set once,
// before any thread exists.
bool writeSignalsRemembered = false;
bool writeSignalDefaultAtStart[std::size(kWriteSignals)] = {};

// In the viewer's process, before its program runs: the signals that stop a run, and those
// that rowpress ignores for its own writes, get their default action back unless they were
// ignored when rowpress started (as under nohup).
void giveSignalsBack() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
      ::signal(signal, SIG_DFL);
    }
  }
  for (std::size_t i = 0; i < std::size(kWriteSignals); ++i) {
    struct sigaction action;
    // Without ignoreWriteSignals, as this process has them now.
    const bool wasDefault =
        writeSignalsRemembered
            ? writeSignalDefaultAtStart[i]
            : ::sigaction(kWriteSignals[i], nullptr, &action) == 0 && action.sa_handler != SIG_IGN;
    if (wasDefault) ::signal(kWriteSignals[i], SIG_DFL);
  }
}

// Writes errno to `fd` and ends the process: how a launch that failed tells the launcher.
[[noreturn]] void failLaunch(int fd) {
  const int error = errno;
  ssize_t ignored = ::write(fd, &error, sizeof error);
  (void)ignored;
  ::_exit(127);
}

// The middle process of a start: a session of its own, the watcher where the viewer is watched
// (its end reported through `ended`, -1 for none), and the viewer running `argv`, whose
// failure to run goes through `failure`.
[[noreturn]] void startViewer(char** argv, int failure, int ended,
                              std::chrono::milliseconds watchFor) {
  // The viewer starts with no signal blocked, and the default actions first.
  giveSignalsBack();
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::setsid();
  if (ended >= 0) {
    const pid_t watcher = ::fork();
    if (watcher < 0) failLaunch(failure);
    if (watcher != 0) ::_exit(0);
  }
  pid_t viewer = ::fork();
  if (viewer == 0) {
    // Nothing of this process's input and output: a script that reads rowpress's output
    // must not wait for the viewer, nor read what it prints.
    int null = ::open("/dev/null", O_RDWR);
    if (null < 0) failLaunch(failure);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) ::dup2(null, fd);
    if (null > STDERR_FILENO) ::close(null);
    ::execvp(argv[0], argv);
    failLaunch(failure);
  }
  if (viewer < 0) failLaunch(failure);
  if (ended >= 0) {
    keepOnlyReport(ended);
    watchViewer(viewer, kReportFd, watchFor);
  }
  ::_exit(0);
}

}  // namespace

void ignoreWriteSignals() {
  for (std::size_t i = 0; i < std::size(kWriteSignals); ++i) {
    struct sigaction action;
    writeSignalDefaultAtStart[i] =
        ::sigaction(kWriteSignals[i], nullptr, &action) == 0 && action.sa_handler != SIG_IGN;
    ::signal(kWriteSignals[i], SIG_IGN);
  }
  writeSignalsRemembered = true;
}

Launcher& processLauncher() {
  static ProcessLauncher launcher(std::chrono::milliseconds(0));
  return launcher;
}

Launcher& watchingLauncher() {
  // Long enough for a viewer that cannot open the file to give up.
  static ProcessLauncher launcher(std::chrono::seconds(10));
  return launcher;
}

std::string launchViewer(const JobSettings& job, OutputType type, const std::string& path,
                         Launcher& launcher) {
  const std::vector<std::string> command = viewerCommand(job, type, path);
  if (command.empty()) return {};
  const std::string why = launcher.start(command);
  return why.empty() ? why : "could not start " + command.front() + ": " + why;
}

std::string ProcessLauncher::start(const std::vector<std::string>& words) {
  std::vector<std::string> command = words;
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  // The viewer's process tells why it could not run its program through this pipe; the
  // pipe closes without a word when the program runs (close-on-exec).
  Pipe failure;
  if (!failure.open()) return std::strerror(errno);
  // A watched viewer's end comes through this one.
  Pipe ended;
  if (watchFor_.count() > 0 && !ended.open()) return std::strerror(errno);
  // Fork twice so that the viewer belongs to no one here: the middle process starts a new
  // session, forks the viewer and exits at once, and only the middle process is waited for.
  // A watched viewer gets a watcher between the two, which waits for its end a few seconds.
  // The stop signals wait while the middle process starts: their handlers are rowpress's,
  // and the middle process gives them their default action before it takes any.
  sigset_t stops, kept;
  sigemptyset(&stops);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signal);
  ::pthread_sigmask(SIG_BLOCK, &stops, &kept);
  pid_t middle = ::fork();
  if (middle != 0) ::pthread_sigmask(SIG_SETMASK, &kept, nullptr);
  if (middle < 0) return std::strerror(errno);
  if (middle == 0) {
    failure.read.reset();
    ended.read.reset();
    startViewer(argv.data(), failure.write.get(), ended.write.get(), watchFor_);
  }
  failure.write.reset();
  ended.write.reset();
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // Until the viewer's program runs or the viewer's process gives up.
  int error = 0;
  ssize_t got;
  while ((got = ::read(failure.read.get(), &error, sizeof error)) < 0 && errno == EINTR) {
  }
  if (got == static_cast<ssize_t>(sizeof error)) return std::strerror(error);
  ended_ = std::move(ended.read);
  return {};
}

int ProcessLauncher::takeEndWatch() { return ended_.release(); }

std::string viewerEndLine(const std::string& viewer, int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return viewer + " ended with status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return viewer + " ended by signal " + std::to_string(WTERMSIG(status));
  }
  return {};
}

}  // namespace rowpress
