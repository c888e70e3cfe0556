#include "app/progress_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

namespace rowpress {

namespace {

// Writes all of `text`; a terminal that fails is given up on quietly: progress is a courtesy.
void writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Back to the start of the line, and everything after the cursor cleared.
constexpr char kLineStart[] = "\r";
constexpr char kClearToEnd[] = "\033[K";

}  // namespace

ProgressLine::ProgressLine(int fd, const std::atomic<long long>& rows,
                           std::chrono::milliseconds every)
    : fd_(fd), rows_(rows), every_(every) {
  // The line only shows progress: a run whose thread cannot start goes on without it.
  try {
    thread_ = std::thread([this] { draw(); });
  } catch (const std::system_error&) {
  }
}

ProgressLine::~ProgressLine() { erase(); }

void ProgressLine::erase() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (drawn_) writeAll(fd_, std::string(kLineStart) + kClearToEnd);
  drawn_ = false;
}

std::string secondsText(std::chrono::duration<double> elapsed) {
  const long long tenths = std::max(0LL, static_cast<long long>(elapsed.count() * 10 + 0.5));
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string runEndLine(long long rows, std::chrono::duration<double> elapsed,
                       const std::string& keptPath) {
  std::string line = std::to_string(rows) + " rows in " + secondsText(elapsed) + " s, ";
  if (keptPath.empty()) return line + "no file kept";
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(keptPath, error);
  return line + "kept " + (error ? keptPath : full.lexically_normal().string());
}

std::string ProgressLine::text(long long rows, std::chrono::duration<double> elapsed) {
  const double seconds = elapsed.count();
  const long long rate =
      seconds > 0 ? static_cast<long long>(static_cast<double>(rows) / seconds) : 0;
  return std::to_string(rows) + " rows, " + std::to_string(rate) + " rows/s, " +
         secondsText(elapsed) + " s";
}

void ProgressLine::draw() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!wake_.wait_for(lock, every_, [this] { return stopping_; })) {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    writeAll(fd_, kLineStart + text(rows_.load(std::memory_order_relaxed), elapsed) + kClearToEnd);
    drawn_ = true;
  }
}

}  // namespace rowpress
