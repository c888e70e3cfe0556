// The short-lived ODBC session that one command opens, uses and releases: an environment, a
// connection and one statement, each owned by a move-only handle that frees itself.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <optional>
#include <string>

#include "job/job_settings.h"

namespace rowpress {

// Owns one ODBC handle; frees it when it goes. Copy is deleted, move empties the source.
class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  ~OdbcHandle() { reset(); }
  OdbcHandle(OdbcHandle&& other) noexcept : type_(other.type_), handle_(other.handle_) {
    other.handle_ = SQL_NULL_HANDLE;
  }
  OdbcHandle& operator=(OdbcHandle&& other) noexcept;
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != SQL_NULL_HANDLE; }
  void reset();

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// Success of an ODBC call: SQL_SUCCESS or SQL_SUCCESS_WITH_INFO.
inline bool succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The lines that report a failing step of opening a session; an empty text reports nothing.
struct SessionMessages {
  const char* environment;
  const char* odbcVersion;
  const char* connectionHandle;
  const char* connect;
  const char* statementHandle;
};

// The fetch command's lines, for the status list.
extern const SessionMessages kFetchSessionMessages;
// The data source selection's lines, for the table list.
extern const SessionMessages kSelectionSessionMessages;

class OdbcSession {
 public:
  OdbcSession() = default;
  ~OdbcSession() { close(); }
  // Moving hands over the handles and the connected state with them: the emptied session
  // owns nothing and disconnects nothing.
  OdbcSession(OdbcSession&& other) noexcept;
  OdbcSession& operator=(OdbcSession&&) noexcept;
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  SQLHENV environment() const { return environment_.get(); }
  SQLHDBC connection() const { return connection_.get(); }
  SQLHSTMT statement() const { return statement_.get(); }
  // A second connection to the same data source in the driver's typed mode, where the
  // session's own streams in a mode that describes columns without a declared type as text
  // (see typedModeConnectionString); SQL_NULL_HDBC otherwise, or when it did not connect.
  SQLHDBC typedConnection() const { return typedConnected_ ? typed_.get() : SQL_NULL_HDBC; }

  // The database that the driver names for SQL_DBMS_NAME ("PostgreSQL", "MariaDB", "SQLite",
  // ...); empty when the driver does not tell it or the session is not connected.
  std::string dbmsName() const;

  // The session's time zone as the database reports it, when the job set one and the
  // database told it; empty otherwise.
  const std::string& timeZone() const { return timeZone_; }
  // The job set a time zone and the database has none of a session (SQLite): it was not used.
  bool timeZoneUnused() const { return timeZoneUnused_; }

  // Releases statement, connection (disconnecting it first) and environment, in that order.
  void close();

 private:
  friend struct SessionOpener;
  OdbcHandle environment_;
  OdbcHandle connection_;
  bool connected_ = false;
  OdbcHandle statement_;
  OdbcHandle typed_;
  bool typedConnected_ = false;
  std::string timeZone_;
  bool timeZoneUnused_ = false;
};

// What a failed OpenSession leaves behind: the failing step's line, for the list of the
// command that opened the session (empty for a step that reports nothing), and, when the
// connect itself failed, the connection's diagnostic line so that an unattended run can log
// why. That line keeps the driver's whole message: drivers put a long
// prefix before the reason, which a cut at 99 bytes would lose.
struct SessionFailure {
  std::string line;
  std::string connectDiagnostic;
};

// Opens environment (ODBC 3), connection, connect with the job's data source and
// credentials (and the job's time zone, see SessionTimeZone), and a statement. A time zone
// that the session cannot be given fails the connect step with the line that says why. On
// failure `failure` tells which step failed and the handles
// obtained so far are already released.
std::optional<OdbcSession> OpenSession(const JobSettings& job, const SessionMessages& messages,
                                       SessionFailure* failure = nullptr);

void CloseSession(OdbcSession& session);

// The rows that an executed statement without a result set (INSERT, UPDATE, DELETE) changed,
// where the driver tells them.
std::optional<long long> AffectedRows(SQLHSTMT statement);

// "[STATE] MESSAGE (NATIVE)\n" from the first diagnostic record of a statement; the message
// is cut to its first 99 bytes. Without a record: "[]  (0)\n".
std::string GetStatementDiagnostic(SQLHSTMT statement);
// The line of a connection that could not connect, with the driver's whole message.
std::string GetConnectionDiagnostic(SQLHDBC connection);
// The same line for any handle, with the message cut to `messageLimit` bytes.
std::string GetDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle, std::size_t messageLimit);

}  // namespace rowpress
