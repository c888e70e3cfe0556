// A run's report as a test reads it: the status lines as they came, the message boxes, the
// last row count, and a hook called with every row count (the place for a test to act in the
// middle of a run).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "run/run_job.h"

namespace rowpress::support {

class RecordingReport : public RunReport {
 public:
  void statusLine(std::string_view line) override { lines.emplace_back(line); }
  void rowsDone(long long rows) override {
    lastRowsDone = rows;
    if (onRowsDone) onRowsDone(rows);
  }
  void message(const ExportMessage& message) override { messages.push_back(message); }

  std::vector<std::string> lines;
  std::vector<ExportMessage> messages;
  long long lastRowsDone = 0;
  std::function<void(long long)> onRowsDone;
};

}  // namespace rowpress::support
