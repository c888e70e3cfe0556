// What an export run tells whoever started it while it runs: lines for the status list and
// the rows written so far, so that a window can show them as the rows arrive. The run knows
// no window; the dialog logic shows what it is told. What the run ended with (the outcome,
// the file, the messages for the user) comes back as its result.
#pragma once

#include <atomic>
#include <string_view>

namespace rowpress {

class ExportReport {
 public:
  virtual ~ExportReport() = default;
  // A line for the status list.
  virtual void statusLine(std::string_view line) = 0;
  // Now and then during a long export, and once at its end: the data rows written so far.
  virtual void rowsDone(long long rows) = 0;
  // When a quarter of a second has passed since the last call (the run looks at a coarse
  // clock at each row), and only while rows arrive: the data rows written so far, for a
  // progress line.
  virtual void progress(long long rows) { (void)rows; }
  // A report job's sheet starts: the rows that follow go to it.
  virtual void sheetStarted(std::string_view name) { (void)name; }
  // Where the run keeps the count of the data rows written so far, row by row, for a display
  // on another thread; none when nobody shows it.
  virtual std::atomic<long long>* rowCount() { return nullptr; }
};

}  // namespace rowpress
