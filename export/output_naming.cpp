#include "export/output_naming.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "export/stop_request.h"

namespace rowpress {

namespace {

const char kTemporaryMarker[] = ".rowpress-";
const char kTemporarySuffix[] = ".part";

std::string directoryOf(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string_view rest(path);
  while (true) {
    auto colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (dir.empty()) dir = ".";
    if (::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

// The part of the temporary name before the process id: "." and the target's name, cut (on a
// character boundary) so that the whole temporary name fits in a file name of 255 bytes even
// when the target's name alone takes up nearly all of them. The room kept for the process id
// does not depend on the id, so every run for a target finds the leftovers of the others.
std::string temporaryPrefixFor(const std::string& path) {
  constexpr std::size_t kNameMax = 255;
  constexpr std::size_t kPidRoom = 20;  // the digits of any process id
  const std::string base = baseNameOf(path);
  const std::size_t room = kNameMax - 1 - (sizeof kTemporaryMarker - 1) - kPidRoom -
                           (sizeof kTemporarySuffix - 1);
  return "." + base.substr(0, cutOnCharacterBoundary(base, room)) + kTemporaryMarker;
}

// Removes temporary files that runs of processes no longer alive left beside `path`.
void removeLeftovers(const std::string& path) {
  const std::string prefix = temporaryPrefixFor(path);
  DIR* dir = ::opendir(directoryOf(path).c_str());
  if (!dir) return;
  while (dirent* entry = ::readdir(dir)) {
    std::string_view name(entry->d_name);
    if (name.substr(0, prefix.size()) != prefix) continue;
    std::string pidText(name.substr(prefix.size()));
    char* end = nullptr;
    long pid = std::strtol(pidText.c_str(), &end, 10);
    if (end == pidText.c_str() || std::string_view(end) != kTemporarySuffix) continue;
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      ::unlink((directoryOf(path) + "/" + std::string(name)).c_str());
    }
  }
  ::closedir(dir);
}

}  // namespace

std::string defaultDirectory() {
  const char* home = std::getenv("ROWPRESS_HOME");
  if (home && *home) return home;
  const char* user = std::getenv("HOME");
  return std::string(user && *user ? user : ".") + "/rowpress";
}

bool createDefaultDirectory(const std::string& directory) {
  std::string partial;
  std::size_t from = 0;
  while (from <= directory.size()) {
    auto slash = directory.find('/', from);
    partial = directory.substr(0, slash);
    if (!partial.empty() && ::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
    from = slash + 1;
  }
  struct stat st;
  return ::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

OutputPath prepareOutputPath(const JobSettings& job, OutputType type) {
  const std::string directory = defaultDirectory();
  std::string base;
  std::string why;
  if (!createDefaultDirectory(directory)) {
    why = "cannot create the directory " + directory + ": " + std::strerror(errno);
  } else {
    // Reserve a free name atomically, then remove it and keep only the name.
    std::random_device device;
    unsigned start = device() & 0xFFFFu;
    for (unsigned i = 0; i < 0x10000u && base.empty(); ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "row%04X.TMP", (start + i) & 0xFFFFu);
      std::string candidate = directory + "/" + name;
      int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      if (fd >= 0) {
        ::close(fd);
        ::unlink(candidate.c_str());
        base = candidate;
      } else if (errno != EEXIST) {
        why = "cannot create a file in " + directory + ": " + std::strerror(errno);
        break;
      }
    }
    if (base.empty() && why.empty()) why = "no free name is left in " + directory;
  }

  const bool named = !job.outFileName.empty();
  OutputPath result;
  switch (type) {
    case OutputType::Xml:
      if (job.excel2007) {
        if (!base.empty()) result.path = base + ".xml";
      } else {
        result.path = named ? job.outFileName : base.empty() ? "" : base + ".xls";
      }
      break;
    case OutputType::Csv:
    case OutputType::Tsv:
      result.path = named ? job.outFileName : base.empty() ? "" : base + ".csv";
      break;
    case OutputType::Html:
      result.path = named ? job.outFileName : base.empty() ? "" : base + ".html";
      break;
  }
  if (result.path.size() > kPathLimit) {
    result.error = tooLongMessage("The output path", kPathLimit);
    result.path.clear();
  } else if (result.path.empty()) {
    result.error = why;
  }
  return result;
}

std::string temporaryNameFor(const std::string& path, long pid) {
  std::string dir = directoryOf(path);
  std::string name = temporaryPrefixFor(path) + std::to_string(pid) + kTemporarySuffix;
  return path.find('/') == std::string::npos ? name : (dir == "/" ? "/" : dir + "/") + name;
}

bool OutputTarget::open(const std::string& path) {
  path_ = path;
  removeLeftovers(path);
  temporary_ = temporaryNameFor(path, static_cast<long>(::getpid()));
  ::unlink(temporary_.c_str());
  // Registered before it exists, so that a stop never misses it.
  StopRequest::instance().addTemporary(temporary_);
  file_ = OutputFile::create(temporary_, true);
  if (!file_.isOpen()) {
    error_ = file_.error();
    StopRequest::instance().removeTemporary(temporary_);
    temporary_.clear();
    return false;
  }
  return true;
}

std::string OutputTarget::error() const {
  int e = error_ ? error_ : file_.error();
  return e ? std::strerror(e) : std::string();
}

bool OutputTarget::keep() {
  if (temporary_.empty()) return false;
  bool written = file_.close();
  if (!written) error_ = file_.error();
  if (written && ::rename(temporary_.c_str(), path_.c_str()) != 0) {
    error_ = errno;
    written = false;
  }
  if (!written) ::unlink(temporary_.c_str());
  StopRequest::instance().removeTemporary(temporary_);
  temporary_.clear();
  return written;
}

void OutputTarget::discard() {
  if (temporary_.empty()) return;
  file_.close();
  ::unlink(temporary_.c_str());
  StopRequest::instance().removeTemporary(temporary_);
  temporary_.clear();
}

std::vector<std::string> splitCommandWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quote == '\'') {
      if (c == '\'') quote = 0; else word += c;
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
  return words;
}

std::vector<std::string> viewerCommand(const JobSettings& job, OutputType type,
                                       const std::string& path) {
  if (job.noAutoOpen) return {};
  std::vector<std::string> command;
  if (!job.launchApplication.empty()) {
    command = splitCommandWords(job.launchApplication);
  } else if (type == OutputType::Html) {
    command = {"xdg-open"};
  } else if (onPath("libreoffice")) {
    command = {"libreoffice", "--calc"};
  } else {
    command = {"xdg-open"};
  }
  if (command.empty()) return {};
  command.push_back(path);
  return command;
}

void launchViewer(const JobSettings& job, OutputType type, const std::string& path) {
  std::vector<std::string> command = viewerCommand(job, type, path);
  if (command.empty()) return;
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  // Fork twice so that the viewer belongs to no one here: the middle process starts a new
  // session, forks the viewer and exits at once, and only the middle process is waited for.
  pid_t middle = ::fork();
  if (middle < 0) return;
  if (middle == 0) {
    ::setsid();
    pid_t viewer = ::fork();
    if (viewer == 0) {
      int null = ::open("/dev/null", O_RDWR);
      if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        if (null > STDERR_FILENO) ::close(null);
      }
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::_exit(viewer < 0 ? 1 : 0);
  }
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace rowpress
