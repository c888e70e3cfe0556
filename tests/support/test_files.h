// Files and processes as the tests look at them: temporary directories, whole-file reads and
// writes, waiting for a file or a condition, directory listings, environment variables given
// back, and flocks held as another process holds them. Nothing here knows rowpress.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rowpress::support {

// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
// Asks `done` every few milliseconds until it says yes (true) or `limit` has passed (false,
// after a last ask).
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
// Waits until a file appears at `path` (one that another process writes under a name of its
// own and then renames), for at most `limit`; true when it did.
bool waitForFile(const std::string& path, std::chrono::milliseconds limit);
// The names of the entries of a directory, sorted.
std::vector<std::string> listDirectory(const std::string& path);
// The size of a file, or nothing when it does not exist.
std::optional<long long> fileSize(const std::string& path);
// `text` with each line feed as CR LF, as rowpress ends every line it writes.
std::string withCrLf(const std::string& text);
// Sets a file's modification time `seconds` into the past.
void setModifiedAgo(const std::string& path, int seconds);

// A variable of this process's environment, given back the value it had (or removed again)
// when the object goes; the test may set and remove it meanwhile.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name);
  ~SavedVariable();
  SavedVariable(const SavedVariable&) = delete;
  SavedVariable& operator=(const SavedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> value_;
};

// An exclusive flock on a file (or a directory), held until the object goes: what a run
// holds on its temporary file and work directory, as another process (or a run in another
// PID namespace) would hold it.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path);
  ~HeldLock();
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Whether an exclusive flock on the file can be taken now (it is released at once).
bool lockCanBeTaken(const std::string& path);

}  // namespace rowpress::support
