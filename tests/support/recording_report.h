// A report as a test reads it: the status lines as they came, the last row count, and a hook
// called with every row count (the place for a test to act in the middle of a run). The
// export's report records these; the run's (tests/support/run_fixture.h) adds the message
// boxes.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "export/export_report.h"

namespace rowpress::support {

template <class Report>
class Recording : public Report {
 public:
  void statusLine(std::string_view line) override { lines.emplace_back(line); }
  void rowsDone(long long rows) override {
    lastRowsDone = rows;
    if (onRowsDone) onRowsDone(rows);
  }

  std::vector<std::string> lines;
  long long lastRowsDone = 0;
  std::function<void(long long)> onRowsDone;
};

using RecordingReport = Recording<ExportReport>;

}  // namespace rowpress::support
