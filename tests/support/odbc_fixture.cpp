#include "tests/support/odbc_fixture.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "db/odbc_session.h"
#include "db/result_cursor.h"
#include "tests/support/child_process.h"

namespace rowpress::support {

std::string odbcDriver(const std::string& library) {
  const ChildResult found =
      runProgram({ROWPRESS_SOURCE_DIR "/scripts/odbc-driver.sh", library}, kNoLimit);
  std::string output = found.exitStatus == 0 ? found.out : found.out + found.err;
  while (!output.empty() && output.back() == '\n') output.pop_back();
  if (found.exitStatus != 0 || output.empty()) {
    throw std::runtime_error(output.empty() ? "scripts/odbc-driver.sh failed" : output);
  }
  return output;
}

const std::string& sqliteDriver() {
  static const std::string driver = odbcDriver("libsqlite3odbc.so");
  return driver;
}

namespace {

// unixODBC reads ODBCSYSINI once per process and keeps the path, so every test of a process
// shares one directory for odbcinst.ini and odbc.ini, and each test writes them afresh.
const std::string& systemIniDirectory() {
  static TempDir* directory = new TempDir;  // lives as long as the process
  static const bool removed = std::atexit([] { delete directory; }) == 0;
  (void)removed;
  return directory->path();
}

}  // namespace

void OdbcTest::SetUp() {
  std::string driver;
  try {
    driver = sqliteDriver();
  } catch (const std::exception& missing) {
    FAIL() << missing.what();
  }
  systemIni_ = systemIniDirectory();
  ::setenv("ODBCSYSINI", systemIni_.c_str(), 1);
  ::setenv("ODBCINI", (temp_ / "user-odbc.ini").c_str(), 1);
  ::setenv("ROWPRESS_HOME", home().c_str(), 1);
  drivers_ = std::string("[SQLite3]\nDescription=SQLite3 ODBC\nDriver=") + driver + "\n";
  addDataSource("rowtest", database());
  job_.noAutoOpen = true;  // tests never open a viewer unless they ask for one
}

void OdbcTest::TearDown() {
  if (tracing_) {
    SQLSetConnectAttr(SQL_NULL_HDBC, SQL_ATTR_TRACE,
                      reinterpret_cast<SQLPOINTER>(SQL_OPT_TRACE_OFF), 0);
  }
  ::unsetenv("ODBCSYSINI");
  ::unsetenv("ODBCINI");
  ::unsetenv("ROWPRESS_HOME");
}

void OdbcTest::addDataSource(const std::string& name, const std::string& databaseFile, bool user,
                             const std::string& extraLines) {
  addDataSourceSection(
      name, "Driver=SQLite3\nDatabase=" + databaseFile + "\nStepAPI=1\n" + extraLines, user);
}

void OdbcTest::addDriver(const std::string& name, const std::string& library,
                         const std::string& extraLines) {
  drivers_ += "[" + name + "]\nDriver=" + library + "\n" + extraLines +
              (extraLines.empty() || extraLines.back() == '\n' ? "" : "\n");
  writeIniFiles();
}

void OdbcTest::addDataSourceSection(const std::string& name, const std::string& lines, bool user) {
  std::string section = "[" + name + "]\n" + lines;
  if (!lines.empty() && lines.back() != '\n') section += "\n";
  (user ? user_ : system_) += section;
  writeIniFiles();
}

void OdbcTest::traceOdbcCalls(const std::string& traceFile) {
  // Tracing is a setting of the driver manager for the whole process, made without a handle.
  // (The Trace key of odbcinst.ini is read from a cache that earlier tests may have filled.)
  std::string file = traceFile;
  ASSERT_EQ(SQLSetConnectAttr(SQL_NULL_HDBC, SQL_ATTR_TRACEFILE,
                              reinterpret_cast<SQLPOINTER>(file.data()), SQL_NTS),
            SQL_SUCCESS);
  ASSERT_EQ(SQLSetConnectAttr(SQL_NULL_HDBC, SQL_ATTR_TRACE,
                              reinterpret_cast<SQLPOINTER>(SQL_OPT_TRACE_ON), 0),
            SQL_SUCCESS);
  tracing_ = true;
}

void OdbcTest::writeIniFiles() {
  writeFile(systemIni_ + "/odbcinst.ini", drivers_);
  writeFile(systemIni_ + "/odbc.ini", system_);
  writeFile(temp_ / "user-odbc.ini", user_);
  // unixODBC keeps what it read of "odbc.ini" for 20 seconds, under that short name, whichever
  // file it was; a write through it forgets all of it, so that the next read is of these files.
  EXPECT_TRUE(
      SQLWritePrivateProfileString("written", "at", "once", (temp_ / "scratch.ini").c_str()))
      << "unixODBC's configuration cache could not be cleared";
}

void OdbcTest::execute(const std::string& sql, const std::string& dataSource) {
  JobSettings job;
  job.dataSource = dataSource;
  auto session = OpenSession(job, kFetchSessionMessages);
  ASSERT_TRUE(session) << "cannot connect to " << dataSource;
  std::unique_ptr<ResultCursor> cursor = openResultCursor(*session);
  std::string text = sql;
  ASSERT_NE(cursor->execute(text), ResultCursor::Executed::Failed) << sql << "\n"
                                                                   << cursor->diagnostic();
}

}  // namespace rowpress::support
