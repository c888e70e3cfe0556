#include "db/odbc_session.h"

#include <cstring>
#include <utility>

#include "db/connection_string.h"
#include "db/odbc_handles.h"

namespace rowpress {

const SessionMessages kFetchSessionMessages = {
    "Unable to Create SQL Env Handle", "did not set Env Attribute to ODBC3",
    "did not allocate DBC handle", "did not connect", "did not allocate Statement handle"};

const SessionMessages kSelectionSessionMessages = {
    "", "did not allocate first handle", "did not allocate second handle", "did not connect",
    "did not allocate last handle"};

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept {
  if (this != &other) {
    reset();
    type_ = other.type_;
    handle_ = other.handle_;
    other.handle_ = SQL_NULL_HANDLE;
  }
  return *this;
}

void OdbcHandle::reset() {
  if (handle_ != SQL_NULL_HANDLE) {
    SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
  }
}

OdbcSession::OdbcSession() : handles_(std::make_unique<SessionHandles>()) {}

OdbcSession::~OdbcSession() { close(); }

const SessionHandles& OdbcSession::handles() const {
  static const SessionHandles none;
  return handles_ ? *handles_ : none;
}

OdbcSession::OdbcSession(OdbcSession&& other) noexcept = default;

OdbcSession& OdbcSession::operator=(OdbcSession&& other) noexcept {
  if (this != &other) {
    close();
    handles_ = std::move(other.handles_);
    timeZone_ = std::move(other.timeZone_);
    timeZoneUnused_ = other.timeZoneUnused_;
  }
  return *this;
}

void OdbcSession::close() {
  if (!handles_) return;  // moved from: it owns nothing
  SessionHandles& h = *handles_;
  if (h.typedConnected && h.typed) SQLDisconnect(h.typed.get());
  h.typedConnected = false;
  h.typed.reset();
  h.statement.reset();
  // Only the session that holds the connection handle disconnects it.
  if (h.connected && h.connection) SQLDisconnect(h.connection.get());
  h.connected = false;
  h.connection.reset();
  h.environment.reset();
}

void CloseSession(OdbcSession& session) { session.close(); }

std::string OdbcSession::dbmsName() const {
  if (!handles_ || !handles_->connected) return {};
  SQLCHAR name[256] = {0};
  SQLSMALLINT length = 0;
  if (!succeeded(
          SQLGetInfo(handles_->connection.get(), SQL_DBMS_NAME, name, sizeof name, &length))) {
    return {};
  }
  return reinterpret_cast<const char*>(name);
}

// Builds a session step by step; kept as a friend so that OdbcSession stays closed to others.
struct SessionOpener {
  static std::optional<OdbcSession> open(const JobSettings& job, const SessionMessages& messages,
                                         SessionFailure* failure) {
    OdbcSession session;
    auto fail = [&](const char* line) -> std::optional<OdbcSession> {
      if (failure && line) failure->line = line;
      session.close();
      return std::nullopt;
    };

    SQLHANDLE handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle))) {
      return fail(messages.environment);
    }
    session.handles_->environment = OdbcHandle(SQL_HANDLE_ENV, handle);
    if (!succeeded(SQLSetEnvAttr(handle, SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
      return fail(messages.odbcVersion);
    }
    handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environmentOf(session), &handle))) {
      return fail(messages.connectionHandle);
    }
    session.handles_->connection = OdbcHandle(SQL_HANDLE_DBC, handle);
    // Drivers honour the limits unevenly; where they do, they end a login or a statement a
    // second after the run's own watchdog would have, so that the watchdog reports it.
    // A driver that refuses the attributes is left to the watchdog alone.
    const auto driverLimit = static_cast<SQLULEN>(job.timeoutSeconds) + 1;
    if (job.timeoutSeconds > 0) {
      SQLSetConnectAttr(connectionOf(session), SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(driverLimit), 0);
    }
    // A driver that would read whole results and takes the option that makes it stream in a
    // connection string gets it there, as does the job's time zone; any other connects with
    // the data source, user name and password alone. A time zone that the session cannot be
    // given ends the connect step before anything is sent.
    const SessionTimeZone zone = sessionTimeZone(job);
    if (!zone.refusal.empty()) {
      if (failure) failure->line = zone.refusal;
      session.close();
      return std::nullopt;
    }
    const SQLRETURN connected = connect(connectionOf(session), job);
    if (!succeeded(connected)) {
      if (failure) {
        failure->connectDiagnostic = GetConnectionDiagnostic(connectionOf(session));
      }
      return fail(messages.connect);
    }
    configureConnected(session, job, zone);
    handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connectionOf(session), &handle))) {
      return fail(messages.statementHandle);
    }
    session.handles_->statement = OdbcHandle(SQL_HANDLE_STMT, handle);
    if (job.timeoutSeconds > 0) {
      SQLSetStmtAttr(handle, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(driverLimit), 0);
    }
    return session;
  }

  // Connects `dbc` with the job's data source and credentials: through a connection
  // string where the driver takes options there (see sessionConnectionString), else with
  // the data source, user name and password alone.
  static SQLRETURN connect(SQLHDBC dbc, const JobSettings& job) {
    // Empty texts go as empty strings, never as null pointers.
    auto text = [](const auto& s) {
      return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
    };
    if (const std::optional<ConnectionString> connection = sessionConnectionString(job)) {
      // The driver writes the completed string, password included, into `completed`.
      SQLCHAR completed[1024];
      SQLSMALLINT completedLength = 0;
      const SQLRETURN connected = SQLDriverConnect(
          dbc, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection->c_str())), SQL_NTS,
          completed, sizeof completed, &completedLength, SQL_DRIVER_NOPROMPT);
      wipeBytes(completed, sizeof completed);
      return connected;
    }
    return SQLConnect(dbc, text(job.dataSource), SQL_NTS, text(job.userName), SQL_NTS,
                      text(job.password), SQL_NTS);
  }

  // What a session is given once it connected: the time zone it reports, the driver's own
  // attributes, the second connection in the typed mode.
  static void configureConnected(OdbcSession& session, const JobSettings& job,
                                 const SessionTimeZone& zone) {
    session.handles_->connected = true;
    session.timeZoneUnused_ = zone.noSetting;
    if (zone.query) session.timeZone_ = firstValue(connectionOf(session), zone.query);
    // Options that the driver takes as attributes of its own, before the statement exists;
    // a driver that refuses one still exports, as it always did.
    for (const StreamingAttribute& option : streamingAttributes(job)) {
      SQLSetConnectAttr(connectionOf(session), option.attribute,
                        reinterpret_cast<SQLPOINTER>(option.value), SQL_IS_UINTEGER);
    }
    connectTyped(session, job);
  }

  // The first value of the first row of `query`, as text; empty when it gives none.
  static std::string firstValue(SQLHDBC connection, const char* query) {
    SQLHANDLE handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_STMT, connection, &handle))) return {};
    OdbcHandle statement(SQL_HANDLE_STMT, handle);
    SQLCHAR value[256] = {0};
    SQLLEN length = 0;
    if (!succeeded(
            SQLExecDirect(handle, reinterpret_cast<SQLCHAR*>(const_cast<char*>(query)), SQL_NTS)) ||
        !succeeded(SQLFetch(handle)) ||
        !succeeded(SQLGetData(handle, 1, SQL_C_CHAR, value, sizeof value, &length)) || length < 0) {
      return {};
    }
    SQLFreeStmt(handle, SQL_CLOSE);
    return reinterpret_cast<const char*>(value);
  }

  // The second connection in the typed mode, where the data source streams in a mode that
  // hides types; a session whose second connection fails goes on with the types it has.
  static void connectTyped(OdbcSession& session, const JobSettings& job) {
    const std::optional<ConnectionString> connection = typedModeConnectionString(job);
    if (!connection) return;
    SQLHANDLE handle = SQL_NULL_HANDLE;
    if (!succeeded(SQLAllocHandle(SQL_HANDLE_DBC, environmentOf(session), &handle))) return;
    session.handles_->typed = OdbcHandle(SQL_HANDLE_DBC, handle);
    SQLCHAR completed[1024];
    SQLSMALLINT completedLength = 0;
    session.handles_->typedConnected = succeeded(SQLDriverConnect(
        handle, nullptr, reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection->c_str())),
        SQL_NTS, completed, sizeof completed, &completedLength, SQL_DRIVER_NOPROMPT));
    wipeBytes(completed, sizeof completed);
    if (!session.handles_->typedConnected) session.handles_->typed.reset();
  }
};

