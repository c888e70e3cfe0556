// How a session asks a driver to stream: which drivers get which options, in a connection
// string or as attributes, what an administrator set stays, and values that must be quoted. The
// ODBC configuration is a table here; the server tests measure what the options do.
#include "db/connection_string.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>

namespace rowpress {
namespace {

// An ODBC configuration: file, section and key to value.
using Ini = std::map<std::tuple<std::string, std::string, std::string>, std::string>;

OdbcIniReader readerOf(const Ini& ini) {
  return [&ini](const char* file, const std::string& section, const char* key) {
    const auto found = ini.find({file, section, key});
    return found == ini.end() ? std::string() : found->second;
  };
}

JobSettings jobOn(const std::string& dataSource, const std::string& user = "ann",
                  std::string_view password = "pw") {
  JobSettings job;
  job.dataSource = dataSource;
  job.userName = user;
  job.password = password;
  return job;
}

// How the session connects: the connection string, or "SQLConnect" without one; then each
// attribute set once connected, as " +ATTRIBUTE=VALUE".
std::string connection(const JobSettings& job, const Ini& ini) {
  const std::optional<ConnectionString> text = sessionConnectionString(job, readerOf(ini));
  std::string how = text ? std::string(text->c_str()) : "SQLConnect";
  for (const StreamingAttribute& set : streamingAttributes(job, readerOf(ini))) {
    how += " +" + std::to_string(set.attribute) + "=" + std::to_string(set.value);
  }
  return how;
}

TEST(ConnectionString, TheDriversThatReadWholeResultsAreAskedToStream) {
  const Ini ini = {
      {{"odbc.ini", "pg", "Driver"}, "PostgreSQL Unicode"},
      {{"odbcinst.ini", "PostgreSQL Unicode", "Driver"}, "/usr/lib/odbc/psqlodbcw.so"},
      // Known by the library alone, and a data source that names the library itself.
      {{"odbc.ini", "reports", "Driver"}, "Reports"},
      {{"odbcinst.ini", "Reports", "Driver"}, "/opt/lib/psqlodbca.so"},
      {{"odbc.ini", "direct", "Driver"}, "/opt/lib/libsqlite3odbc.so"},
      {{"odbc.ini", "lite", "Driver"}, "SQLite3"},
      {{"odbc.ini", "maria", "Driver"}, "MariaDB"},
      {{"odbcinst.ini", "MariaDB", "Driver"}, "/usr/lib/odbc/libmaodbc.so"},
  };
  // PostgreSQL's driver: SQLConnect, then its UseDeclareFetch (65539), Fetch (65541) and
  // BoolsAsChar (65545).
  EXPECT_EQ(connection(jobOn("pg"), ini), "SQLConnect +65539=1 +65541=10000 +65545=0");
  EXPECT_EQ(connection(jobOn("reports"), ini), "SQLConnect +65539=1 +65541=10000 +65545=0");
  EXPECT_EQ(connection(jobOn("direct"), ini), "DSN=direct;UID=ann;PWD=pw;StepAPI=1");
  // An empty user name or password is left to the data source, as SQLConnect leaves it.
  EXPECT_EQ(connection(jobOn("lite", "", ""), ini), "DSN=lite;StepAPI=1");
  EXPECT_EQ(connection(jobOn("lite", "", "pw"), ini), "DSN=lite;PWD=pw;StepAPI=1");
  // MariaDB's driver streams for no option; a data source that is not defined, or has no
  // name, is left to the driver manager to refuse as it always did.
  EXPECT_EQ(connection(jobOn("maria"), ini), "SQLConnect");
  EXPECT_EQ(connection(jobOn("nowhere"), ini), "SQLConnect");
  EXPECT_EQ(connection(jobOn(""), ini), "SQLConnect");
}

TEST(ConnectionString, AStreamingSqliteSourceGetsASecondConnectionInTheTypedMode) {
  Ini ini = {
      {{"odbc.ini", "lite", "Driver"}, "SQLite3"},
      {{"odbc.ini", "set", "Driver"}, "SQLite3"},
      {{"odbc.ini", "set", "StepAPI"}, "1"},
      {{"odbc.ini", "typed", "Driver"}, "SQLite3"},
      {{"odbc.ini", "typed", "StepAPI"}, "0"},
      {{"odbc.ini", "pg", "Driver"}, "PostgreSQL ANSI"},
  };
  auto typed = [&](const JobSettings& job) {
    const std::optional<ConnectionString> text = typedModeConnectionString(job, readerOf(ini));
    return text ? std::string(text->c_str()) : "none";
  };
  // Streaming added by the session or set by the data source; not when it reads typed already,
  // nor for another driver.
  EXPECT_EQ(typed(jobOn("lite")), "DSN=lite;UID=ann;PWD=pw;StepAPI=0");
  EXPECT_EQ(typed(jobOn("set", "", "")), "DSN=set;StepAPI=0");
  EXPECT_EQ(typed(jobOn("typed")), "none");
  EXPECT_EQ(typed(jobOn("pg")), "none");
  EXPECT_EQ(typed(jobOn("lite", "a}b")), "none");
}

TEST(ConnectionString, AnOptionThatTheDataSourceOrItsDriverSetsIsNotAdded) {
  Ini ini = {
      {{"odbc.ini", "pg", "Driver"}, "PostgreSQL ANSI"},
      {{"odbc.ini", "pg", "Fetch"}, "1"},
      {{"odbc.ini", "lite", "Driver"}, "SQLite3"},
      {{"odbc.ini", "lite", "StepAPI"}, "0"},
  };
  EXPECT_EQ(connection(jobOn("pg"), ini), "SQLConnect +65539=1 +65545=0");
  // Nothing left to add: the data source connects as it always did.
  EXPECT_EQ(connection(jobOn("lite"), ini), "SQLConnect");
  // The driver's section of odbcinst.ini holds the defaults of all its data sources.
  ini[{"odbcinst.ini", "PostgreSQL ANSI", "UseDeclareFetch"}] = "0";
  ini[{"odbcinst.ini", "PostgreSQL ANSI", "BoolsAsChar"}] = "1";
  EXPECT_EQ(connection(jobOn("pg"), ini), "SQLConnect");
}

TEST(ConnectionString, ValuesThatHoldTheStringsSyntaxGoBetweenBraces) {
  const Ini ini = {
      {{"odbc.ini", "lite", "Driver"}, "SQLite3"},
      {{"odbc.ini", "a;b", "Driver"}, "SQLite3"},
      {{"odbc.ini", "abcdefghijklmnopqrstuvwxyz0123456", "Driver"}, "SQLite3"},
  };
  auto withPassword = [&](std::string_view password) {
    return connection(jobOn("lite", "ann", password), ini);
  };
  EXPECT_EQ(withPassword("a;b"), "DSN=lite;UID=ann;PWD={a;b};StepAPI=1");
  EXPECT_EQ(withPassword("}a{b}}"), "DSN=lite;UID=ann;PWD={}}a{b}}}}};StepAPI=1");
  EXPECT_EQ(withPassword(" ab"), "DSN=lite;UID=ann;PWD={ ab};StepAPI=1");
  // Blanks elsewhere, "=" and bytes beyond ASCII need no braces.
  EXPECT_EQ(withPassword("a b =\xC3\xA9 "), "DSN=lite;UID=ann;PWD=a b =\xC3\xA9 ;StepAPI=1");
  // A driver may take braces around a data source's or user's name as part of it, and the
  // driver manager takes names of at most 32 bytes in a string: such a session connects as
  // it always did.
  EXPECT_EQ(connection(jobOn("a;b"), ini), "SQLConnect");
  EXPECT_EQ(connection(jobOn("lite", " ann"), ini), "SQLConnect");
  EXPECT_EQ(connection(jobOn("lite", "a}b"), ini), "SQLConnect");
  EXPECT_EQ(connection(jobOn("abcdefghijklmnopqrstuvwxyz0123456"), ini), "SQLConnect");
}

// The job's time zone goes into the connection string as the data source's driver takes it,
// joined with what the data source sets where it can be; otherwise the session is refused and
// says why, never connected without the zone.
TEST(ConnectionString, TheTimeZoneIsSetThroughTheDriverOrTheSessionIsRefused) {
  const Ini ini = {
      {{"odbc.ini", "pg", "Driver"}, "PostgreSQL ANSI"},
      {{"odbc.ini", "pg-ssl", "Driver"}, "PostgreSQL ANSI"},
      {{"odbc.ini", "pg-ssl", "pqopt"}, "sslmode=require"},
      {{"odbc.ini", "pg-own", "Driver"}, "PostgreSQL ANSI"},
      {{"odbc.ini", "pg-own", "pqopt"}, "options='-c search_path=app'"},
      {{"odbc.ini", "maria", "Driver"}, "MariaDB"},
      {{"odbcinst.ini", "MariaDB", "Driver"}, "/usr/lib/odbc/libmaodbc.so"},
      {{"odbc.ini", "maria-init", "Driver"}, "MariaDB"},
      {{"odbc.ini", "maria-init", "INITSTMT"}, "SET NAMES utf8mb4"},
      {{"odbc.ini", "lite", "Driver"}, "SQLite3"},
      {{"odbc.ini", "other", "Driver"}, "Oracle 21"},
  };
  // How the session connects, or "refused: WHY"; "no setting" where the database has none.
  auto zoned = [&](const std::string& dataSource, const std::string& zone,
                   const std::string& user = "ann") {
    JobSettings job = jobOn(dataSource, user);
    job.timeZone = zone;
    const SessionTimeZone set = sessionTimeZone(job, readerOf(ini));
    if (!set.refusal.empty()) return "refused: " + set.refusal;
    if (set.noSetting) return std::string("no setting");
    return connection(job, ini) + (set.query ? std::string(" ? ") + set.query : "");
  };
  EXPECT_EQ(zoned("pg", "Europe/Berlin"),
            "DSN=pg;UID=ann;PWD=pw;pqopt=options='-c TimeZone=Europe/Berlin' "
            "+65539=1 +65541=10000 +65545=0 ? SHOW TimeZone");
  // libpq's other options stay: the string's pqopt replaces the data source's.
  EXPECT_EQ(zoned("pg-ssl", "+02:00"),
            "DSN=pg-ssl;UID=ann;PWD=pw;pqopt=sslmode=require options='-c TimeZone=+02:00' "
            "+65539=1 +65541=10000 +65545=0 ? SHOW TimeZone");
  EXPECT_EQ(zoned("pg-own", "UTC"),
            "refused: The data source \"pg-own\" sets libpq's options in its pqopt itself; set "
            "the time zone there, or take options out of pqopt to set TimeZone.");
  EXPECT_EQ(zoned("maria", "-05:30"),
            "DSN=maria;UID=ann;PWD=pw;INITSTMT=SET time_zone='-05:30' ? SELECT "
            "@@session.time_zone");
  EXPECT_EQ(zoned("maria-init", "UTC"),
            "refused: The data source \"maria-init\" runs a statement of its own as the session "
            "starts (INITSTMT); set the time zone there, or take INITSTMT out to set TimeZone.");
  EXPECT_EQ(zoned("lite", "UTC"), "no setting");
  EXPECT_EQ(zoned("other", "UTC"),
            "refused: The data source \"other\" has no driver whose time zone rowpress knows "
            "how to set; leave TimeZone out for it.");
  // A name that could end the string or the statement never reaches either.
  // Nor one with a NUL byte or a byte that a Latin-1 locale calls a letter.
  for (const std::string& name :
       {std::string("UTC' or '1"), std::string("Europe/Berlin;x"), std::string("a b"),
        std::string("UTC}"), std::string("UTC\0Europe", 10), std::string("Z\xE9rich")}) {
    EXPECT_EQ(zoned("maria", name), "refused: The time zone \"" + name +
                                        "\" is not a zone name: it may hold letters, digits "
                                        "and / _ + - : only.");
  }
  EXPECT_EQ(zoned("maria", "UTC", "a}b"),
            "refused: The data source \"maria\" or its user name cannot be named in a "
            "connection string, which the time zone needs.");
  // Without a zone nothing changes.
  EXPECT_EQ(zoned("maria", ""), "SQLConnect");
}

}  // namespace
}  // namespace rowpress
