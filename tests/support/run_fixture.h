// The run of a job in the private ODBC world of tests/support/odbc_fixture.h: jobs run through
// runJob with a recording report; nothing here knows the dialog.
#pragma once

#include <string>
#include <vector>

#include "job/shown_text.h"
#include "run/run_job.h"
#include "run/viewer.h"
#include "tests/support/export_fixture.h"
#include "tests/support/recording_report.h"

namespace rowpress::support {

// Records the commands it is asked to start, and starts nothing.
class RecordingLauncher : public Launcher {
 public:
  std::string start(const std::vector<std::string>& command) override {
    started.push_back(command);
    return {};
  }
  std::vector<std::vector<std::string>> started;
};

// The run's report: the export's record and the message boxes.
class RecordingRunReport : public Recording<RunReport> {
 public:
  void message(const ExportMessage& message) override { messages.push_back(message); }
  std::vector<ExportMessage> messages;
};

class RunTest : public ExportTest {
 protected:
  // Runs a copy of the fixture's job (on its data source unless the test named another) with
  // this SQL; the report starts a new list of status lines and keeps the message boxes.
  RunResult fetch(const std::string& sql) {
    if (job_.dataSource.empty()) job_.dataSource = "rowtest";
    job_.sql = sql;
    report_.lines.clear();
    RunResult result = runJob(copyOf(job_), report_, *runLauncher_, StopRequest::instance());
    lastExport_ = result.export_;
    return result;
  }
  // What the last fetch's export did (nothing when it did not run).
  const ExportResult& lastExport() const { return lastExport_; }
  // The status lines of the last fetch as the window's status list shows them: control
  // characters escaped.
  std::vector<std::string> statusList() const {
    std::vector<std::string> shown;
    for (const std::string& line : report_.lines) shown.push_back(escapeControls(line));
    return shown;
  }
  // Starts viewers through `launcher` instead of recording them.
  void useLauncher(Launcher& launcher) { runLauncher_ = &launcher; }

  RecordingRunReport report_;
  // The viewers that the runs would start, recorded instead of started.
  RecordingLauncher launcher_;

 private:
  Launcher* runLauncher_ = &launcher_;
  ExportResult lastExport_;
};

}  // namespace rowpress::support
