#include "tests/servers/server_test.h"

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <ctime>
#include <thread>

#include "db/odbc_handles.h"
#include "export/column_type_report.h"
#include "settings/settings_format.h"

namespace rowpress::support {

namespace {

constexpr char kPgAnsiDriver[] = "PostgreSQL ANSI";
constexpr char kPgUnicodeDriver[] = "PostgreSQL Unicode";
constexpr char kMariaDbDriver[] = "MariaDB";

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

void ServerTest::SetUp() {
  RunTest::SetUp();
  ASSERT_TRUE(facts().loaded()) << facts().error();
  const std::vector<std::string> absent =
      facts().missing({"PSQLODBC_ANSI", "PSQLODBC_UNICODE", "MARIADB_ODBC", "PG_PORT", "PG_USER",
                       "PG_PASSWORD", "PG_DATABASE", "MARIADB_PORT", "MARIADB_USER",
                       "MARIADB_PASSWORD", "MARIADB_DATABASE", "ROWPRESS_SERVER_SCRIPTS"});
  ASSERT_TRUE(absent.empty()) << "the server facts lack " << absent.front();
  for (const char* library : {"PSQLODBC_ANSI", "PSQLODBC_UNICODE", "MARIADB_ODBC"}) {
    ASSERT_TRUE(fileExists(facts()[library]))
        << "ODBC driver missing: " << facts()[library] << " (install odbc-postgresql and "
        << "odbc-mariadb)";
  }
  addDriver(kPgAnsiDriver, facts()["PSQLODBC_ANSI"]);
  addDriver(kPgUnicodeDriver, facts()["PSQLODBC_UNICODE"]);
  addDriver(kMariaDbDriver, facts()["MARIADB_ODBC"]);

  const std::string database = facts()["PG_DATABASE"];
  addDataSourceSection(
      kPgAnsi, postgresSection(kPgAnsiDriver, database, true) + "UseDeclareFetch=1\nFetch=10000\n");
  addDataSourceSection(kPgUnicode, postgresSection(kPgUnicodeDriver, database, true));
  addDataSourceSection(kPgPlainTypes,
                       postgresSection(kPgAnsiDriver, database, true) +
                           "BoolsAsChar=0\nTextAsLongVarchar=0\nByteaAsLongVarBinary=0\n");
  addDataSourceSection(
      kPgRowByRow, postgresSection(kPgAnsiDriver, database, true) + "UseDeclareFetch=1\nFetch=1\n");
  addDataSourceSection(kPgLogin, postgresSection(kPgAnsiDriver, database, false));
  addDataSourceSection(kPgNoDatabase, postgresSection(kPgAnsiDriver, "no_such_database", true));
  addDataSourceSection(kMariaDb, std::string("Driver=") + kMariaDbDriver +
                                     "\nSERVER=127.0.0.1\nPORT=" + facts()["MARIADB_PORT"] +
                                     "\nDATABASE=" + facts()["MARIADB_DATABASE"] + "\n");
}

std::string ServerTest::postgresSection(const std::string& driver, const std::string& database,
                                        bool withCredentials) const {
  std::string lines = "Driver=" + driver + "\nServername=127.0.0.1\nPort=" + facts()["PG_PORT"] +
                      "\nDatabase=" + database + "\n";
  if (withCredentials) {
    lines += "Username=" + facts()["PG_USER"] + "\nPassword=" + facts()["PG_PASSWORD"] + "\n";
  }
  return lines;
}

std::string ServerTest::userFor(const std::string& dataSource) const {
  return facts()[dataSource.starts_with("mariadb") ? "MARIADB_USER" : "PG_USER"];
}

std::string ServerTest::passwordFor(const std::string& dataSource) const {
  return facts()[dataSource.starts_with("mariadb") ? "MARIADB_PASSWORD" : "PG_PASSWORD"];
}

std::optional<OdbcSession> ServerTest::openSession(const std::string& dataSource) {
  JobSettings job;
  job.dataSource = dataSource;
  job.userName = userFor(dataSource);
  job.password = passwordFor(dataSource);
  SessionFailure failure;
  auto session = OpenSession(job, kFetchSessionMessages, &failure);
  if (!session) {
    ADD_FAILURE() << "cannot connect to " << dataSource << ": " << failure.connectDiagnostic;
  }
  return session;
}

void ServerTest::run(const std::string& dataSource, const std::string& sql) {
  auto session = openSession(dataSource);
  if (!session) return;
  SQLRETURN rc = SQLExecDirect(statementOf(*session),
                               reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  ASSERT_TRUE(succeeded(rc) || rc == SQL_NO_DATA) << sql << "\n"
                                                  << GetStatementDiagnostic(statementOf(*session));
}

std::string ServerTest::queryValue(const std::string& dataSource, const std::string& sql) {
  auto session = openSession(dataSource);
  if (!session) return "";
  SQLHSTMT statement = statementOf(*session);
  if (!succeeded(SQLExecDirect(
          statement, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS)) ||
      !succeeded(SQLFetch(statement))) {
    ADD_FAILURE() << sql << "\n" << GetStatementDiagnostic(statement);
    return "";
  }
  char value[4096] = {0};
  SQLLEN indicator = 0;
  SQLGetData(statement, 1, SQL_C_CHAR, value, sizeof value, &indicator);
  return indicator == SQL_NULL_DATA ? "" : value;
}

bool ServerTest::waitForValue(const std::string& dataSource, const std::string& sql,
                              const std::string& expected, std::chrono::seconds limit) {
  return waitFor([&] { return queryValue(dataSource, sql) == expected; }, limit);
}

RunResult ServerTest::fetchFrom(const std::string& dataSource, const std::string& sql) {
  job_.dataSource = dataSource;
  job_.userName = userFor(dataSource);
  job_.password = passwordFor(dataSource);
  return fetch(sql);
}

std::string ServerTest::unique(const std::string& base) {
  return base + "_" + std::to_string(::getpid());
}

std::vector<std::string> ServerTest::typeReport() const {
  return splitLines(readFile(home() + "/lasttablecolumntypeinfo.csv"));
}

std::vector<std::string> ServerTest::typeReportColumns() const {
  std::vector<std::string> columns;
  std::vector<std::string> lines = typeReport();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::size_t end = 0;
    for (int field = 0; field < 5 && end != std::string::npos; ++field) {
      end = lines[i].find(',', end == 0 ? 0 : end + 1);
    }
    columns.push_back(lines[i].substr(0, end));
  }
  return columns;
}

std::string ServerTest::writeJob(const std::string& dataSource, const std::string& user,
                                 const std::string& password, const std::string& sql, bool csv) {
  JobSettings job;
  job.dataSource = dataSource;
  job.userName = user;
  job.password = password;
  job.sql = sql;
  job.outputCsv = csv;
  const std::string path = temp_ / "job.DIRU";
  writeFile(path, formatSettingsFile(job, std::time(nullptr)));
  return path;
}

std::string ServerTest::writeReportJob(const std::string& dataSource,
                                       const std::vector<JobSheet>& sheets,
                                       const std::vector<JobParameter>& parameters, OutputType type,
                                       const std::string& name) {
  JobSettings job;
  job.dataSource = dataSource;
  job.userName = userFor(dataSource);
  job.password = passwordFor(dataSource);
  if (sheets.size() != 1 || !sheets.front().name.empty()) job.sheets = sheets;
  if (!sheets.empty()) job.sql = sheets.front().sql;
  job.parameters = parameters;
  setOutputType(job, type);
  const std::string path = temp_ / name;
  writeFile(path, formatSettingsFile(job, std::time(nullptr)));
  return path;
}

int ServerTest::runRowpress(const std::vector<std::string>& args, int limitSeconds) {
  const ChildResult result =
      support::runRowpress(temp_.path(), args, {}, std::chrono::seconds(limitSeconds));
  if (result.timedOut) ADD_FAILURE() << "rowpress did not end within " << limitSeconds << " s";
  return result.exitStatus;
}

std::vector<std::vector<std::string>> workbookRows(const std::string& workbook) {
  std::vector<std::vector<std::string>> rows;
  bool inRow = false;
  for (const std::string& line : splitLines(workbook)) {
    if (line == "<Row>") {
      rows.emplace_back();
      inRow = true;
    } else if (line == "</Row>") {
      inRow = false;
    } else if (inRow) {
      rows.back().push_back(line);
    }
  }
  return rows;
}

std::string numberCell(std::string_view value) {
  return "    <Cell><Data ss:Type=\"Number\">" + std::string(value) + "</Data></Cell>";
}

std::string stringCell(std::string_view value) {
  return "    <Cell><Data ss:Type=\"String\">" + std::string(value) + "</Data></Cell>";
}

std::string escapeRegex(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (std::string_view(".[]()*+?^$|\\{}").find(c) != std::string_view::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

std::vector<std::string> temporaryLeftovers(const std::string& directory) {
  std::vector<std::string> leftovers;
  for (const std::string& name : listDirectory(directory)) {
    if (name.find(".rowpress-") != std::string::npos) leftovers.push_back(name);
  }
  return leftovers;
}

}  // namespace rowpress::support
