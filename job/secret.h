// A password held in memory. It is move-only, so that a copy of the job never copies it by
// accident, and its bytes are overwritten when it is destroyed, emptied or replaced, so that
// no freed block keeps it. A process that has held a password is not dumpable for the rest
// of its life: no core dump holds the password, and /proc/PID/mem and /proc/PID/environ are
// closed to other processes of its user. (The ODBC driver keeps copies of its own, which
// rowpress cannot wipe, so this holds until the process ends.)
#pragma once

#include <cstddef>
#include <string_view>

namespace rowpress {

class Secret {
 public:
  Secret() = default;
  explicit Secret(std::string_view text) { assign(text); }
  Secret(Secret&& other) noexcept;
  Secret& operator=(Secret&& other) noexcept;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { clear(); }

  // Replaces the held text, overwriting the old one.
  Secret& operator=(std::string_view text) {
    assign(text);
    return *this;
  }
  // Adds `text` at the end. The text moves to a larger block and the old block is
  // overwritten, so that text built up piece by piece leaves no copy behind either.
  Secret& append(std::string_view text);
  // A second holder of the same text, made on purpose.
  Secret copy() const { return Secret(view()); }
  // Overwrites the held text and holds nothing.
  void clear();

  std::string_view view() const { return {data_ ? data_ : "", size_}; }
  // The text with a NUL after it, for an interface that takes C strings.
  const char* c_str() const { return data_ ? data_ : ""; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  friend bool operator==(const Secret& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const Secret& a, const Secret& b) { return a.view() == b.view(); }

 private:
  void assign(std::string_view text);

  char* data_ = nullptr;  // size_ bytes and a NUL, or nothing
  std::size_t size_ = 0;
};

// Overwrites `size` bytes at `data` in a way that the compiler does not leave out.
void wipeBytes(void* data, std::size_t size);

// Makes the process not dumpable, for the rest of its life (see Secret).
void keepProcessUndumpable();

}  // namespace rowpress
