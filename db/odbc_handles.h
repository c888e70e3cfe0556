// The ODBC handles of a session and the helpers around them, for db/'s own code: the floors
// above reach the driver through OdbcSession and ResultCursor, and never include this header.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <optional>
#include <string>

#include "db/odbc_session.h"

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

// The handles of an open session. Only the session that holds the connection handle
// disconnects it.
struct SessionHandles {
  OdbcHandle environment;
  OdbcHandle connection;
  bool connected = false;
  OdbcHandle statement;
  // A second connection to the same data source in the driver's typed mode, where the
  // session's own streams in a mode that describes columns without a declared type as text
  // (see typedModeConnectionString).
  OdbcHandle typed;
  bool typedConnected = false;
};

inline SQLHENV environmentOf(const OdbcSession& session) {
  return session.handles().environment.get();
}
inline SQLHDBC connectionOf(const OdbcSession& session) {
  return session.handles().connection.get();
}
inline SQLHSTMT statementOf(const OdbcSession& session) {
  return session.handles().statement.get();
}
// The typed-mode connection; SQL_NULL_HDBC where there is none or it did not connect.
inline SQLHDBC typedConnectionOf(const OdbcSession& session) {
  const SessionHandles& handles = session.handles();
  return handles.typedConnected ? handles.typed.get() : SQL_NULL_HDBC;
}

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

// Whether the driver of `connection` can be interrupted with SQLCancel from another thread
// while a statement executes. Known only for the PostgreSQL driver, which sends the server a
// cancel request on a connection of its own. The MariaDB driver unlocks a mutex that the
// executing thread holds and writes the statement's memory under it; the SQLite driver frees
// the cursor under a running statement; drivers not known are not cancelled either. Those
// runs end after the grace period, their temporary files removed for them.
bool driverCancelsSafely(SQLHDBC connection);

}  // namespace rowpress
