#include "tests/faults/rowpress_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/odbc_fixture.h"
#include "tests/spreadsheet/sheet_reader.h"

extern char** environ;

namespace rowpress::testing {

namespace {

ChildResult resultOf(int status, const std::string& directory) {
  ChildResult result;
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = readFile(directory + "/child.stdout");
  result.err = readFile(directory + "/child.stderr");
  return result;
}

}  // namespace

RowpressProcess::~RowpressProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool RowpressProcess::start(const std::vector<std::string>& args,
                            const EnvironmentChanges& changes) {
  EnvironmentChanges all = changes;
  all.emplace("DISPLAY", std::nullopt);
  all.emplace("WAYLAND_DISPLAY", std::nullopt);
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (!all.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
  }
  for (const auto& [name, value] : all) {
    if (value) environment.push_back(name + "=" + *value);
  }
  std::vector<std::string> argv = {ROWPRESS_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());

  // Everything the child needs is prepared before the fork.
  std::vector<char*> argp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string out = directory_ + "/child.stdout";
  const std::string err = directory_ + "/child.stderr";

  pid_ = ::fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) ::_exit(126);
    ::dup2(in, STDIN_FILENO);
    ::dup2(o, STDOUT_FILENO);
    ::dup2(e, STDERR_FILENO);
    for (int signal : ignored_) ::signal(signal, SIG_IGN);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  return true;
}

ChildResult RowpressProcess::wait() {
  int status = 0;
  if (pid_ <= 0) return {};
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) return {};
  }
  pid_ = -1;
  return resultOf(status, directory_);
}

void RowpressProcess::kill(int signal) {
  if (pid_ > 0) ::kill(pid_, signal);
}

ChildResult runRowpress(const std::string& directory, const std::vector<std::string>& args,
                        const EnvironmentChanges& changes) {
  RowpressProcess child(directory);
  if (!child.start(args, changes)) return {};
  return child.wait();
}

ChildResult runScript(const std::string& directory, const std::string& script) {
  const std::string file = directory + "/child.sh";
  writeFile(file, "ROWPRESS=" + shellQuote(ROWPRESS_BINARY) + "\nunset DISPLAY WAYLAND_DISPLAY\n" +
                      script + "\n");
  const int status =
      std::system(("/bin/sh " + shellQuote(file) + " > " + shellQuote(directory + "/child.stdout") +
                   " 2> " + shellQuote(directory + "/child.stderr") + " < /dev/null")
                      .c_str());
  return resultOf(status, directory);
}

std::string jobFileText(const std::string& dataSource, const std::string& sql,
                        const std::vector<std::string>& lines) {
  std::string text =
      "-- job of a fault test\nDatabase=\"" + dataSource + "\";\nSQL=\"" + sql + "\";\n";
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::optional<long long> fileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<long long>(st.st_size);
}

}  // namespace rowpress::testing
