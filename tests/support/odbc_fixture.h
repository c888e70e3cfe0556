// A private ODBC world for each test: its own odbcinst.ini and odbc.ini in a temporary
// directory (through ODBCSYSINI and ODBCINI), SQLite databases reached through the real
// SQLite3 ODBC driver and the real unixODBC driver manager, and a default directory of its
// own (ROWPRESS_HOME). Nothing under /etc or the home directory is touched. This fixture knows
// the sessions and nothing above them; tests/support/export_fixture.h and run_fixture.h add the
// export and the run of a job.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "job/job_settings.h"
#include "tests/support/test_files.h"

namespace rowpress::support {

// The path of an ODBC driver library ("libsqlite3odbc.so", "psqlodbcw.so", ...) as
// scripts/odbc-driver.sh finds it, by the same rule as the scripts and the benchmark. Throws,
// with the script's message naming the package to install, when the driver is missing.
std::string odbcDriver(const std::string& library);
// The SQLite3 ODBC driver, looked up once per process.
const std::string& sqliteDriver();

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

  std::string home() const { return temp_ / "home"; }
  std::string database() const { return temp_ / "rowtest.db"; }

  TempDir temp_;
  // The job that the test builds up: on the fixture's data source, opening no viewer.
  JobSettings job_;

 private:
  void writeIniFiles();
  std::string systemIni_;
  bool tracing_ = false;
  std::string drivers_;
  std::string system_;
  std::string user_;
};

}  // namespace rowpress::support