std::optional<OdbcSession> OpenSession(const JobSettings& job, const SessionMessages& messages,
                                       SessionFailure* failure) {
  return SessionOpener::open(job, messages, failure);
}

std::string GetDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle, std::size_t messageLimit) {
  SQLCHAR state[6] = {0};
  SQLINTEGER native = 0;
  std::string message(messageLimit + 1, '\0');
  SQLSMALLINT length = 0;
  SQLRETURN rc = SQLGetDiagRec(handleType, handle, 1, state, &native,
                               reinterpret_cast<SQLCHAR*>(message.data()),
                               static_cast<SQLSMALLINT>(message.size()), &length);
  if (!succeeded(rc)) {
    state[0] = 0;
    message[0] = 0;
    native = 0;
  }
  message.resize(std::strlen(message.c_str()));
  // A message cut by the buffer must not end in part of a character.
  if (static_cast<std::size_t>(length) > messageLimit) {
    message.resize(cutOnCharacterBoundary(message, message.size(), TextEnd::CutOff));
  }
  return "[" + std::string(reinterpret_cast<char*>(state)) + "] " + message + " (" +
         std::to_string(native) + ")\n";
}

std::string GetConnectionDiagnostic(SQLHDBC connection) {
  std::string line = GetDiagnostic(SQL_HANDLE_DBC, connection, SQL_MAX_MESSAGE_LENGTH);
  // Some drivers end their message with a line break of their own; the log line has one.
  const std::size_t tail = line.rfind(" (");
  std::size_t end = tail;
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
  return line.erase(end, tail - end);
}

std::optional<long long> AffectedRows(SQLHSTMT statement) {
  SQLLEN affected = -1;
  if (!succeeded(SQLRowCount(statement, &affected)) || affected < 0) return std::nullopt;
  return static_cast<long long>(affected);
}

std::string GetStatementDiagnostic(SQLHSTMT statement) {
  // The statement's line shows the first 99 bytes of the message, as its 100-byte buffer
  // holds them.
  return GetDiagnostic(SQL_HANDLE_STMT, statement, 99);
}

}  // namespace rowpress
