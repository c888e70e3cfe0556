#include "job/secret.h"

#include <string.h>
#include <sys/prctl.h>

#include <cstring>
#include <utility>

namespace rowpress {

void wipeBytes(void* data, std::size_t size) {
  if (data && size > 0) ::explicit_bzero(data, size);
}

void keepProcessUndumpable() { ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0); }

Secret::Secret(Secret&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

Secret& Secret::operator=(Secret&& other) noexcept {
  if (this != &other) {
    clear();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

void Secret::clear() {
  wipeBytes(data_, size_);
  delete[] data_;
  data_ = nullptr;
  size_ = 0;
}

Secret& Secret::append(std::string_view text) {
  if (text.empty()) return *this;
  keepProcessUndumpable();
  // The new block first: `text` may be a view of the old one.
  char* data = new char[size_ + text.size() + 1];
  if (size_ > 0) std::memcpy(data, data_, size_);
  std::memcpy(data + size_, text.data(), text.size());
  const std::size_t size = size_ + text.size();
  data[size] = '\0';
  clear();
  data_ = data;
  size_ = size;
  return *this;
}

void Secret::assign(std::string_view text) {
  // The new text first: `text` may be a view of the old one.
  char* data = nullptr;
  if (!text.empty()) {
    keepProcessUndumpable();
    data = new char[text.size() + 1];
    std::memcpy(data, text.data(), text.size());
    data[text.size()] = '\0';
  }
  clear();
  data_ = data;
  size_ = text.size();
}

}  // namespace rowpress
