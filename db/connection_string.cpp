#include "db/connection_string.h"

#include <odbcinst.h>
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

#include "db/postgres_attributes.h"

namespace rowpress {

namespace {

struct StreamingOption {
  const char* key;
  const char* value;
  // The driver's connection attribute that sets it after connecting, or 0: then it goes into
  // the connection string.
  SQLINTEGER attribute = 0;
  // For an option whose streaming describes a column without a declared type as text: the
  // value that gives the driver's typed mode, which takes such a column's type from its value.
  const char* typedValue = nullptr;
};

// A driver that reads whole results unless told otherwise, known by a part of its name or of
// its library's file name (compared without regard to case), and the options that make it
// stream.
struct StreamingDriver {
  const char* namePart;
  const char* libraryPart;
  std::array<StreamingOption, 3> options;  // a null key ends the list early
};

constexpr std::array<StreamingDriver, 2> kStreamingDrivers = {{
    // A server-side cursor fetched 10,000 rows at a time; booleans described as the driver's
    // BIT type rather than as text, so that they stay booleans.
    {"postgresql",
     "psqlodbc",
     {{{"UseDeclareFetch", "1", kPgUseDeclareFetch},
       {"Fetch", "10000", kPgFetch},
       {"BoolsAsChar", "0", kPgBoolsAsChar}}}},
    // Rows stepped through as SQLite produces them.
    {"sqlite3",
     "sqlite3odbc",
     {{{"StepAPI", "1", 0, "0"}, {nullptr, nullptr}, {nullptr, nullptr}}}},
}};

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) ==
                  std::tolower(static_cast<unsigned char>(b));
         }) != text.end();
}

bool needsBraces(std::string_view value) {
  return value.find_first_of(";{}") != std::string_view::npos ||
         (!value.empty() && value.front() == ' ');
}

// Adds ";KEY=VALUE" (no ";" before the first pair), the value quoted as it must be. `Text` is
// a std::string or, for a string that holds the password, a Secret.
template <class Text>
void appendPair(Text& text, std::string_view key, std::string_view value) {
  if (!text.empty()) text.append(";");
  text.append(key).append("=");
  if (!needsBraces(value)) {
    text.append(value);
    return;
  }
  text.append("{");
  for (std::size_t start = 0; start < value.size();) {
    const std::size_t brace = value.find('}', start);
    if (brace == std::string_view::npos) {
      text.append(value.substr(start));
      break;
    }
    text.append(value.substr(start, brace + 1 - start)).append("}");
    start = brace + 1;
  }
  text.append("}");
}

// An option of a connection string and its value.
using Pair = std::pair<std::string, std::string>;

template <class Text>
void build(Text& text, const JobSettings& job, const std::vector<Pair>& options) {
  appendPair(text, "DSN", job.dataSource);
  if (!job.userName.empty()) appendPair(text, "UID", job.userName);
  if (!job.password.empty()) appendPair(text, "PWD", job.password.view());
  for (const auto& [key, value] : options) appendPair(text, key, value);
}

// A driver whose session takes a time zone: the option of the connection string that carries
// it (none: the database has no session time zone) and the query that asks the session for it.
struct ZoneDriver {
  const char* namePart;
  const char* libraryPart;
  const char* key;
  const char* query;
};

constexpr std::array<ZoneDriver, 3> kZoneDrivers = {{
    // libpq's options, which the driver passes on from its pqopt.
    {"postgresql", "psqlodbc", "pqopt", "SHOW TimeZone"},
    // A statement that the driver runs as the session starts.
    {"mariadb", "maodbc", "INITSTMT", "SELECT @@session.time_zone"},
    {"sqlite3", "sqlite3odbc", nullptr, nullptr},
}};

}  // namespace

std::string readOdbcIni(const char* file, const std::string& section, const char* key) {
  // The data sources of both files, the user's first, as the driver manager looks them up.
  UWORD mode = ODBC_BOTH_DSN;
  const bool modeKnown = SQLGetConfigMode(&mode);
  SQLSetConfigMode(ODBC_BOTH_DSN);
  char value[1024] = {0};
  const int length =
      SQLGetPrivateProfileString(section.c_str(), key, "", value, sizeof value, file);
  if (modeKnown) SQLSetConfigMode(mode);
  return length > 0 ? std::string(value) : std::string();
}

