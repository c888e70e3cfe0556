// The fixture of the tests against real database servers: the private ODBC configuration of
// RunTest, plus the PostgreSQL drivers (ANSI and Unicode) and the MariaDB driver, and data
// sources on the throwaway servers that tests/servers/start.sh started. A test fails, never
// skips, when the servers or a driver are missing.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/odbc_session.h"
#include "tests/servers/server_support.h"
#include "tests/support/child_process.h"
#include "tests/support/run_fixture.h"

namespace rowpress::support {

// PostgreSQL through the ANSI driver, rows streamed by a cursor (UseDeclareFetch=1,
// Fetch=10000); the login role's credentials are in the data source.
inline constexpr char kPgAnsi[] = "pg-ansi";
// PostgreSQL through the Unicode driver, written without driver options.
inline constexpr char kPgUnicode[] = "pg-unicode";
// PostgreSQL through the ANSI driver with booleans, text and bytea as their own ODBC types
// (BoolsAsChar=0, TextAsLongVarchar=0, ByteaAsLongVarBinary=0).
inline constexpr char kPgPlainTypes[] = "pg-plain-types";
// PostgreSQL through the ANSI driver, fetching one row from the server at a time (Fetch=1),
// so that each row comes as soon as the server has it.
inline constexpr char kPgRowByRow[] = "pg-row-by-row";
// PostgreSQL without credentials in the data source: the job brings them.
inline constexpr char kPgLogin[] = "pg-login";
// PostgreSQL, a database that the server does not have.
inline constexpr char kPgNoDatabase[] = "pg-no-database";
// MariaDB with the driver's default settings (its connection character set is utf8mb4).
// The MariaDB driver takes the user name and password that SQLConnect passes, empty ones
// too, over those of the data source, so the job always brings them.
inline constexpr char kMariaDb[] = "mariadb";

class ServerTest : public RunTest {
 protected:
  void SetUp() override;

  const ServerFacts& facts() const { return serverFacts(); }
  // The user name and password that the job uses on `dataSource`.
  std::string userFor(const std::string& dataSource) const;
  std::string passwordFor(const std::string& dataSource) const;
  // The lines of a PostgreSQL data source on the shared server for `driver`.
  std::string postgresSection(const std::string& driver, const std::string& database,
                              bool withCredentials) const;

  // A session on `dataSource` with the job's credentials; fails the test when none opens.
  std::optional<OdbcSession> openSession(const std::string& dataSource);
  // Runs statements through ODBC with the job's credentials for `dataSource`; fails the
  // test when one fails.
  void run(const std::string& dataSource, const std::string& sql);
  // The first column of the first row of a query, as text.
  std::string queryValue(const std::string& dataSource, const std::string& sql);
  // Asks the query again until its value is `expected`; false when `limit` passed first.
  bool waitForValue(const std::string& dataSource, const std::string& sql,
                    const std::string& expected, std::chrono::seconds limit);

  // A job on `dataSource` with its credentials and this SQL, through the dialog logic.
  RunResult fetchFrom(const std::string& dataSource, const std::string& sql);

  // `base` made unique to this test process, for tables on the shared servers.
  static std::string unique(const std::string& base);

  // The lines of the column type report, without their CR LF.
  std::vector<std::string> typeReport() const;
  // The first five fields of the report's column lines: number, name, type, size, scale.
  std::vector<std::string> typeReportColumns() const;

  // Writes a settings file for the unattended run of `sql` on `dataSource`, with the given
  // credentials, and returns its path.
  std::string writeJob(const std::string& dataSource, const std::string& user,
                       const std::string& password, const std::string& sql, bool csv = false);
  // The same for a report job on `dataSource` with its credentials: its sheets (a single one
  // without a name makes a job of one statement), the values of its markers and its output
  // type, written to `name` in the test's directory.
  std::string writeReportJob(const std::string& dataSource, const std::vector<JobSheet>& sheets,
                             const std::vector<JobParameter>& parameters, OutputType type,
                             const std::string& name = "report.DIRU");
  // Runs the executable with these arguments within `limit` seconds; its standard output
  // and error are kept for stdoutText() and stderrText().
  int runRowpress(const std::vector<std::string>& args, int limitSeconds = 60);
  // What the last child started in the test's directory printed.
  std::string stdoutText() const { return readFile(temp_ / "child.stdout"); }
  std::string stderrText() const { return readFile(temp_ / "child.stderr"); }
};

// The rows of a workbook, header row first; each row is the list of its cell lines.
std::vector<std::vector<std::string>> workbookRows(const std::string& workbook);
// The cell lines that the workbook writer writes.
std::string numberCell(std::string_view value);
std::string stringCell(std::string_view value);
inline constexpr char kBinaryCell[] = "<Cell><Data ss:Type=\"String\">&lt;BINARY&gt;</Data></Cell>";

// `text` with every character that a regular expression treats specially escaped.
std::string escapeRegex(const std::string& text);

// The names in a directory that hold ".rowpress-": temporary output files left behind.
std::vector<std::string> temporaryLeftovers(const std::string& directory);

}  // namespace rowpress::support
