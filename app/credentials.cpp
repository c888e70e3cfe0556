#include "app/credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rowpress {

namespace {

// The value of a variable, which is then removed from the environment; nothing when it is
// unset or empty.
std::optional<std::string> takeVariable(const char* name) {
  std::optional<std::string> value;
  if (const char* text = std::getenv(name); text && *text) value = text;
  ::unsetenv(name);
  return value;
}

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

std::optional<std::string> readPasswordFile(const std::string& path, std::string& problem) {
  if (path.empty()) {
    problem = "-passwordfile= names no file; no password was read.";
    return std::nullopt;
  }
  const std::string prefix = path + ": The password file ";
  // Without blocking: a FIFO is refused below instead of waiting for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    problem = prefix + "could not be read: " + std::strerror(errno) + ".";
    return std::nullopt;
  }
  // The file that was opened is checked, not the name, which may change meanwhile.
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    problem = prefix + "could not be read: " + std::strerror(errno) + ".";
    ::close(fd);
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = prefix + "is not a regular file.";
    ::close(fd);
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0) {
    problem = prefix + "gives group or others access (mode " + modeText(st.st_mode) +
              "); only its owner may read it (chmod 600).";
    ::close(fd);
    return std::nullopt;
  }
  // Only the first line counts: the read stops at its end, or once it is past the longest
  // password with a CR LF.
  std::string text;
  char buffer[256];
  while (text.find('\n') == std::string::npos && text.size() <= kCredentialLimit + 2) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = prefix + "could not be read: " + std::strerror(errno) + ".";
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (const std::size_t end = text.find('\n'); end != std::string::npos) {
    text.resize(end);
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  if (auto refusal = refusalOf(text, kCredentialLimit, "The password")) {
    problem = path + ": " + *refusal;
    return std::nullopt;
  }
  return text;
}

OutsideCredentials takeOutsideCredentials(const std::optional<std::string>& passwordFile) {
  OutsideCredentials outside;
  outside.userName = takeVariable(kUserVariable);
  outside.password = takeVariable(kPasswordVariable);
  if (passwordFile) {
    // A password file that cannot be used gives no password, not the next one in line: the
    // job is run only as written.
    outside.password = readPasswordFile(*passwordFile, outside.problem);
  }
  return outside;
}

void applyOutsideCredentials(const OutsideCredentials& outside, JobSettings& job,
                             std::vector<std::string>& problems) {
  if (!outside.problem.empty()) problems.push_back(outside.problem);
  if (outside.userName) job.userName = *outside.userName;
  if (outside.password) {
    job.password = *outside.password;
    job.outsidePassword = *outside.password;
  }
}

}  // namespace rowpress
