// A file descriptor that closes itself: owned by one object at a time (moving hands it over
// and leaves -1 behind), closed when its owner goes or takes another. `Close` closes it: a
// plain descriptor is closed with close(2), one that holds a run's lock with
// closeLockedForRun() (RunLockedDescriptor in temporary_files.h).
#pragma once

#include <unistd.h>

#include <utility>

namespace rowpress {

struct CloseDescriptor {
  void operator()(int fd) const { ::close(fd); }
};

template <class Close>
class BasicFileDescriptor {
 public:
  BasicFileDescriptor() = default;
  explicit BasicFileDescriptor(int fd) : fd_(fd) {}
  ~BasicFileDescriptor() { reset(); }
  BasicFileDescriptor(BasicFileDescriptor&& other) noexcept : fd_(other.release()) {}
  BasicFileDescriptor& operator=(BasicFileDescriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  BasicFileDescriptor(const BasicFileDescriptor&) = delete;
  BasicFileDescriptor& operator=(const BasicFileDescriptor&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Hands the descriptor over to the caller, who closes it.
  int release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held, if any, and holds `fd`.
  void reset(int fd = -1) {
    if (fd_ >= 0) Close{}(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

using FileDescriptor = BasicFileDescriptor<CloseDescriptor>;

}  // namespace rowpress
