// The short-lived ODBC session that one command opens, uses and releases: an environment, a
// connection and one statement, each owned by a move-only handle that frees itself. The
// handles are db/'s own (db/odbc_handles.h): the floors above see a session, not ODBC.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "job/job_settings.h"

namespace rowpress {

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

struct SessionHandles;

class OdbcSession {
 public:
  OdbcSession();
  ~OdbcSession();
  // Moving hands over the handles and the connected state with them: the emptied session
  // owns nothing and disconnects nothing.
  OdbcSession(OdbcSession&& other) noexcept;
  OdbcSession& operator=(OdbcSession&&) noexcept;
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  // The session's ODBC handles, for db/'s own code (db/odbc_handles.h); none once the session
  // was moved from.
  const SessionHandles& handles() const;

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
  std::unique_ptr<SessionHandles> handles_;
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

}  // namespace rowpress
