// A private ODBC world for each test: its own odbcinst.ini and odbc.ini in a temporary
// directory (through ODBCSYSINI and ODBCINI), SQLite databases reached through the real
// SQLite3 ODBC driver and the real unixODBC driver manager, and a default directory of its
// own (ROWPRESS_HOME). Nothing under /etc or the home directory is touched. Jobs run through
// runJob with a recording report: nothing here knows the dialog.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "export/export_run.h"
#include "export/viewer.h"
#include "job/job_settings.h"
#include "run/run_job.h"
#include "tests/support/recording_report.h"

namespace rowpress::support {

// The path of an ODBC driver library ("libsqlite3odbc.so", "psqlodbcw.so", ...) as
// scripts/odbc-driver.sh finds it, by the same rule as the scripts and the benchmark. Throws,
// with the script's message naming the package to install, when the driver is missing.
std::string odbcDriver(const std::string& library);
// The SQLite3 ODBC driver, looked up once per process.
const std::string& sqliteDriver();

// A fresh temporary directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
// Asks `done` every few milliseconds until it says yes (true) or `limit` has passed (false,
// after a last ask).
bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
// Waits until a file appears at `path` (one that another process writes under a name of its
// own and then renames), for at most `limit`; true when it did.
bool waitForFile(const std::string& path, std::chrono::milliseconds limit);
// The names of the entries of a directory, sorted.
std::vector<std::string> listDirectory(const std::string& path);
// The size of a file, or nothing when it does not exist.
std::optional<long long> fileSize(const std::string& path);
// `text` with each line feed as CR LF, as rowpress ends every line it writes.
std::string withCrLf(const std::string& text);
// Sets a file's modification time `seconds` into the past.
void setModifiedAgo(const std::string& path, int seconds);

// A variable of this process's environment, given back the value it had (or removed again)
// when the object goes; the test may set and remove it meanwhile.
class SavedVariable {
 public:
  explicit SavedVariable(const char* name);
  ~SavedVariable();
  SavedVariable(const SavedVariable&) = delete;
  SavedVariable& operator=(const SavedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> value_;
};

// An exclusive flock on a file (or a directory), held until the object goes: what a run
// holds on its temporary file and work directory, as another process (or a run in another
// PID namespace) would hold it.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path);
  ~HeldLock();
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Whether an exclusive flock on the file can be taken now (it is released at once).
bool lockCanBeTaken(const std::string& path);

// Records the commands it is asked to start, and starts nothing.
class RecordingLauncher : public Launcher {
 public:
  std::string start(const std::vector<std::string>& command) override {
    started.push_back(command);
    return {};
  }
  std::vector<std::vector<std::string>> started;
};

class OdbcTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Defines a data source (system or user) on an SQLite file; extra lines go into its
  // section as they are (e.g. "NoCreat=1").
  void addDataSource(const std::string& name, const std::string& databaseFile, bool user = false,
                     const std::string& extraLines = "");
  // Registers a further ODBC driver in odbcinst.ini; extra lines go into its section.
  void addDriver(const std::string& name, const std::string& library,
                 const std::string& extraLines = "");
  // Defines a data source (system or user) for any driver: `lines` are the section's
  // lines as they are, "Driver=NAME" among them.
  void addDataSourceSection(const std::string& name, const std::string& lines, bool user = false);
  // Has the driver manager trace every ODBC call of this process to `traceFile`, until the
  // end of the test.
  void traceOdbcCalls(const std::string& traceFile);
  // Runs statements on a data source through ODBC; fails the test when one fails.
  void execute(const std::string& sql, const std::string& dataSource = "rowtest");

  // Runs a copy of the fixture's job (on its data source unless the test named another) with
  // this SQL; the report starts a new list of status lines and keeps the message boxes.
  RunResult fetch(const std::string& sql);
  // What the last fetch's export did (nothing when it did not run).
  const ExportResult& lastExport() const { return lastExport_; }
  // The status lines of the last fetch as the window's status list shows them: control
  // characters escaped.
  std::vector<std::string> statusList() const;
  // Starts viewers through `launcher` instead of recording them.
  void useLauncher(Launcher& launcher) { runLauncher_ = &launcher; }

  std::string home() const { return temp_ / "home"; }
  std::string database() const { return temp_ / "rowtest.db"; }
  // The files that a run left in the default directory, the type report excluded.
  std::vector<std::string> outputFiles() const;
  // The path of the one output file in the default directory; fails the test when there is
  // not exactly one.
  std::string onlyOutput();

  TempDir temp_;
  JobSettings job_;
  RecordingReport report_;
  // The viewers that the runs would start, recorded instead of started.
  RecordingLauncher launcher_;

 private:
  void writeIniFiles();
  Launcher* runLauncher_ = &launcher_;
  ExportResult lastExport_;
  std::string systemIni_;
  bool tracing_ = false;
  std::string drivers_;
  std::string system_;
  std::string user_;
};

}  // namespace rowpress::support
