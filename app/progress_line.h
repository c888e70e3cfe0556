// The line that shows an unattended export on a terminal while it runs: the rows written,
// rows per second and the elapsed time, rewritten in place a few times a second by a thread
// of its own and erased when the run ends, so that what stays on the terminal is the run's
// own lines.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace rowpress {

// Seconds with one decimal, "3.0", whatever the locale's decimal point.
std::string secondsText(std::chrono::duration<double> elapsed);

// The line that ends a run in the window: the rows, the time and where the file went, as
// "3 rows in 0.2 s, kept /home/ann/out.csv" or "0 rows in 0.2 s, no file kept". A relative
// `keptPath` is given in full from the working directory; empty means none was kept.
std::string runEndLine(long long rows, std::chrono::duration<double> elapsed,
                       const std::string& keptPath);

class ProgressLine {
 public:
  // Starts drawing the count `rows` (which the export keeps current) to `fd` every `every`.
  ProgressLine(int fd, const std::atomic<long long>& rows,
               std::chrono::milliseconds every = std::chrono::milliseconds(250));
  // Erases the line.
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Stops drawing and erases the line, if one was drawn; call it before anything else is
  // written to the terminal. Later calls do nothing.
  void erase();

  // The line's text: "12345 rows, 4115 rows/s, 3.0 s".
  static std::string text(long long rows, std::chrono::duration<double> elapsed);

 private:
  void draw();

  const int fd_;
  const std::atomic<long long>& rows_;
  const std::chrono::milliseconds every_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool drawn_ = false;  // a line is on the terminal
  std::thread thread_;
};

}  // namespace rowpress
