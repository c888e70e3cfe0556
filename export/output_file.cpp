#include "export/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace rowpress {

namespace {
// Whole lines are handed to the system once this much has gathered.
constexpr std::size_t kFlushThreshold = 256 * 1024;
// Every this many bytes written, the disk is asked to start writing them back.
constexpr off_t kWriteBackEvery = 8 * 1024 * 1024;
}  // namespace

OutputFile::~OutputFile() {
  if (fd_ >= 0 && ownsFd_) ::close(fd_);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(other.fd_),
      workDirectory_(other.workDirectory_),
      ownsFd_(other.ownsFd_),
      error_(other.error_),
      reason_(std::move(other.reason_)),
      path_(std::move(other.path_)),
      buffer_(std::move(other.buffer_)),
      completeLines_(other.completeLines_),
      written_(other.written_),
      writingBack_(other.writingBack_),
      encoder_(std::move(other.encoder_)) {
  other.fd_ = -1;
  other.completeLines_ = 0;
  other.buffer_.clear();
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
    fd_ = other.fd_;
    workDirectory_ = other.workDirectory_;
    ownsFd_ = other.ownsFd_;
    error_ = other.error_;
    reason_ = std::move(other.reason_);
    path_ = std::move(other.path_);
    buffer_ = std::move(other.buffer_);
    completeLines_ = other.completeLines_;
    written_ = other.written_;
    writingBack_ = other.writingBack_;
    encoder_ = std::move(other.encoder_);
    other.fd_ = -1;
    other.completeLines_ = 0;
    other.buffer_.clear();
  }
  return *this;
}

OutputFile OutputFile::create(const std::string& path, bool exclusive, int mode) {
  OutputFile file;
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  file.fd_ = ::open(path.c_str(), flags, mode);
  file.path_ = path;
  if (file.fd_ < 0) {
    file.error_ = errno;
  } else {
    file.buffer_.reserve(kFlushThreshold + 128 * 1024);
  }
  return file;
}

OutputFile OutputFile::onDescriptor(int fd, std::string path) {
  OutputFile file;
  file.fd_ = fd;
  file.path_ = std::move(path);
  file.ownsFd_ = false;
  if (fd < 0) {
    file.error_ = EBADF;
  } else {
    file.buffer_.reserve(kFlushThreshold + 128 * 1024);
  }
  return file;
}

void OutputFile::write(std::string_view text) {
  while (!text.empty()) {
    const void* lf = std::memchr(text.data(), '\n', text.size());
    if (!lf) {
      buffer_.append(text);
      return;
    }
    std::size_t n = static_cast<const char*>(lf) - text.data();
    buffer_.append(text.data(), n);
    endLine();
    text.remove_prefix(n + 1);
  }
}

void OutputFile::put(char c) {
  if (c == '\n') {
    endLine();
  } else {
    buffer_.push_back(c);
  }
}

void OutputFile::endLine() {
  buffer_.append("\r\n", 2);
  afterLineEnd();
}

void OutputFile::afterLineEnd() {
  completeLines_ = buffer_.size();
  if (completeLines_ >= kFlushThreshold) flush();
}

bool OutputFile::writeOut(std::size_t count) {
  if (fd_ < 0 || error_ != 0) {
    buffer_.erase(0, count);
    completeLines_ -= std::min(completeLines_, count);
    return false;
  }
  if (encoder_) {
    encoded_.clear();
    encoder_->encode(std::string_view(buffer_).substr(0, count), encoded_);
    writeBytes(encoded_);
  } else {
    writeBytes(std::string_view(buffer_).substr(0, count));
  }
  buffer_.erase(0, count);
  completeLines_ -= std::min(completeLines_, count);
  return error_ == 0;
}

void OutputFile::writeBytes(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  written_ += static_cast<off_t>(done);
  // The disk starts on what is written while the run goes on, so that the sync before the
  // file takes its name (see AtomicFile) has little left to wait for.
  if (written_ - writingBack_ >= kWriteBackEvery) {
    ::sync_file_range(fd_, writingBack_, written_ - writingBack_, SYNC_FILE_RANGE_WRITE);
    writingBack_ = written_;
  }
}

bool OutputFile::takeBack(std::size_t bytes) {
  if (bytes > buffer_.size()) return false;
  buffer_.resize(buffer_.size() - bytes);
  completeLines_ = std::min(completeLines_, buffer_.size());
  return true;
}

bool OutputFile::flush() { return writeOut(completeLines_) && error_ == 0; }

bool OutputFile::flushAll() { return writeOut(buffer_.size()) && error_ == 0; }

bool OutputFile::overwriteAt(off_t offset, std::string_view bytes) {
  if (!flush() || fd_ < 0) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

void OutputFile::fail(int err) {
  if (error_ == 0) error_ = err != 0 ? err : EIO;
}

void OutputFile::fail(int err, std::string reason) {
  if (error_ != 0) return;
  fail(err);
  reason_ = std::move(reason);
}

std::string OutputFile::errorText() const {
  if (!reason_.empty()) return reason_;
  return error_ != 0 ? std::strerror(error_) : std::string();
}

bool OutputFile::close() {
  if (fd_ < 0) return false;
  writeOut(buffer_.size());
  if (encoder_ && error_ == 0) {
    encoded_.clear();
    encoder_->finish(encoded_);
    writeBytes(encoded_);
  }
  if (ownsFd_ && ::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  return error_ == 0;
}

}  // namespace rowpress
