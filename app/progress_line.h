// The line that shows an unattended export on a terminal while it runs: the rows written,
// rows per second and the elapsed time, rewritten in place when the export reports its
// progress (a few times a second, from its fetch loop) and erased when the run ends, so that
// what stays on the terminal is the run's own lines.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace rowpress {

// Seconds with one decimal, "3.0", whatever the locale's decimal point.
std::string secondsText(std::chrono::duration<double> elapsed);

// The line that ends a run in the window: the rows, the time and where the file went, as
// "3 rows in 0.2 s, kept /home/ann/out.csv" or "0 rows in 0.2 s, no file kept". A relative
// `keptPath` is given in full from the working directory; empty means none was kept. The
// values the file holds changed to fit it, if any, are added: ", 3 values changed to fit: see
// the status list".
std::string runEndLine(long long rows, std::chrono::duration<double> elapsed,
                       const std::string& keptPath, long long changed = 0);

class ProgressLine {
 public:
  // Draws to `fd`; the elapsed time counts from now.
  explicit ProgressLine(int fd) : fd_(fd) {}
  // Erases the line.
  ~ProgressLine() { erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Draws the count `rows` in place of the line drawn before, unless the line was erased.
  void draw(long long rows);
  // The sheet of a report job that the rows go to from now on: the line starts with its name,
  // "Orders: 12345 rows, ...".
  void setSheet(std::string_view name);
  // Erases the line, if one was drawn, and draws no more; call it before anything else is
  // written to the terminal. Later calls do nothing.
  void erase();

  // The line's text: "12345 rows, 4115 rows/s, 3.0 s".
  // With a `separator`, the counts are written in groups of three digits (the window gives
  // its locale's).
  static std::string text(long long rows, std::chrono::duration<double> elapsed,
                          std::string_view separator = {});
  // The line once every row is written and the output is finished (`phase`: "writing the
  // workbook"), which the rate would no longer describe: "500000 rows, writing the workbook,
  // 14.2 s".
  static std::string finishing(long long rows, std::string_view phase,
                               std::chrono::duration<double> elapsed,
                               std::string_view separator = {});

 private:
  const int fd_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool erased_ = false;
  bool drawn_ = false;  // a line is on the terminal
  std::string sheet_;   // "NAME: " of the report's current sheet
};

}  // namespace rowpress