namespace {

// The row of `drivers` for the driver that the job's data source names, with the driver's
// section; nothing for another driver.
template <class Drivers>
const typename Drivers::value_type* knownDriver(const Drivers& drivers, const JobSettings& job,
                                                const OdbcIniReader& read, std::string& driver) {
  if (job.dataSource.empty()) return nullptr;
  driver = read("odbc.ini", job.dataSource, "Driver");
  if (driver.empty()) return nullptr;
  // A data source names a driver of odbcinst.ini, or the library itself.
  const std::string library = read("odbcinst.ini", driver, "Driver");
  const auto known = std::find_if(drivers.begin(), drivers.end(), [&](const auto& d) {
    return containsIgnoringCase(driver, d.namePart) ||
           containsIgnoringCase(driver, d.libraryPart) ||
           containsIgnoringCase(library, d.libraryPart);
  });
  return known == drivers.end() ? nullptr : &*known;
}

const StreamingDriver* driverOf(const JobSettings& job, const OdbcIniReader& read,
                                std::string& driver) {
  return knownDriver(kStreamingDrivers, job, read, driver);
}

// What the data source's section, else its driver's, sets the option to; empty when neither.
std::string setValue(const JobSettings& job, const std::string& driver, const char* key,
                     const OdbcIniReader& read) {
  std::string value = read("odbc.ini", job.dataSource, key);
  return value.empty() ? read("odbcinst.ini", driver, key) : value;
}

// The streaming options that the job's data source needs and neither its section nor its
// driver's sets.
std::vector<StreamingOption> missingOptions(const JobSettings& job, const OdbcIniReader& read) {
  std::string driver;
  const StreamingDriver* known = driverOf(job, read, driver);
  if (known == nullptr) return {};
  std::vector<StreamingOption> options;
  for (const StreamingOption& option : known->options) {
    if (!option.key) break;
    // What an administrator set, in either place and to whatever value, stays as it is.
    if (setValue(job, driver, option.key, read).empty()) options.push_back(option);
  }
  return options;
}

// Whether a data source and user can be named in a connection string as they are.
bool fitsAString(const JobSettings& job) {
  return job.dataSource.size() <= SQL_MAX_DSN_LENGTH && !needsBraces(job.dataSource) &&
         !needsBraces(job.userName);
}

ConnectionString connectionString(const JobSettings& job, const std::vector<Pair>& options) {
  ConnectionString connection;
  if (job.password.empty()) {
    build(connection.plain, job, options);
  } else {
    build(connection.withPassword, job, options);
  }
  return connection;
}

}  // namespace

std::vector<StreamingAttribute> streamingAttributes(const JobSettings& job,
                                                    const OdbcIniReader& read) {
  std::vector<StreamingAttribute> attributes;
  for (const StreamingOption& option : missingOptions(job, read)) {
    if (option.attribute != 0) {
      attributes.push_back({option.attribute, std::stoul(option.value)});
    }
  }
  return attributes;
}

std::optional<std::string> timeZoneProblem(const JobSettings& job) {
  // ASCII letters and digits only, whatever the process's locale calls a letter.
  const bool nameOnly = std::all_of(job.timeZone.begin(), job.timeZone.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("/_+-:", c) != nullptr);
  });
  if (nameOnly) return std::nullopt;
  return "The time zone \"" + job.timeZone +
         "\" is not a zone name: it may hold letters, digits and / _ + - : only.";
}

SessionTimeZone sessionTimeZone(const JobSettings& job, const OdbcIniReader& read) {
  SessionTimeZone zone;
  if (job.timeZone.empty()) return zone;
  // The name goes into a connection string and a statement as it is: never one that could
  // end either.
  if (std::optional<std::string> problem = timeZoneProblem(job)) {
    zone.refusal = std::move(*problem);
    return zone;
  }
  std::string driver;
  const ZoneDriver* known = knownDriver(kZoneDrivers, job, read, driver);
  const std::string source = "The data source \"" + job.dataSource + "\"";
  if (known == nullptr) {
    zone.refusal = source + " has no driver whose time zone rowpress knows how to set; leave " +
                   "TimeZone out for it.";
    return zone;
  }
  if (known->key == nullptr) {
    zone.noSetting = true;
    return zone;
  }
  if (!fitsAString(job)) {
    zone.refusal = source + " or its user name cannot be named in a connection string, which " +
                   "the time zone needs.";
    return zone;
  }
  // What the data source or its driver sets already is kept: libpq's other options are
  // merged with the zone; options of their own, or a statement of their own, would be
  // replaced by it, so the session is refused instead.
  const std::string set = setValue(job, driver, known->key, read);
  if (std::string_view(known->key) == "pqopt") {
    if (containsIgnoringCase(set, "options")) {
      zone.refusal = source + " sets libpq's options in its pqopt itself; set the time zone " +
                     "there, or take options out of pqopt to set TimeZone.";
      return zone;
    }
    zone.value = set.empty() ? "" : set + " ";
    zone.value += "options='-c TimeZone=" + job.timeZone + "'";
  } else {
    if (!set.empty()) {
      zone.refusal = source + " runs a statement of its own as the session starts (" + known->key +
                     "); set the time zone there, or take " + known->key + " out to set TimeZone.";
      return zone;
    }
    zone.value = "SET time_zone='" + job.timeZone + "'";
  }
  zone.key = known->key;
  zone.query = known->query;
  return zone;
}

std::optional<ConnectionString> sessionConnectionString(const JobSettings& job,
                                                        const OdbcIniReader& read) {
  if (!fitsAString(job)) return std::nullopt;
  std::vector<Pair> options;
  for (const StreamingOption& option : missingOptions(job, read)) {
    if (option.attribute == 0) options.emplace_back(option.key, option.value);
  }
  if (const SessionTimeZone zone = sessionTimeZone(job, read); !zone.key.empty()) {
    options.emplace_back(zone.key, zone.value);
  }
  if (options.empty()) return std::nullopt;
  return connectionString(job, options);
}

std::optional<ConnectionString> typedModeConnectionString(const JobSettings& job,
                                                          const OdbcIniReader& read) {
  std::string driver;
  const StreamingDriver* known = fitsAString(job) ? driverOf(job, read, driver) : nullptr;
  if (known == nullptr) return std::nullopt;
  for (const StreamingOption& option : known->options) {
    if (!option.key || !option.typedValue) continue;
    // Streaming when the session adds the option, or when it is set to anything but the
    // typed mode's value.
    const std::string value = setValue(job, driver, option.key, read);
    if (value != option.typedValue) {
      return connectionString(job, {{option.key, option.typedValue}});
    }
  }
  return std::nullopt;
}

}  // namespace rowpress
