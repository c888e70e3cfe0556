// How a session asks the driver to hand rows over as the server sends them, and to use the
// job's time zone (see SessionTimeZone). Some drivers read the whole result into memory
// before the first row unless the data source sets an option of theirs; a run's memory would then
// grow with the number of rows. When the data source names such a driver and does not set the
// option itself, the session asks for it: PostgreSQL's driver through its own connection
// attributes, set after SQLConnect (so that a failed connect says what it always said), SQLite's
// through a connection string that adds it. PostgreSQL's driver also gets its booleans described as
// BIT (BoolsAsChar=0, an attribute too) unless the data source says otherwise, so that they are
// booleans and not text.
//
// Measured on 200,000 and 2,000,000 rows exported to CSV from data sources written without
// driver options (the run's peak resident memory):
// - PostgreSQL (psqlodbc): 57 MB and 338 MB; with UseDeclareFetch=1 and Fetch=10000, 29 MB
//   for both.
// - SQLite3 ODBC: 33 MB and 272 MB; with StepAPI=1, 6 MB for both.
// - MariaDB Connector/ODBC 3.1.15: 35 MB and 162 MB, whatever it is asked: the option
//   NO_CACHE (OPTIONS=1048576), FORWARDONLY=1, a forward-only read-only cursor, SQLPrepare
//   instead of SQLExecDirect. It reads every result whole; it gets nothing added.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/job_settings.h"
#include "job/secret.h"

namespace rowpress {

// One key of a section of the ODBC configuration, as the driver manager reads it: `file` is
// "odbc.ini" (a data source's section, the user's file before the system's) or
// "odbcinst.ini" (a driver's section). Empty when the key is absent or empty.
using OdbcIniReader =
    std::function<std::string(const char* file, const std::string& section, const char* key)>;

// The reader of the driver manager's own files (SQLGetPrivateProfileString).
std::string readOdbcIni(const char* file, const std::string& section, const char* key);

// A connection string. One that holds a password is kept as a Secret; one without is plain
// text, so that a run without a password stays dumpable.
struct ConnectionString {
  std::string plain;
  Secret withPassword;
  const char* c_str() const { return withPassword.empty() ? plain.c_str() : withPassword.c_str(); }
};

// A connection attribute of the driver's own and its value, set once connected.
struct StreamingAttribute {
  std::int32_t attribute;  // an SQLINTEGER
  std::uint64_t value;     // an SQLULEN
};

// The driver's own connection attributes that ask the job's data source to stream, for the
// options that its driver takes that way and neither the data source's section nor the
// driver's section sets; empty for every other driver.
std::vector<StreamingAttribute> streamingAttributes(const JobSettings& job,
                                                    const OdbcIniReader& read = readOdbcIni);

// The job's time zone as its session sets it, for a data source whose driver is known:
// PostgreSQL's through libpq's options in the driver's pqopt (merged with the pqopt that the
// data source or its driver sets, unless that sets libpq's options itself), MariaDB's through
// the statement "SET time_zone='NAME'" that the driver runs as the session starts (INITSTMT,
// unless the data source or its driver sets one). SQLite has no time zone of a session.
struct SessionTimeZone {
  // The option of the connection string that carries the zone, and its value; an empty key
  // when nothing is added.
  std::string key;
  std::string value;
  // The query whose first value is the session's zone as the database reports it.
  const char* query = nullptr;
  // Why the session cannot be given the zone: a name that is not a zone name, a driver that
  // takes none, a data source that sets the option in a way the zone cannot join. The
  // session then does not connect.
  std::string refusal;
  // The database has no time zone of a session (SQLite): the zone is not used.
  bool noSetting = false;
};

// Nothing when the job sets no time zone.
SessionTimeZone sessionTimeZone(const JobSettings& job, const OdbcIniReader& read = readOdbcIni);

// Why the job's time zone is not a zone name: it may hold only letters, digits, '/', '_',
// '+', '-' and ':' (a named zone, or an offset as +02:00). Nothing for a name or none.
std::optional<std::string> timeZoneProblem(const JobSettings& job);

// The connection string for the job's data source with the streaming options that its driver
// takes in a connection string and neither the data source's section nor the driver's
// section sets, and the option that sets the job's time zone:
// "DSN=NAME;UID=USER;PWD=PASSWORD;OPTION=VALUE...". A value that holds ";", "{" or "}" or
// starts with a space goes between braces, each "}" in it doubled. UID and PWD are left out
// when empty (as the
// drivers ignore an empty user name or password given to SQLConnect, and use the data
// source's). Nothing when there is nothing to add, or when the data source's name or the
// user name would need braces or the name is longer than the driver manager takes (32
// bytes): the session then connects with SQLConnect as it always did. The driver is known by
// its name or by its library, as odbcinst.ini gives it.
std::optional<ConnectionString> sessionConnectionString(const JobSettings& job,
                                                        const OdbcIniReader& read = readOdbcIni);

// SQLite's streaming (StepAPI) describes a column without a declared type (sum(x), count(*),
// a||b) as VARCHAR(255), where its typed mode takes the type from the first row's value. When
// the job's data source streams that way (the session adds the option, or a section sets it),
// the connection string of the same data source in the typed mode ("DSN=...;StepAPI=0"), for
// a second connection that describes such columns; nothing otherwise, or when the names need
// braces (as for sessionConnectionString).
std::optional<ConnectionString> typedModeConnectionString(const JobSettings& job,
                                                          const OdbcIniReader& read = readOdbcIni);

}  // namespace rowpress
