#include "tests/support/odbc_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "db/odbc_session.h"
#include "export/column_type_report.h"
#include "export/text_rules.h"
#include "tests/support/child_process.h"

namespace rowpress::support {

TempDir::TempDir() {
  char pattern[] = "/tmp/rowpress-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) ADD_FAILURE() << "the test could not write " << path;
}

bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool waitForFile(const std::string& path, std::chrono::milliseconds limit) {
  return waitFor([&path] { return fileExists(path); }, limit);
}

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

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<long long> fileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<long long>(st.st_size);
}

void setModifiedAgo(const std::string& path, int seconds) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

SavedVariable::SavedVariable(const char* name) : name_(name) {
  if (const char* value = std::getenv(name)) value_ = value;
}

SavedVariable::~SavedVariable() {
  if (value_) {
    ::setenv(name_, value_->c_str(), 1);
  } else {
    ::unsetenv(name_);
  }
}

HeldLock::HeldLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0 && errno == EISDIR) fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

HeldLock::~HeldLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool lockCanBeTaken(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return taken;
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
  ASSERT_TRUE(succeeded(SQLSetConnectAttr(SQL_NULL_HDBC, SQL_ATTR_TRACEFILE,
                                          reinterpret_cast<SQLPOINTER>(file.data()), SQL_NTS)));
  ASSERT_TRUE(succeeded(SQLSetConnectAttr(SQL_NULL_HDBC, SQL_ATTR_TRACE,
                                          reinterpret_cast<SQLPOINTER>(SQL_OPT_TRACE_ON), 0)));
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
  SQLRETURN rc = SQLExecDirect(session->statement(),
                               reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  ASSERT_TRUE(succeeded(rc) || rc == SQL_NO_DATA) << sql << "\n"
                                                  << GetStatementDiagnostic(session->statement());
}

RunResult OdbcTest::fetch(const std::string& sql) {
  if (job_.dataSource.empty()) job_.dataSource = "rowtest";
  job_.sql = sql;
  report_.lines.clear();
  RunResult result = runJob(copyOf(job_), report_, *runLauncher_, StopRequest::instance());
  lastExport_ = result.export_;
  return result;
}

std::vector<std::string> OdbcTest::statusList() const {
  std::vector<std::string> shown;
  for (const std::string& line : report_.lines) shown.push_back(escapeControls(line));
  return shown;
}

std::vector<std::string> OdbcTest::outputFiles() const {
  std::vector<std::string> names = listDirectory(home());
  names.erase(std::remove(names.begin(), names.end(), kColumnTypeReportName), names.end());
  return names;
}

std::string OdbcTest::onlyOutput() {
  std::vector<std::string> files = outputFiles();
  EXPECT_EQ(files.size(), 1u) << "files in the default directory: " << files.size();
  return files.empty() ? std::string() : home() + "/" + files[0];
}

std::string withCrLf(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

}  // namespace rowpress::support
