// The fixtures of the start-up tests: start-up on the in-memory window, and the unattended
// run of the real executable in the fixture's ODBC world.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/credentials.h"
#include "app/startup.h"
#include "tests/app_support/dialog_fixture.h"
#include "tests/support/child_process.h"

namespace rowpress::support {

// A settings file as a person would write it: only value lines, LF line ends.
inline std::string settings(const std::vector<std::string>& lines) {
  std::string text = "-- hand-written job\n";
  for (const auto& line : lines) text += line + "\n";
  return text;
}

class StartupTest : public DialogTest {
 protected:
  void start(std::vector<std::string> args) {
    args.insert(args.begin(), "rowpress");
    applyDefaults(job_, view_);
    // As the executable starts: the credentials from outside first.
    const CommandLine line = parseCommandLine(args);
    problems_ = applyCommandLine(line, job_, view_, takeOutsideCredentials(line.passwordFile));
  }

  // Runs the executable with `args` in the fixture's ODBC world and without a display; what
  // it printed stays in run_.
  int runRowpress(const std::vector<std::string>& args) {
    run_ = support::runRowpress(temp_.path(), args);
    return run_.exitStatus;
  }

  std::vector<std::string> problems_;
  ChildResult run_;
};

class UnattendedTest : public StartupTest {
 protected:
  void SetUp() override {
    StartupTest::SetUp();
    execute("create table city (name varchar(40), people integer)");
    execute("insert into city values ('Zürich', 421878)");
    execute("insert into city values ('Genève, GE', 203856)");
    job_file_ = temp_ / "job.DIRU";
  }
  void writeJob(const std::string& sql, const std::string& more = "") {
    writeFile(job_file_, settings({"Database=\"rowtest\";", "SQL=\"" + sql + "\";", more}));
  }
  std::string job_file_;
};

}  // namespace rowpress::support
