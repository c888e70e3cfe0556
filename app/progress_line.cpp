#include "app/progress_line.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "job/shown_text.h"

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

void ProgressLine::draw(long long rows) {
  if (erased_) return;
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  writeAll(fd_, kLineStart + sheet_ + text(rows, elapsed) + kClearToEnd);
  drawn_ = true;
}

void ProgressLine::setSheet(std::string_view name) {
  // The name is the job's own text: shown escaped, as every line from outside.
  sheet_ = escapeControls(name) + ": ";
}

void ProgressLine::erase() {
  erased_ = true;
  if (drawn_) writeAll(fd_, std::string(kLineStart) + kClearToEnd);
  drawn_ = false;
}

std::string secondsText(std::chrono::duration<double> elapsed) {
  const long long tenths = std::max(0LL, static_cast<long long>(elapsed.count() * 10 + 0.5));
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

std::string runEndLine(long long rows, std::chrono::duration<double> elapsed,
                       const std::string& keptPath, long long changed) {
  std::string line = std::to_string(rows) + " rows in " + secondsText(elapsed) + " s, ";
  if (keptPath.empty()) return line + "no file kept";
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(keptPath, error);
  line += "kept " + (error ? keptPath : full.lexically_normal().string());
  if (changed == 0) return line;
  return line + ", " + std::to_string(changed) + (changed == 1 ? " value" : " values") +
         " changed to fit: see the status list";
}

namespace {

// `count` in digits, groups of three apart by `separator` when one is given.
std::string countText(long long count, std::string_view separator) {
  std::string digits = std::to_string(count);
  if (separator.empty()) return digits;
  const std::size_t first = digits.starts_with('-') ? 1 : 0;
  for (std::size_t at = digits.size(); at > first + 3; at -= 3) {
    digits.insert(at - 3, separator);
  }
  return digits;
}

}  // namespace

std::string ProgressLine::text(long long rows, std::chrono::duration<double> elapsed,
                               std::string_view separator) {
  const double seconds = elapsed.count();
  const long long rate =
      seconds > 0 ? static_cast<long long>(static_cast<double>(rows) / seconds) : 0;
  return countText(rows, separator) + " rows, " + countText(rate, separator) + " rows/s, " +
         secondsText(elapsed) + " s";
}

std::string ProgressLine::finishing(long long rows, std::string_view phase,
                                    std::chrono::duration<double> elapsed,
                                    std::string_view separator) {
  return countText(rows, separator) + " rows, " + std::string(phase) + ", " + secondsText(elapsed) +
         " s";
}

}  // namespace rowpress
