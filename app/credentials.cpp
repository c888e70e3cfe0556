#include "app/credentials.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "files/file_descriptor.h"

extern char** environ;

namespace rowpress {

namespace {

// The value of the first entry of variable `name`, as getenv reads it; every entry of the
// name is then removed from the environment and its bytes, name and value, overwritten where
// they are. Nothing when the variable is unset or empty.
template <class Value>
std::optional<Value> takeVariable(const char* name) {
  const std::size_t length = std::strlen(name);
  auto isEntry = [&](const char* entry) {
    return std::strncmp(entry, name, length) == 0 && entry[length] == '=';
  };
  std::optional<Value> value;
  if (!environ) return value;
  std::vector<char*> taken;
  char** kept = environ;
  for (char** entry = environ; *entry; ++entry) {
    if (!isEntry(*entry)) {
      *kept++ = *entry;
      continue;
    }
    if (taken.empty() && (*entry)[length + 1] != '\0') value.emplace((*entry) + length + 1);
    taken.push_back(*entry);
  }
  *kept = nullptr;
  for (char* entry : taken) wipeBytes(entry, std::strlen(entry));
  return value;
}

std::string modeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

std::optional<Secret> readPasswordFile(const std::string& path, std::string& problem,
                                       FileIdentity* identity) {
  if (path.empty()) {
    problem = "-passwordfile= names no file; no password was read.";
    return std::nullopt;
  }
  const std::string prefix = path + ": The password file ";
  // Without blocking: a FIFO is refused below instead of waiting for a writer.
  const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  // The file that was opened is checked, not the name, which may change meanwhile.
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    problem = prefix + "could not be read: " + std::strerror(errno) + ".";
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) {
    problem = prefix + "is not a regular file.";
    return std::nullopt;
  }
  if ((st.st_mode & 077) != 0) {
    problem = prefix + "gives group or others access (mode " + modeText(st.st_mode) +
              "); only its owner may read it (chmod 600).";
    return std::nullopt;
  }
  if (identity) *identity = FileIdentity{st.st_dev, st.st_ino};
  // Only the first line counts: the read stops at its end, or once it is past the longest
  // password with a CR LF. The text never grows past the room reserved for it, so no copy
  // of it is left behind in a freed block.
  char buffer[256];
  std::string text;
  text.reserve(kCredentialLimit + 2 + sizeof buffer);
  struct Wipe {
    std::string& text;
    char* buffer;
    std::size_t size;
    ~Wipe() {
      wipeBytes(text.data(), text.capacity());
      wipeBytes(buffer, size);
    }
  } wipe{text, buffer, sizeof buffer};
  while (text.find('\n') == std::string::npos && text.size() <= kCredentialLimit + 2) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      problem = prefix + "could not be read: " + std::strerror(errno) + ".";
      return std::nullopt;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::string_view password = text;
  if (const std::size_t end = password.find('\n'); end != std::string_view::npos) {
    password = password.substr(0, end);
    if (!password.empty() && password.back() == '\r') password.remove_suffix(1);
  }
  if (auto refusal = refusalOf(password, kCredentialLimit, "The password")) {
    problem = path + ": " + *refusal;
    return std::nullopt;
  }
  return Secret(password);
}

OutsideCredentials takeOutsideCredentials(const std::optional<std::string>& passwordFile) {
  OutsideCredentials outside;
  outside.userName = takeVariable<std::string>(kUserVariable);
  outside.password = takeVariable<Secret>(kPasswordVariable);
  if (passwordFile) {
    // A password file that cannot be used gives no password, not the next one in line: the
    // job is run only as written.
    FileIdentity identity;
    outside.password = readPasswordFile(*passwordFile, outside.problem, &identity);
    if (outside.password) outside.passwordFile = identity;
  }
  return outside;
}

void applyOutsideCredentials(const OutsideCredentials& outside, JobSettings& job,
                             std::vector<std::string>& problems) {
  if (!outside.problem.empty()) problems.push_back(outside.problem);
  if (outside.passwordFile && std::find(job.readFrom.begin(), job.readFrom.end(),
                                        *outside.passwordFile) == job.readFrom.end()) {
    job.readFrom.push_back(*outside.passwordFile);
  }
  // A variable over its limit is refused like a settings file's value, never cut: a cut
  // password would connect with another one.
  if (outside.userName) {
    if (auto refusal = refusalOf(*outside.userName, kCredentialLimit, "The user name")) {
      problems.push_back(std::string(kUserVariable) + ": " + *refusal);
    } else {
      job.userName = *outside.userName;
    }
  }
  if (outside.password && outside.password->size() > kCredentialLimit) {
    problems.push_back(std::string(kPasswordVariable) + ": " +
                       tooLongMessage("The password", kCredentialLimit));
  } else if (outside.password) {
    job.password = outside.password->view();
    job.outsidePassword = outside.password->copy();
  }
}

}  // namespace rowpress
