// The names in a directory that is open as a descriptor, read through a descriptor of their
// own: the directory's may be open for paths only, which cannot be read, and its offset stays
// untouched.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace rowpress {

class DirectoryEntries {
 public:
  explicit DirectoryEntries(int directory) {
    const int listed = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listed < 0) return;
    dir_ = ::fdopendir(listed);
    if (dir_ == nullptr) ::close(listed);
  }
  ~DirectoryEntries() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DirectoryEntries(const DirectoryEntries&) = delete;
  DirectoryEntries& operator=(const DirectoryEntries&) = delete;

  // False when the directory cannot be listed.
  explicit operator bool() const { return dir_ != nullptr; }
  // The next name ("." and ".." among them), nullptr after the last.
  const char* next() {
    if (dir_ == nullptr) return nullptr;
    const dirent* entry = ::readdir(dir_);
    return entry != nullptr ? entry->d_name : nullptr;
  }

 private:
  DIR* dir_ = nullptr;
};

}  // namespace rowpress
